#include "bench/io_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

std::string Line(int64_t us, const char* dir, const std::string& bytes) {
  return std::to_string(us) + " " + dir + " " + std::to_string(bytes.size()) + " " + Hex(bytes) +
         "\n";
}

class IoLogTest : public testing::Test {
 protected:
  IoLogTest() {
    char pattern[] = "/tmp/velmora-io-log-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path_ = pattern;
  }
  ~IoLogTest() override { unlink(path_.c_str()); }

  void Write(const std::string& text) { std::ofstream(path_) << text; }

  std::string path_;
};

// A request whose reply crossed in two chunks, answered by a full block and
// a short one; the full block's length byte is 0, and its data holds what
// looks like a block's head.
TEST_F(IoLogTest, ReadsRequestsBlocksAndTheLastCompleteImage) {
  std::string full = std::string(".BT\0\0\x80\0\0", 8) + std::string(".BT\0\0\x90\0\x10", 8);
  full += std::string(256 - 8, 'x');
  const std::string tail = std::string(".BT\0\0\x81\0\x01", 8) + "y";
  Write("# velmora-sim terminal I/O\n" + Line(100, "R>P", std::string("BR\0\0\x80", 5)) +
        Line(105, "R>P", std::string("\0\0\0\x81\0", 5)) + Line(200, "P>R", full.substr(0, 50)) +
        Line(210, "P>R", full.substr(50) + tail) +
        Line(300, "R>P", std::string("PC\0\0\x80\0\0\0\x01\x01", 10)));
  Transfer seen;
  std::string why;
  ASSERT_TRUE(ReadIoLog(path_, &seen, &why)) << why;
  ASSERT_EQ(seen.requests.size(), 1u);
  EXPECT_EQ(seen.requests[0].start, 0x8000u);
  EXPECT_EQ(seen.requests[0].end, 0x8100u);
  EXPECT_EQ(seen.requests[0].lastByteUs, 105);
  ASSERT_EQ(seen.blocks.size(), 1u);  // one run of blocks: the answer to the request
  EXPECT_EQ(seen.blocks[0].address, 0x8000u);
  EXPECT_EQ(seen.blocks[0].firstByteUs, 200);
  EXPECT_EQ(seen.lastPcUs, 300);
}

TEST_F(IoLogTest, NamesTheLineThatDoesNotParse) {
  for (const std::string& bad : {std::string("12 P>R 2 2E\n"), std::string("12 X>Y 1 2E\n"),
                                 std::string("12 R>P 1 2G\n")}) {
    Write("# header\n" + Line(1, "P>R", "..") + bad);
    Transfer seen;
    std::string why;
    EXPECT_FALSE(ReadIoLog(path_, &seen, &why)) << bad;
    EXPECT_EQ(why.rfind(path_ + ":3: ", 0), 0u) << why;
  }
}

}  // namespace
