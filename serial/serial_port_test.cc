#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "serial/port_aliases.h"
#include "serial/port_names.h"
#include "serial/serial_device-posix.h"

namespace {

using Bytes = std::vector<uint8_t>;
using SteadyClock = std::chrono::steady_clock;

double ElapsedMs(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// Processor time this thread has used, in milliseconds.
double CpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// What a refused open says when another descriptor of this process (this
// program) holds the port.
std::string HeldByUs() {
  return " is busy: held by " + std::to_string(getpid()) + " (serial_test)";
}

// How many descriptors this process has open.
int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A pseudo-terminal pair: the test holds the master, the link under test
// opens the slave as its serial device.
class PtyTest : public testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
  }

  void TearDown() override {
    SerialPort::close();
    if (master_ >= 0) close(master_);
  }

  std::unique_ptr<SerialLink> Open(const std::string& name, uint32_t baud = 115200) {
    std::string why;
    auto link = PlatformPortOpener().open(name.c_str(), baud, &why);
    EXPECT_TRUE(link) << why;
    return link;
  }

  // The reason an open of `name` fails with; "opened" when it does not fail.
  static std::string Refusal(const std::string& name, uint32_t baud = 115200) {
    std::string why;
    if (PlatformPortOpener().open(name.c_str(), baud, &why)) return "opened";
    EXPECT_EQ(why.find('\n'), std::string::npos);
    return why;
  }

  // Everything the slave sent, once `count` bytes or nothing for 100 ms.
  Bytes ReadMaster(size_t count) {
    Bytes got;
    uint8_t buffer[4096];
    while (got.size() < count) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) break;
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  // What the link reads within about 500 ms, up to `count` bytes.
  static Bytes ReadLink(SerialLink& link, size_t count) {
    Bytes got(count);
    size_t have = 0;
    const auto start = SteadyClock::now();
    while (have < count && ElapsedMs(start) < 500) have += link.read(&got[have], count - have);
    got.resize(have);
    return got;
  }

  termios MasterView() {
    termios t;
    EXPECT_EQ(tcgetattr(master_, &t), 0);
    return t;
  }

  int master_ = -1;
  std::string slave_;
};

TEST_F(PtyTest, OpenSetsRaw8N1AndBaudChangesKeepIt) {
  auto link = Open(slave_, 115200);
  ASSERT_TRUE(link);
  // On Linux the master reports the slave's settings. (A pseudo-terminal
  // always reports CS8 without parity, so those two checks prove little.)
  termios t = MasterView();
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL));
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  for (auto [baud, speed] : {std::pair{4800u, B4800}, {230400u, B230400}, {9600u, B9600}}) {
    link->setBaudRate(baud);
    t = MasterView();
    EXPECT_EQ(cfgetospeed(&t), speed) << baud;
    EXPECT_EQ(cfgetispeed(&t), speed) << baud;
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
  }
  link->setBaudRate(1234);  // no such rate: the line stays as it was
  t = MasterView();
  EXPECT_EQ(cfgetospeed(&t), B9600);
}

// Closing puts the device back as it was found, whatever the link did to it.
TEST_F(PtyTest, CloseRestoresTheSettingsTheDeviceHadBefore) {
  termios before = MasterView();
  cfsetispeed(&before, B1200);
  cfsetospeed(&before, B1200);
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_cflag |= HUPCL;
  before.c_cc[VMIN] = 1;
  ASSERT_EQ(tcsetattr(master_, TCSANOW, &before), 0);
  before = MasterView();
  auto link = Open(slave_, 115200);
  ASSERT_TRUE(link);
  link->setBaudRate(230400);
  link.reset();
  const termios after = MasterView();
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
}

TEST_F(PtyTest, EachWriteArrivesByteExact) {
  char pattern[] = "/tmp/velmora-serial-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  setenv("VELMORA_PORTS", dir.c_str(), 1);
  ASSERT_TRUE(RegisterPortAlias(201, slave_, nullptr));
  auto link = Open("com201");
  unsetenv("VELMORA_PORTS");
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(link);

  SerialPort::install(std::move(link));
  EXPECT_TRUE(SerialPort::writeByte(256));
  EXPECT_TRUE(SerialPort::writeByte(0x1FF));
  EXPECT_TRUE(SerialPort::writeU32BE(258));
  EXPECT_TRUE(SerialPort::writeU32BE(1));
  EXPECT_TRUE(SerialPort::writeText("EX"));
  EXPECT_TRUE(SerialPort::writeText(""));
  const uint8_t raw[] = {'\n', '\r', 0x11, 0x13, 0x00};  // no output processing on the way
  EXPECT_TRUE(SerialPort::writeBytes(raw, sizeof raw));
  SerialPort::drain();

  const Bytes expected = {0x00, 0xFF, 0, 0, 1, 2, 0, 0, 0, 1, 'E', 'X', '\n', '\r', 0x11, 0x13, 0};
  EXPECT_EQ(ReadMaster(expected.size() + 1), expected);
}

TEST_F(PtyTest, LargeWriteWaitsForRoomAndLosesNothing) {
  auto link = Open(slave_);
  ASSERT_TRUE(link);
  Bytes data(200000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
  Bytes got;
  std::thread reader([&] { got = ReadMaster(data.size()); });
  EXPECT_TRUE(link->write(data.data(), data.size()));
  reader.join();
  EXPECT_TRUE(got == data) << "got " << got.size() << " bytes";
}

TEST_F(PtyTest, WriteGivesUpOnALineThatTakesNothing) {
  auto link = Open(slave_);
  ASSERT_TRUE(link);
  const Bytes data(1 << 20);  // far more than the pair buffers; nobody reads
  auto start = SteadyClock::now();
  EXPECT_FALSE(link->write(data.data(), data.size()));
  const double ms = ElapsedMs(start);
  EXPECT_GT(ms, 1000);
  EXPECT_LT(ms, 10000);

  // The line is taken as gone: the next writes fail without waiting again,
  // and once a read finds nothing, the link says so.
  start = SteadyClock::now();
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(link->write(data.data(), 1));
  EXPECT_LT(ElapsedMs(start), 500);
  EXPECT_FALSE(link->gone());
  uint8_t byte;
  EXPECT_EQ(link->read(&byte, 1), 0u);
  EXPECT_TRUE(link->gone());
}

TEST_F(PtyTest, ReadReturnsWhatArrivedUnprocessed) {
  auto link = Open(slave_);
  ASSERT_TRUE(link);
  const Bytes sent = {0x13, 0x11, '\r', '\n', 0x03, 0x1A, 0x00, 0xFF, 0x7F};
  ASSERT_EQ(write(master_, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  EXPECT_EQ(ReadLink(*link, sent.size()), sent);

  // A read asking for more returns, once the time-out has run, with what came.
  ASSERT_EQ(write(master_, "abc", 3), 3);
  uint8_t buffer[99];
  size_t n = 0;
  const auto start = SteadyClock::now();
  while (n == 0 && ElapsedMs(start) < 500) n = link->read(buffer, sizeof buffer);
  EXPECT_EQ(Bytes(buffer, buffer + n), (Bytes{'a', 'b', 'c'}));
}

TEST_F(PtyTest, SilentReadTakesAboutOneMillisecond) {
  auto link = Open(slave_);
  ASSERT_TRUE(link);
  uint8_t byte;
  auto start = SteadyClock::now();
  EXPECT_EQ(link->read(&byte, 1), 0u);
  EXPECT_LT(ElapsedMs(start), 20);

  start = SteadyClock::now();
  const double cpuStart = CpuMs();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(link->read(&byte, 1), 0u);
  const double ms = ElapsedMs(start);
  EXPECT_GT(ms, 50);
  EXPECT_LT(ms, 1000);
  EXPECT_LT(CpuMs() - cpuStart, ms / 2) << "the reads spin";
}

TEST_F(PtyTest, GoneDeviceReadsNothingWithoutSpinning) {
  auto link = Open(slave_);
  ASSERT_TRUE(link);
  close(master_);
  master_ = -1;

  uint8_t buffer[99];
  const auto start = SteadyClock::now();
  const double cpuStart = CpuMs();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(link->read(buffer, sizeof buffer), 0u);
  const double ms = ElapsedMs(start);
  EXPECT_GE(ms, 40);
  EXPECT_LT(ms, 2000);
  EXPECT_LT(CpuMs() - cpuStart, ms / 2) << "the reads spin";
  EXPECT_TRUE(link->gone());
  EXPECT_FALSE(link->write("x", 1));
}

TEST_F(PtyTest, PortInUseIsRefusedUntilReleased) {
  auto link = Open(slave_);
  ASSERT_TRUE(link);
  EXPECT_EQ(Refusal(slave_), slave_ + HeldByUs());
  link.reset();
  EXPECT_TRUE(Open(slave_));

  const int other = open(slave_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Refusal(slave_), slave_ + HeldByUs());
  close(other);
}

TEST_F(PtyTest, FailedOpensGiveReasonsAndLeaveNothingBehind) {
  auto holder = Open(slave_);
  ASSERT_TRUE(holder);
  const int descriptors = OpenDescriptors();
  EXPECT_EQ(Refusal(slave_), slave_ + HeldByUs());
  EXPECT_EQ(OpenDescriptors(), descriptors);
  holder.reset();

  EXPECT_EQ(Refusal("/nonexistent-velmora/ttyUSB0"),
            "no such device: /nonexistent-velmora/ttyUSB0");
  const int before = OpenDescriptors();
  EXPECT_EQ(Refusal("/dev/null"), "/dev/null is not a serial port (a device of class mem)");
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(Refusal("COM3x").find("\"COM3x\" stands for no device"), 0u);
  const std::string rate = Refusal(slave_, 1234);
  EXPECT_NE(rate.find("1234"), std::string::npos) << rate;
  {
    char pattern[] = "/tmp/velmora-serial-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    setenv("VELMORA_PORTS", dir.c_str(), 1);
    EXPECT_EQ(Refusal("COM200").find("COM200 stands for no device here"), 0u);
    unsetenv("VELMORA_PORTS");
    rmdir(dir.c_str());
  }
  // None of the failed opens kept the device locked.
  EXPECT_TRUE(Open(slave_));
}

// Only serial ports are opened, and the name is checked before the open:
// opening /dev/ptmx would make a pseudo-terminal, /dev/tty is the user's own
// terminal. (Each refusal comes before any open: /dev/ptmx would otherwise be
// found busy, held by this test's own master.)
TEST_F(PtyTest, OnlySerialPortsAreOpened) {
  const std::pair<std::string, std::string> paths[] = {
      {"/etc/passwd", "/etc/passwd is not a serial port (a regular file)"},
      {"/tmp", "/tmp is not a serial port (a directory)"},
      {"/dev/null", "/dev/null is not a serial port (a device of class mem)"},
      {"/dev/ptmx", "/dev/ptmx is not a serial port (the pseudo-terminal multiplexer)"},
      {"/dev/tty", "/dev/tty is not a serial port (the controlling terminal)"},
      {slave_, "opened"},
  };
  for (const auto& [path, refusal] : paths) EXPECT_EQ(Refusal(path), refusal);

  // By device number, against a sysfs of the test's own.
  const std::string sys = testing::TempDir() + "velmora-sysfs";
  std::filesystem::remove_all(sys);
  for (const auto& [device, kind] :
       {std::pair<const char*, const char*>{"4:64", "tty"}, {"188:0", "tty"}, {"10:130", "misc"}}) {
    std::filesystem::create_directories(sys + "/dev/char/" + device);
    std::filesystem::create_symlink(std::string("../../../class/") + kind,
                                    sys + "/dev/char/" + device + "/subsystem");
  }
  const std::pair<dev_t, std::string> devices[] = {
      {makedev(4, 64), ""},   // ttyS0
      {makedev(188, 0), ""},  // ttyUSB0
      {makedev(136, 7), ""},  // /dev/pts/7, which sysfs does not list
      {makedev(143, 0), ""},  //
      {makedev(5, 1), "the system console"},
      {makedev(4, 5), "a virtual console"},          // /dev/tty5, in the tty class
      {makedev(10, 130), "a device of class misc"},  // a watchdog
      {makedev(144, 0), "a device that " + sys + " does not list as a terminal"},
  };
  for (const auto& [device, why] : devices) EXPECT_EQ(NotASerialDevice(device, sys), why);
  std::filesystem::remove_all(sys);
}

// Runs `check` in a child process as user nobody; its result is the child's.
bool AsNobody(const std::function<bool()>& check) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// As root, TIOCEXCL and file modes do not stop this process; a child that
// gives up root sees what an ordinary user sees.
TEST_F(PtyTest, OrdinaryUserIsRefusedExclusivePortAndForbiddenDevice) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  auto reason = [this] {
    std::string why;
    if (PlatformPortOpener().open(slave_.c_str(), 115200, &why)) return std::string("opened");
    return why;
  };

  ASSERT_EQ(chmod(slave_.c_str(), 0600), 0);
  EXPECT_TRUE(AsNobody([&] {
    return reason().find("permission denied on " + slave_ + "; add yourself to the dialout") == 0;
  }));

  // A program that holds the port exclusively, without a lock. (The child
  // has its own copy of the descriptor, and sees only itself in /proc.)
  ASSERT_EQ(chmod(slave_.c_str(), 0666), 0);
  int other = open(slave_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
  EXPECT_TRUE(AsNobody([&] { return reason() == slave_ + HeldByUs(); }));
  // The exclusive mode outlives the descriptor while the pair exists.
  ioctl(other, TIOCNXCL);
  close(other);

  // The programmer holds the port exclusively against such programs, and
  // gives it back when done.
  auto openErrno = [this] {
    const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return fd < 0 ? errno : 0;
  };
  auto link = Open(slave_);
  ASSERT_TRUE(link);
  EXPECT_TRUE(AsNobody([&] { return openErrno() == EBUSY; }));
  link.reset();
  EXPECT_TRUE(AsNobody([&] { return openErrno() == 0; }));
}

}  // namespace
