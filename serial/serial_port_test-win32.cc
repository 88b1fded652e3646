// The Win32 serial backend against two COM ports joined like a null-modem
// cable: $VELMORA_TEST_COM_A and $VELMORA_TEST_COM_B (scripts/test-windows.sh
// maps them, under Wine, to the two ends of scripts/null-modem.py).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "serial/serial_port-win32.h"
#include "serial/serial_port.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Processor time of this process, ms (clock() counts wall time on Windows).
double CpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

// Wine lets a device be opened twice although the first open shared it with
// nobody; Windows refuses the second.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

double ElapsedMs(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

class NullModemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* a = std::getenv("VELMORA_TEST_COM_A");
    const char* b = std::getenv("VELMORA_TEST_COM_B");
    if (!a || !b) GTEST_SKIP() << "VELMORA_TEST_COM_A/B name no COM ports";
    a_ = a;
    b_ = b;
  }

  static SerialPort::Handle Open(const std::string& name, uint32_t baud = 115200) {
    std::string why;
    SerialPort::Handle link = PlatformPortOpener().open(name.c_str(), baud, &why);
    EXPECT_TRUE(link) << name << ": " << why;
    return link;
  }

  // Reads until `count` bytes arrived or a second passed.
  static std::string ReadAll(SerialLink& link, size_t count) {
    std::string got;
    const auto start = SteadyClock::now();
    while (got.size() < count && ElapsedMs(start) < 1000) {
      char buf[256];
      got.append(buf, link.read(buf, std::min(sizeof buf, count - got.size())));
    }
    return got;
  }

  static DCB State(const std::string& name) {
    const std::string path = "\\\\.\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << name;
    EXPECT_TRUE(GetCommState(h, &dcb));
    CloseHandle(h);
    return dcb;
  }

  std::string a_, b_;
};

// Fields in the order ReadInterval, ReadMultiplier, ReadConstant,
// WriteMultiplier, WriteConstant.
TEST(LinkTimeoutsTest, KeepTheReadContractWhateverThePortReported) {
  const struct {
    COMMTIMEOUTS reported, applied;
  } cases[] = {
      {{0, 0, 0, 0, 0}, {0, 0, 1, 0, 2000}},                // none at all
      {{MAXDWORD, 0, 0, 0, 0}, {MAXDWORD, 0, 1, 0, 2000}},  // return at once
      {{MAXDWORD, MAXDWORD, 50, 0, 0}, {MAXDWORD, 0, 1, 0, 2000}},
      {{10, 50, 500, 5, 100}, {10, 0, 1, 5, 100}},  // a slow reader's
      {{0, 0, 0, 0, 300}, {0, 0, 1, 0, 300}},       // its own write limit
  };
  for (const auto& c : cases) {
    const COMMTIMEOUTS t = LinkTimeouts(c.reported);
    EXPECT_EQ(t.ReadIntervalTimeout, c.applied.ReadIntervalTimeout);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, c.applied.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, c.applied.ReadTotalTimeoutConstant);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, c.applied.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, c.applied.WriteTotalTimeoutConstant);
  }
}

TEST_F(NullModemTest, EveryByteValueCrossesUnchangedBothWaysAtEveryRate) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (uint32_t baud : {4800u, 115200u, 230400u}) {
    auto a = Open(a_, 9600);
    auto b = Open(b_, 9600);
    ASSERT_TRUE(a && b);
    a->setBaudRate(baud);
    b->setBaudRate(baud);
    ASSERT_TRUE(a->write(all.data(), all.size()));
    EXPECT_EQ(ReadAll(*b, all.size()), all) << baud;
    ASSERT_TRUE(b->write("EX", 2));
    EXPECT_EQ(ReadAll(*a, 3), "EX") << baud;
  }
}

TEST_F(NullModemTest, CloseRestoresThePortsSettings) {
  {
    // Leave the port at 4800 and two stop bits, as another program might.
    const std::string path = "\\\\.\\" + a_;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h, &dcb));
    dcb.BaudRate = 4800;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(SetCommState(h, &dcb));
    CloseHandle(h);
  }
  {
    auto link = Open(a_, 57600);
    ASSERT_TRUE(link);
    link.reset();
  }
  const DCB after = State(a_);
  EXPECT_EQ(after.BaudRate, 4800u);
  EXPECT_EQ(after.StopBits, TWOSTOPBITS);
}

TEST_F(NullModemTest, SilentReadTakesAboutOneMillisecond) {
  auto link = Open(a_);
  ASSERT_TRUE(link);
  uint8_t byte[99];
  auto start = SteadyClock::now();
  EXPECT_EQ(link->read(byte, 1), 0u);
  EXPECT_LT(ElapsedMs(start), 20);

  start = SteadyClock::now();
  const double cpuStart = CpuMs();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(link->read(byte, sizeof byte), 0u);
  const double ms = ElapsedMs(start);
  EXPECT_GT(ms, 50);
  EXPECT_LT(ms, 1000);
  EXPECT_LT(CpuMs() - cpuStart, ms / 2) << "the reads spin";
}

TEST_F(NullModemTest, OpensThatCannotSucceedFailWithAReason) {
  const struct {
    std::string name, why;
  } cases[] = {
      {"COM255", "no such port: COM255"},
      {"COM" + std::string(93, '1'), "the port name is longer than 95 characters"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(PlatformPortOpener().open(c.name.c_str(), 115200, &why)) << c.name;
    EXPECT_EQ(why, c.why);
  }
}

// Forwards every call to the port and fails the chosen one: the next
// `failReads` ReadFile calls (or WriteFile calls) with `error`, each time
// before the port is asked, and ClearCommError too when `statusFails`. The
// port reports fAbortOnError set, as a driver may leave it; the settings
// applied are recorded.
class FaultyCalls : public CommCalls {
 public:
  int failReads = 0, failWrites = 0, clears = 0;
  DWORD error = ERROR_OPERATION_ABORTED;
  bool statusFails = false;
  std::vector<DCB> applied;

  BOOL GetCommState(HANDLE port, DCB* state) override {
    const BOOL ok = CommCalls::GetCommState(port, state);
    state->fAbortOnError = TRUE;
    return ok;
  }
  BOOL SetCommState(HANDLE port, DCB* state) override {
    applied.push_back(*state);
    return CommCalls::SetCommState(port, state);
  }
  BOOL ReadFile(HANDLE port, void* buffer, DWORD count, DWORD* got) override {
    if (failReads > 0) return --failReads, Fail(got);
    return CommCalls::ReadFile(port, buffer, count, got);
  }
  BOOL WriteFile(HANDLE port, const void* data, DWORD count, DWORD* written) override {
    if (failWrites > 0) return --failWrites, Fail(written);
    return CommCalls::WriteFile(port, data, count, written);
  }
  BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status) override {
    ++clears;
    if (statusFails) {
      SetLastError(ERROR_BAD_COMMAND);
      return FALSE;
    }
    return CommCalls::ClearCommError(port, errors, status);
  }

 private:
  BOOL Fail(DWORD* count) {
    *count = 0;
    SetLastError(error);
    return FALSE;
  }
};

// The driver's abort-on-error mode is off while the link has the port, and
// comes back with the port's other settings when it closes.
TEST_F(NullModemTest, AbortOnErrorIsOffWhileOpenAndPutBackAtClose) {
  FaultyCalls calls;
  OpenWin32Link(a_.c_str(), 115200, nullptr, calls).reset();
  ASSERT_EQ(calls.applied.size(), 2u);
  EXPECT_FALSE(calls.applied[0].fAbortOnError);
  EXPECT_EQ(calls.applied[0].BaudRate, 115200u);
  EXPECT_TRUE(calls.applied[1].fAbortOnError);
}

// A read or write that fails with a line error is cleared and tried again:
// the bytes still cross and the line stays. An error that says the device
// has gone, or a status query that fails, ends the line.
TEST_F(NullModemTest, OnlyAGoneDeviceEndsTheLine) {
  const struct {
    const char* name;
    DWORD error;
    bool statusFails, gone;
  } cases[] = {
      {"aborted on a line error", ERROR_OPERATION_ABORTED, false, false},
      {"device error", ERROR_IO_DEVICE, false, false},
      {"device removed", ERROR_DEVICE_REMOVED, false, true},
      {"bad command (unplugged)", ERROR_BAD_COMMAND, false, true},
      {"access denied (unplugged)", ERROR_ACCESS_DENIED, false, true},
      {"status query fails", ERROR_OPERATION_ABORTED, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = Open(b_);
    ASSERT_TRUE(b);
    for (const bool reading : {true, false}) {
      FaultyCalls calls;
      calls.error = c.error;
      calls.statusFails = c.statusFails;
      auto a = OpenWin32Link(a_.c_str(), 115200, nullptr, calls);
      ASSERT_TRUE(a);
      (reading ? calls.failReads : calls.failWrites) = 1;
      if (reading) {
        // Nothing is sent to a link whose read fails for good: nothing is
        // left behind for the next case.
        if (c.gone) {
          char buf[2];
          EXPECT_EQ(a->read(buf, 2), 0u);
        } else {
          ASSERT_TRUE(b->write("RX", 2));
          EXPECT_EQ(ReadAll(*a, 2), "RX");
        }
        EXPECT_EQ(a->gone(), c.gone) << "read";
      } else {
        EXPECT_EQ(a->write("EX", 2), !c.gone) << "write";
        EXPECT_EQ(a->write("OK", 2), !c.gone) << "the write after";
        if (!c.gone) {
          EXPECT_EQ(ReadAll(*b, 4), "EXOK");
        }
        // The line error was cleared once; a gone device's was not.
        EXPECT_EQ(calls.clears, c.gone && !c.statusFails ? 0 : 1) << "write";
      }
    }
  }
}

TEST_F(NullModemTest, AHeldPortIsRefusedUntilReleased) {
  if (UnderWine()) GTEST_SKIP() << "Wine does not keep a device's opens exclusive";
  auto held = Open(a_);
  ASSERT_TRUE(held);
  std::string why;
  EXPECT_FALSE(PlatformPortOpener().open(a_.c_str(), 115200, &why));
  EXPECT_EQ(why, a_ + " is busy: another program has it open");
  held.reset();
  EXPECT_TRUE(Open(a_));
}

}  // namespace
