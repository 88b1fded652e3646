// fwp stopped by signals, and fwp against receivers that misbehave on
// purpose: each run ends in bounded time, prints exactly what happened,
// claims nothing that did not land, and leaves the port and the terminal as
// it found them.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serial/serial_port.h"
#include "tests/integration/sim_harness.h"

namespace {

const std::string kBanner = "Flash Programmer V1.0.3.2\n";
const std::string kNotFound = "Device not found!\n";
const std::string kNoResponse = "\nDevice no response!\n" + kNotFound;

std::string Update(uint32_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "\b\b\b\b\b\b\b\b%08X", address);
  return text;
}

// What a terminal's settings are, as far as anyone would notice.
std::string Settings(int fd, bool asWineLeavesIt = false) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return "no terminal";
  // Wine sets IGNBRK and NOFLSH on a port it configures; no Windows line
  // setting names them, so a Windows program cannot put them back.
  if (asWineLeavesIt) {
    t.c_iflag &= ~IGNBRK;
    t.c_lflag &= ~NOFLSH;
  }
  char text[128];
  std::snprintf(text, sizeof text, "speed %u iflag %x oflag %x cflag %x lflag %x min %u time %u",
                static_cast<unsigned>(cfgetospeed(&t)), t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag,
                t.c_cc[VMIN], t.c_cc[VTIME]);
  return text;
}

// The settings of a device nobody has open, read through a short open;
// what Wine alone sets is left out when fwp is the Windows program.
std::string DeviceSettings(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return "cannot open";
  const std::string settings = Settings(fd, FwpIsWindows());
  close(fd);
  return settings;
}

// A pseudo-terminal whose device the test hands to fwp (or uses as fwp's
// standard input), the test holding the controlling side.
struct Pty {
  Pty() {
    // Non-blocking, so that a receiver never hangs on a device nobody reads.
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    device = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
  int master = -1;
  std::string device;
};

// ---------------------------------------------------------------------------
// Signals.

struct SignalCase {
  const char* name;
  std::vector<std::string> simArgs;            // besides --flash-out
  std::vector<std::pair<int, size_t>> images;  // slot (1 Almanac, 2 App), length
  int signal;
  std::string signalAfter;  // on standard output
  int signalDelayMs;
  bool terminalInput;  // standard input is a terminal (the key wait is one)
  int status;
  std::string outPattern;    // standard output, as a regular expression
  std::string err;           // standard error, exactly
  std::vector<int> written;  // slots in the flash afterwards
};

void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << c.name;
}

const char* const kOption[] = {"-boot", "-almanac", "-app"};
const uint32_t kAddress[] = {0x0, 0x8000, 0x10000};

std::string Quoted(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

const std::string kUpdates = "(\b{8}[0-9A-F]{8})*";

std::vector<SignalCase> SignalCases() {
  const std::string isp1 = Quoted(kBanner + "ISP mode 115200 bps\nAddr : 0x00008000");
  const std::string isp2 = Quoted(kBanner + "ISP mode 115200 bps\nAddr : 0x00010000");
  auto keyWait = [&](const char* name, int signal) {
    return SignalCase{name,
                      {"--loader", "115200", "--no-timing"},
                      {{2, 10}},
                      signal,
                      "Press any key.",
                      300,
                      true,
                      2,
                      isp2 + Quoted(Update(0x10000) + Update(0x10009) +
                                    "\nAPP CODE  OK!\nProgramming time : T secs\nPress any key.\n"),
                      "",
                      {2}};
  };
  return {
      // Detection with nothing answering takes about 7 s; the stop ends it.
      {"InterruptDuringDetection",
       {"--fault", "detect:silent:1"},
       {{2, 100}},
       SIGINT,
       "",
       1500,
       false,
       0,
       Quoted(kBanner),
       "fwp: stopped by SIGINT; written: none; not written: APP CODE\n",
       {}},
      {"HangUpDuringDetection",
       {"--fault", "detect:silent:1"},
       {{2, 100}},
       SIGHUP,
       "",
       1500,
       false,
       0,
       Quoted(kBanner),
       "fwp: stopped by SIGHUP; written: none; not written: APP CODE\n",
       {}},
      // A 64 KiB App at 115200 bit/s takes about 6 s on the line.
      {"InterruptInsideARequest",
       {"--loader", "115200"},
       {{2, 65536}},
       SIGINT,
       "Addr",
       1500,
       false,
       0,
       isp2 + kUpdates,
       "fwp: stopped by SIGINT; written: none; not written: APP CODE\n",
       {}},
      // Almanac confirmed; the loader never answers App's header (8 s).
      {"TerminateBetweenImages",
       {"--loader", "115200", "--no-timing", "--silent-after-header", "2"},
       {{1, 300}, {2, 10}},
       SIGTERM,
       "Addr",
       1000,
       false,
       0,
       isp1 + Quoted(Update(0x8000) + Update(0x8000 + 299)),
       "fwp: stopped by SIGTERM; written: ALMANAC; not written: APP CODE\n",
       {1}},
      // Everything was written when the key wait is interrupted: the run
      // stands, and the terminal is as it was.
      keyWait("InterruptAtTheKeyWait", SIGINT),
      keyWait("TerminateAtTheKeyWait", SIGTERM),
  };
}

class SignalTest : public SimTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalTest, StopsAtOnceAndSaysWhatWasWritten) {
  const SignalCase& c = GetParam();
  std::vector<std::string> simArgs = c.simArgs;
  simArgs.insert(simArgs.end(), {"--flash-out", flashOut});
  SimProcess sim(simArgs);
  std::vector<std::string> words = {"-uart", sim.comName()};
  std::vector<std::pair<uint32_t, std::string>> images, written;
  for (const auto& [slot, length] : c.images) {
    const std::string bytes = SeededImage(length, static_cast<uint32_t>(slot + 40));
    words.insert(words.end(), {kOption[slot], WriteFile(std::to_string(slot) + ".bin", bytes)});
    images.emplace_back(kAddress[slot], bytes);
    for (int w : c.written)
      if (w == slot) written.emplace_back(kAddress[slot], bytes);
  }
  Pty terminal;
  RunOptions options;
  options.signal = c.signal;
  options.signalAfter = c.signalAfter;
  options.signalDelayMs = c.signalDelayMs;
  int input = -1;
  if (c.terminalInput) {
    input = open(terminal.device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(input, 0);
    options.inFd = input;
  }
  const std::string terminalBefore = Settings(terminal.master);
  const std::string portBefore = DeviceSettings(sim.devicePath());

  const ProgramResult r = Fwp(words, options);
  if (input >= 0) close(input);

  EXPECT_EQ(r.status, c.status);
  EXPECT_TRUE(std::regex_match(r.out, std::regex(c.outPattern))) << r.out;
  // Wine hands SIGINT to a Windows program as Ctrl-C.
  EXPECT_EQ(r.err, FwpIsWindows() ? std::regex_replace(c.err, std::regex("by SIGINT"), "by Ctrl-C")
                                  : c.err);
  EXPECT_GE(r.afterSignalMs, 0);
  EXPECT_LT(r.afterSignalMs, 2000) << "the stop took too long";
  EXPECT_EQ(Settings(terminal.master), terminalBefore);
  EXPECT_EQ(DeviceSettings(sim.devicePath()), portBefore);
  std::string why;
  EXPECT_NE(PlatformPortOpener().open(sim.devicePath().c_str(), 115200, &why), nullptr) << why;
  EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash(written)) << "flash differs";
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalTest, ::testing::ValuesIn(SignalCases()),
                         [](const ::testing::TestParamInfo<SignalCase>& p) {
                           return std::string(p.param.name);
                         });

// A closed standard output (fwp ... | head -c 150) stops nothing.
TEST_F(SimTest, AClosedOutputNeverStopsProgramming) {
  SimProcess sim({"--loader", "115200", "--no-timing", "--flash-out", flashOut});
  const std::string app = SeededImage(100000, 9);  // 25 requests: over 500 bytes of output
  RunOptions options;
  options.closeOutputAfter = 150;
  const ProgramResult r = Fwp({"-uart", sim.comName(), "-app", WriteFile("app.bin", app)}, options);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out.substr(0, 150).rfind(kBanner, 0), 0u);
  EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{0x10000, app}})) << "flash differs";
}

// ---------------------------------------------------------------------------
// Receivers that misbehave. Each is a function on the controlling side of a
// pseudo-terminal whose device fwp opens; it runs until fwp closes the device
// (reads then fail) or the test ends.

// Reads what fwp wrote, waiting up to `ms`; false once fwp has closed it.
bool ReadSome(int master, std::string& into, int ms) {
  pollfd p = {master, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return true;
  char buffer[4096];
  const ssize_t n = read(master, buffer, sizeof buffer);
  if (n < 0 && errno == EAGAIN) return true;
  if (n <= 0) return false;
  into.append(buffer, static_cast<size_t>(n));
  return true;
}

// Writes all of `bytes` unless fwp goes away or the test ends first.
bool WriteAll(int master, const std::string& bytes, const std::atomic<bool>& stop) {
  size_t done = 0;
  while (done < bytes.size() && !stop) {
    const ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      pollfd p = {master, POLLOUT, 0};
      if (poll(&p, 1, 100) < 0 || (p.revents & (POLLERR | POLLHUP))) return false;
    }
  }
  return done == bytes.size();
}

std::string U32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

// A loader: "RX" to every sync string until the first header has come in
// whole. Returns false when fwp went away first.
bool AnswerSyncsUntilAHeader(int master, const std::atomic<bool>& stop) {
  std::string in;
  size_t answered = 0;
  while (!stop) {
    if (!ReadSome(master, in, 10)) return false;
    for (size_t at; (at = in.find("........QV", answered)) != std::string::npos;) {
      answered = at + 10;
      if (!WriteAll(master, "RX", stop)) return false;
    }
    const size_t header = in.find(".SP");
    if (header != std::string::npos && in.size() >= header + 19) return true;
  }
  return false;
}

// Asks for the range again and again, each time once fwp has sent what the
// last request asked for.
void AskForever(int master, const std::atomic<bool>& stop, uint32_t start, uint32_t end,
                size_t blockBytes) {
  if (!AnswerSyncsUntilAHeader(master, stop)) return;
  std::string in;
  while (!stop) {
    if (!WriteAll(master, "BR" + U32(start) + U32(end), stop)) return;
    in.clear();
    while (!stop && in.size() < blockBytes)
      if (!ReadSome(master, in, 10)) return;
  }
}

// Asks for the whole image, then reads nothing more.
void StopReading(int master, const std::atomic<bool>& stop, uint32_t length) {
  if (!AnswerSyncsUntilAHeader(master, stop)) return;
  WriteAll(master, "BR" + U32(0x10000) + U32(0x10000 + length - 1), stop);
  while (!stop) usleep(1000);
}

// Sends one byte over and over, as fast as the line takes it.
void Flood(int master, const std::atomic<bool>& stop) {
  const std::string x(4096, 'x');
  std::string in;
  while (!stop) {
    ReadSome(master, in, 0);
    in.clear();
    pollfd p = {master, POLLOUT, 0};
    if (poll(&p, 1, 10) > 0 && (p.revents & POLLOUT)) {
      if (write(master, x.data(), x.size()) < 0 && errno != EAGAIN) return;
    }
  }
}

struct HostileCase {
  const char* name;
  std::function<void(int, const std::atomic<bool>&)> receiver;
  uint32_t appLength;
  std::string out;  // standard output, exactly
};

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.name;
}

std::string Repeated(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// The loader answers the first sync, at 4800 bit/s.
const std::string kIsp4800 = kBanner + "ISP mode 4800 bps\nAddr : 0x00010000";

std::vector<HostileCase> HostileCases() {
  using namespace std::placeholders;
  // 1000 bytes are asked for each time: (8 * 1000 + 65536) / 1000 = 73
  // answers, then the 74th request is one too many.
  const size_t wholeImage = 1000 + 4 * 8;
  return {
      {"AsksForTheSameRangeForever", std::bind(AskForever, _1, _2, 0x10000, 0x103E7, wholeImage),
       1000, kIsp4800 + Repeated(Update(0x10000), 74) + "\nWrong message!" + kNotFound},
      // 256 requests in a row that ask for nothing end the run.
      {"AsksForNothingForever", std::bind(AskForever, _1, _2, 0x10010, 0x10000, 0), 1000,
       kIsp4800 + Repeated(Update(0x10010), 256) + "\nWrong message!" + kNotFound},
      // fwp's writes stall for 2 s: the line is gone.
      {"StopsReading", std::bind(StopReading, _1, _2, 1 << 20), 1 << 20,
       kIsp4800 + Update(0x10000) + kNoResponse},
      // Nothing but noise: detection gives up after its full scan.
      {"Floods", Flood, 1000, kBanner + kNotFound},
  };
}

class HostileTest : public SimTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileTest, EndsAndLeavesThePortAsFound) {
  const HostileCase& c = GetParam();
  Pty line;
  const std::string before = Settings(line.master);
  std::atomic<bool> stop{false};
  std::thread receiver(c.receiver, line.master, std::cref(stop));
  const ProgramResult r =
      Fwp({"-uart", line.device, "-app", WriteFile("app.bin", SeededImage(c.appLength, 5))});
  stop = true;
  receiver.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == c.out) << r.out.size() << " bytes: " << r.out.substr(0, 200);
  EXPECT_EQ(Settings(line.master), before);
  std::string why;
  EXPECT_NE(PlatformPortOpener().open(line.device.c_str(), 115200, &why), nullptr) << why;
}

INSTANTIATE_TEST_SUITE_P(Receivers, HostileTest, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& p) {
                           return std::string(p.param.name);
                         });

// A second Ctrl-C ends fwp at once, even in the middle of a stalled write,
// and the port is put back as it was all the same.
TEST_F(SimTest, ASecondInterruptEndsAtOnceAndPutsThePortBack) {
  Pty line;
  const std::string before = Settings(line.master);
  std::atomic<bool> stop{false};
  std::thread receiver(StopReading, line.master, std::cref(stop), 1 << 20);
  RunOptions options;
  options.signal = SIGINT;
  options.signalAfter = "Addr";
  options.signalDelayMs = 300;  // inside the two seconds a stalled write waits
  options.signalRepeatMs = 100;
  const ProgramResult r =
      Fwp({"-uart", line.device, "-app", WriteFile("app.bin", SeededImage(1 << 20, 5))}, options);
  stop = true;
  receiver.join();
  EXPECT_EQ(r.status, 128 + SIGINT);
  EXPECT_LT(r.afterSignalMs, 1000);
  EXPECT_EQ(Settings(line.master), before);
}

// Unplugged while Boot is the only image: that is no write protection.
TEST_F(SimTest, BootOnALineThatWentAwayIsNoResponse) {
  SimProcess sim(
      {"--loader", "115200", "--no-timing", "--fault", "header:gone:1", "--flash-out", flashOut});
  const ProgramResult r =
      Fwp({"-uart", sim.comName(), "-boot", WriteFile("boot.bin", SeededImage(300, 1))});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + "DSU mode 115200 bps\nAddr : 0x00000000" + kNoResponse);
  EXPECT_EQ(sim.wait(), 0) << sim.stderrText();
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({})) << "flash differs";
}

}  // namespace
