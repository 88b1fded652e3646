// The velmora-sim program as its users meet it: started as a process with its
// alias directory in a private temporary directory, driven through the
// terminal device it prints, as a programmer would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/receiver_model.h"
#include "tests/sim_launcher.h"

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t Be32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}

// The device opened as the programmer opens it: raw, non-blocking.
class Port {
 public:
  Port(const std::string& path, speed_t speed) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    termios t;
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~Port() { close(); }
  bool ok() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  void write(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size())); }
  void write(const std::string& s) { write(Bytes(s.begin(), s.end())); }

  // Everything that came until `want` appeared in it (or `ms` passed).
  std::string readUntil(const std::string& want, int ms = 2000) {
    const auto deadline = SteadyClock::now() + milliseconds(ms);
    while (received_.find(want) == std::string::npos && readSome(deadline)) {
    }
    return received_;
  }

  // Takes `want` and the `extra` bytes after it off the input, with all that
  // came before; "" when they do not come within two seconds.
  std::string take(const std::string& want, size_t extra) {
    const auto deadline = SteadyClock::now() + milliseconds(2000);
    for (;;) {
      const size_t at = received_.find(want);
      if (at != std::string::npos && received_.size() >= at + want.size() + extra) {
        std::string got = received_.substr(at, want.size() + extra);
        received_.erase(0, at + want.size() + extra);
        return got;
      }
      if (!readSome(deadline)) return "";
    }
  }

  int fd() const { return fd_; }

 private:
  // False when nothing more came by `deadline` or the device hung up.
  bool readSome(SteadyClock::time_point deadline) {
    while (SteadyClock::now() < deadline) {
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        received_.append(buffer, static_cast<size_t>(n));
        return true;
      }
      if (p.revents & (POLLHUP | POLLERR)) return false;
    }
    return false;
  }

  int fd_ = -1;
  std::string received_;
};

class VelmoraSim : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmora-sim-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);  // mode 0700
    dir_ = pattern;
  }

  void TearDown() override {
    if (sim_) sim_->signal(SIGKILL);
    sim_.reset();
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // Starts the program, with the test's directory as its alias directory.
  void start(const std::vector<std::string>& args) {
    setenv("VELMORA_PORTS", dir_.c_str(), 1);
    if (sim_) sim_->signal(SIGKILL);
    sim_ = std::make_unique<SimLauncher>();
    std::string why;
    ASSERT_TRUE(sim_->start(args, &why)) << why;
  }

  // The next line of standard output, without its line end ("" at the end
  // or after two seconds).
  std::string line() { return sim_->readLine(2000); }

  // The exit status, or -1 when the program has not exited within `ms`.
  int waitExit(int ms = 2000) { return sim_->waitExit(ms); }

  // Runs the program to its end and returns its exit status.
  int run(const std::vector<std::string>& args) {
    start(args);
    return waitExit();
  }

  std::string alias(const std::string& com) const {
    char target[256] = {};
    const ssize_t n = readlink((dir_ + "/" + com).c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
  }

  bool aliasExists(const std::string& com) const {
    struct stat st;
    return lstat((dir_ + "/" + com).c_str(), &st) == 0;
  }

  std::string stderrText() const { return sim_->stderrText(); }

  std::string dir_;
  std::unique_ptr<SimLauncher> sim_;
};

TEST_F(VelmoraSim, PrintsDeviceAndComNameRegistersTheAliasAndAnswersSync) {
  start({"--com", "231", "--loader", "115200", "--no-timing"});
  const std::string device = line();
  EXPECT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
  EXPECT_EQ(line(), "COM231");
  EXPECT_EQ(alias("COM231"), device);

  Port port(device, B115200);
  ASSERT_TRUE(port.ok()) << std::strerror(errno);
  port.write("........QV");
  EXPECT_EQ(port.take("RX", 0), "RX");
}

TEST_F(VelmoraSim, StopSignalWritesTheRecordsAndRemovesTheAlias) {
  const std::string flash = dir_ + "/flash.bin", log = dir_ + "/log.txt";
  start({"--flash-out", flash, "--log", log});
  ASSERT_FALSE(line().empty());
  EXPECT_EQ(line(), "COM200");
  ASSERT_TRUE(aliasExists("COM200"));
  sim_->signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0);
  EXPECT_FALSE(aliasExists("COM200"));
  const std::string dump = ReadFile(flash);
  EXPECT_EQ(dump.size(), ReceiverModel::kFlashSize);
  EXPECT_EQ(dump.find_first_not_of('\xff'), std::string::npos);
  const std::string text = ReadFile(log);
  EXPECT_EQ(text.rfind("# velmora-sim transcript", 0), 0u);
  EXPECT_NE(text.find("# end\n"), std::string::npos) << text;
}

TEST_F(VelmoraSim, OnceProgramsAnImageThroughTheDeviceAndEndsWithTheSession) {
  const std::string flash = dir_ + "/flash.bin", log = dir_ + "/log.txt";
  start({"--once", "--loader", "115200", "--flash-out", flash, "--log", log, "--no-alias"});
  const std::string device = line();
  EXPECT_FALSE(aliasExists("COM200"));
  Bytes image(300);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint32_t address = 0x8000;
  {
    Port port(device, B115200);
    ASSERT_TRUE(port.ok());
    port.write("........QV");
    ASSERT_EQ(port.take("RX", 0), "RX");
    Bytes header{'.', 'S', 'P'};
    for (uint32_t v : {address, uint32_t(image.size()), address,
                       ReceiverModel::ImageCrc(image.data(), image.size())})
      PutBe32(header, v);
    port.write(header);
    const std::string br = port.take("BR", 8);
    ASSERT_EQ(br.size(), 10u);
    const uint32_t first = Be32(br, 2), last = Be32(br, 6);
    EXPECT_EQ(first, address);
    EXPECT_EQ(last, address + image.size() - 1);
    for (uint32_t a = first; a < last;) {
      const uint32_t n = std::min<uint32_t>(last - a + 1, 256);
      Bytes block{'.', 'B', 'T'};
      PutBe32(block, a);
      block.push_back(static_cast<uint8_t>(n));
      block.insert(block.end(), image.begin() + (a - address), image.begin() + (a - address + n));
      port.write(block);
      a += n;
    }
    const std::string pc = port.take("PC", 8);
    ASSERT_EQ(pc.size(), 10u);
    EXPECT_EQ(Be32(pc, 2), address);
    EXPECT_EQ(Be32(pc, 6), image.size());
    port.write("EX");
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(waitExit(100), -1);  // still in the session
  }
  EXPECT_EQ(waitExit(), 0);
  const std::string dump = ReadFile(flash);
  ASSERT_EQ(dump.size(), ReceiverModel::kFlashSize);
  EXPECT_EQ(dump.substr(address, image.size()), std::string(image.begin(), image.end()));
  EXPECT_EQ(dump.find_first_not_of('\xff', address + image.size()), std::string::npos);
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("P>R 115200 taken   2E 2E 2E 2E 2E 2E 2E 2E 51 56 |........QV|"),
            std::string::npos)
      << text.substr(0, 2000);
  EXPECT_NE(text.find("session 1: port closed"), std::string::npos);
}

TEST_F(VelmoraSim, AfterProgrammingEndsTheNextSessionMeetsTheFirmware) {
  start({"--loader", "115200", "--no-timing", "--sentence-period", "20"});
  const std::string device = line();
  {
    Port port(device, B115200);
    port.write("........QV");
    ASSERT_EQ(port.take("RX", 0), "RX");
    port.write("EX");
    std::this_thread::sleep_for(milliseconds(10));
  }
  std::this_thread::sleep_for(milliseconds(10));
  {
    Port port(device, B9600);
    EXPECT_NE(port.readUntil("*", 1000).find("$GP"), std::string::npos);
  }
  EXPECT_EQ(waitExit(50), -1);  // serves on
  sim_->signal(SIGINT);
  EXPECT_EQ(waitExit(), 0);
}

TEST_F(VelmoraSim, LineGoneClosesTheDeviceAndEnds) {
  start({"--loader", "115200", "--line-gone", "1"});
  const std::string device = line();
  Port port(device, B115200);
  port.write("........QV");
  ASSERT_EQ(port.take("RX", 0), "RX");
  Bytes header{'.', 'S', 'P'};
  for (uint32_t v : {0x8000u, 16u, 0x8000u, 0u}) PutBe32(header, v);
  port.write(header);
  EXPECT_EQ(port.take("BR", 8).size(), 10u);  // the request still arrives
  EXPECT_EQ(waitExit(), 0);
  EXPECT_FALSE(aliasExists("COM200"));
  char c;
  EXPECT_LE(read(port.fd(), &c, 1), 0);
}

TEST_F(VelmoraSim, BadCommandLinesExitTwoWithTheReasonAndAHint) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "velmora-sim: unknown option --bogus\n"},
      {{"--com", "0"}, "velmora-sim: --com needs a number from 1 to 256\n"},
      {{"--com=257"}, "velmora-sim: --com needs a number from 1 to 256\n"},
      {{"--com"}, "velmora-sim: --com needs a number from 1 to 256\n"},
      {{"--loader", "12345"}, "velmora-sim: --loader needs a line rate"},
      {{"--request-outside", "sideways"}, "velmora-sim: --request-outside needs beyond or below"},
      {{"--once=1"}, "velmora-sim: --once takes no value"},
      {{"--fault", "sync:rx"},
       "velmora-sim: --fault needs STAGE:ACTION[:N]: rx means nothing at sync\n"},
      {{"--fault=header:loud"},
       "velmora-sim: --fault needs STAGE:ACTION[:N]: unknown action \"loud\"\n"},
      {{"--fault", "request:ok:0"},
       "velmora-sim: --fault needs STAGE:ACTION[:N]: \"0\" is no count"},
      {{"--fault"}, "velmora-sim: --fault needs STAGE:ACTION[:N]\n"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(run(args), 2) << args[0];
    const std::string err = stderrText();
    EXPECT_EQ(err.rfind(message, 0), 0u) << err;
    EXPECT_NE(err.find("velmora-sim --help"), std::string::npos) << err;
  }
  start({"--help"});
  EXPECT_EQ(waitExit(), 0);
  const std::string help = sim_->readRest(2000);
  for (const char* option : {"--com", "--no-alias", "--once", "--flash-out", "--log",
                             "--request-outside", "--line-gone", "--garbled-request", "--fault"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST_F(VelmoraSim, UnsafeAliasDirectoryIsRefused) {
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  EXPECT_EQ(run({}), 1);
  EXPECT_NE(stderrText().find("cannot register COM200"), std::string::npos) << stderrText();
  EXPECT_EQ(line(), "");  // nothing printed for a programmer to use
}

}  // namespace
