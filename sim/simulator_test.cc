#include "sim/simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// What the receiver sends within two seconds after `sent`, up to `want`.
std::string Exchange(const std::string& device, const std::string& sent, const std::string& want) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return "cannot open " + device;
  termios t;
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetispeed(&t, B115200);
  cfsetospeed(&t, B115200);
  tcsetattr(fd, TCSANOW, &t);
  std::string got;
  if (write(fd, sent.data(), sent.size()) == static_cast<ssize_t>(sent.size())) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (got.find(want) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buffer[256];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return got;
}

class SimulatorTest : public testing::Test {
 protected:
  SimulatorTest() {
    char pattern[] = "/tmp/velmora-simulator-XXXXXX";
    dir_ = mkdtemp(pattern);
    options_.alias = false;
    options_.receiver.startInLoader = true;
    options_.receiver.loaderBaud = 115200;
    options_.receiver.lineTiming = false;
    options_.flashOut = dir_ + "/flash.bin";
    options_.log = dir_ + "/log.txt";
  }
  ~SimulatorTest() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
  SimOptions options_;
};

TEST_F(SimulatorTest, ServesOneSessionAndWritesItsRecords) {
  options_.once = true;
  Simulator simulator(options_);
  ASSERT_TRUE(simulator.start());
  int status = -1;
  std::thread serving([&] { status = simulator.serve([] { return 0; }); });
  EXPECT_EQ(Exchange(simulator.devicePath(), "........QV", "RX"), "RX");
  serving.join();  // --once: the session's end ends the run
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(options_.flashOut), std::string(ReceiverModel::kFlashSize, '\xFF'));
  const std::string log = ReadFile(options_.log);
  EXPECT_NE(log.find("P>R 115200 taken   2E 2E 2E 2E 2E 2E 2E 2E 51 56 |........QV|"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("# session 1: port closed\n"), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.size() - 6), "# end\n");
}

TEST_F(SimulatorTest, AStopSignalEndsTheRunAndARecordThatCannotBeWrittenFailsIt) {
  std::atomic<int> stop{0};
  Simulator simulator(options_);
  ASSERT_TRUE(simulator.start());
  int status = -1;
  std::thread serving([&] { status = simulator.serve([&] { return stop.load(); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stop = SIGTERM;
  serving.join();
  EXPECT_EQ(status, 0);
  EXPECT_NE(ReadFile(options_.log).find("# stopped by Terminated\n"), std::string::npos);

  options_.log = dir_ + "/missing/log.txt";
  Simulator refused(options_);
  EXPECT_EQ(refused.run([] { return 0; }), 1);
}

}  // namespace
