#include "line/child_protocol.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

// Messages come back whole and in order, however the pipe cuts the bytes.
TEST(ChildProtocolTest, MessagesSurviveAnyCutOfTheBytes) {
  const std::string bytes = EncodeMessage(MessageKind::kTotal, 70000) +
                            EncodeMessage(MessageKind::kImageDone, 2, 1) +
                            EncodeMessage(MessageKind::kOutput, 0, 0, std::string("A\0\b\xFF", 4)) +
                            EncodeMessage(MessageKind::kResult, -1, kResultAborted);
  EXPECT_EQ(bytes.substr(0, 13), std::string("T\x70\x11\x01\x00\0\0\0\0\0\0\0\0", 13));
  for (size_t piece : {size_t{1}, size_t{5}, size_t{13}, bytes.size()}) {
    MessageReader reader;
    std::string seen;
    for (size_t at = 0; at < bytes.size(); at += piece) {
      reader.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
      for (Message m; reader.next(&m);)
        seen += std::string(1, static_cast<char>(m.kind)) + std::to_string(m.a) + "," +
                std::to_string(m.b) + "," + m.text + ";";
    }
    EXPECT_EQ(seen, "T70000,0,;O2,1,;X0,0,A\0\b\xFF;R-1,1,;"s) << piece;
    EXPECT_EQ(reader.pendingBytes(), 0u);
    EXPECT_FALSE(reader.corrupt());
  }
}

TEST(ChildProtocolTest, BytesThatAreNoMessageStopTheReader) {
  for (const std::string& bad : {std::string("Z") + std::string(12, '\0'),
                                 std::string("X\0\0\0\0\0\0\0\0\x01\x00\x01\x00", 13)}) {
    MessageReader reader;
    reader.feed(bad.data(), bad.size());
    const std::string good = EncodeMessage(MessageKind::kBegin, 0);
    reader.feed(good.data(), good.size());
    Message m;
    EXPECT_FALSE(reader.next(&m));
    EXPECT_TRUE(reader.corrupt());
  }
}

}  // namespace
