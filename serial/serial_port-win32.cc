// The serial link on a Windows COM port.
//
// A port is opened by its name behind the "\\.\" prefix, for reading and
// writing, shared with nobody, for synchronous use. The line is set to the
// rate asked for, 8 data bits, no parity and one stop bit, and the driver's
// abort-on-error mode is turned off; every other line setting stays as the
// port reports it (flow control, modem lines, special characters). A
// settings record whose reading failed is never applied.
//
// Time-outs: a read returns within about 1 ms whatever the port reported
// (serial_port-win32.h, LinkTimeouts).
//
// A line error (a framing, parity or overrun error, or a call the driver
// aborted because of one) does not end the run: a read or write that fails
// so clears the port's error state (ClearCommError) and is tried again. A
// line whose device has gone (a read or write fails with an error that says
// so, or the status query fails: after a failed call, and after a read that
// brought nothing), or that takes nothing for two seconds, is going: from
// then on writes fail at once, and once a read finds nothing more to take,
// it has gone (gone()).
//
// The settings and time-outs the port had before the open are put back when
// the link is closed.
#include "serial/serial_port-win32.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "serial/line_state.h"
#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long a read waits for its bytes, milliseconds.
constexpr DWORD kReadTimeoutMs = 1;
// How long a write waits for a device that takes nothing.
constexpr auto kWriteStall = std::chrono::seconds(2);
constexpr DWORD kWriteStallMs = 2000;
// How often a write that got nothing in its time-out tries again, ms.
constexpr DWORD kWriteRetryMs = 5;
// The most one ReadFile or WriteFile is asked for.
constexpr size_t kMaxTransfer = 1u << 30;

// Whether a failed read or write's `error` says that the device has gone
// (unplugged, or its driver stopped), rather than that the line had an
// error.
bool DeviceGone(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

class Win32SerialLink : public SerialLink {
 public:
  // Takes `handle`; `state` and `timeouts` are what the port reported before
  // the open, null when it could not be read.
  Win32SerialLink(CommCalls& calls, HANDLE handle, const DCB* state, const COMMTIMEOUTS* timeouts)
      : calls_(calls),
        handle_(handle),
        state_(state ? *state : DCB{}),
        haveState_(state != nullptr),
        timeouts_(timeouts ? *timeouts : COMMTIMEOUTS{}),
        haveTimeouts_(timeouts != nullptr) {}

  ~Win32SerialLink() override {
    // What was written goes out at the rate it was written at before the
    // port gets its own settings back; a gone line has nothing to send.
    if (!line_.gone()) FlushFileBuffers(handle_);
    if (haveState_) calls_.SetCommState(handle_, &state_);
    if (haveTimeouts_) SetCommTimeouts(handle_, &timeouts_);
    CloseHandle(handle_);
  }

  bool gone() const override { return line_.gone(); }

  void setBaudRate(uint32_t baud) override {
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!calls_.GetCommState(handle_, &dcb)) return;
    dcb.BaudRate = baud;
    calls_.SetCommState(handle_, &dcb);
    FlushFileBuffers(handle_);
  }

  void drain() override { FlushFileBuffers(handle_); }

  bool write(const void* data, size_t count) override {
    if (line_.writeFailed()) return false;
    const uint8_t* next = static_cast<const uint8_t*>(data);
    size_t left = count;
    auto lastProgress = SteadyClock::now();
    while (left > 0) {
      DWORD written = 0;
      const DWORD ask = static_cast<DWORD>(std::min(left, kMaxTransfer));
      if (!calls_.WriteFile(handle_, next, ask, &written) && !lineErrorCleared())
        return line_.failWrite();
      if (written > 0) {
        next += written;
        left -= written;
        lastProgress = SteadyClock::now();
        continue;
      }
      // The write time-out ran out, or a line error was cleared, with
      // nothing taken.
      if (SteadyClock::now() - lastProgress >= kWriteStall) return line_.failWrite();
      Sleep(kWriteRetryMs);
    }
    return true;
  }

  size_t read(void* buffer, size_t count) override {
    if (count == 0) return 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kReadTimeoutMs);
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min(count, kMaxTransfer));
    if (!calls_.ReadFile(handle_, buffer, ask, &got)) {
      if (!lineErrorCleared()) return line_.failRead(deadline, got);
      // Once more, for what came after the error; a second line error in a
      // row is cleared too, and this read brings what it brought.
      got = 0;
      if (!calls_.ReadFile(handle_, buffer, ask, &got) && !lineErrorCleared())
        return line_.failRead(deadline, got);
      if (got == 0) std::this_thread::sleep_until(deadline);
      return got;
    }
    if (got == 0 && line_.writeFailed()) return line_.failRead(deadline, got);
    // A read that brought nothing asks whether the port is still there: some
    // drivers (Wine's, on a terminal that has hung up) report a removed
    // device only to the status query, never as a failed read.
    DWORD errors = 0;
    COMSTAT status;
    if (got == 0 && !calls_.ClearCommError(handle_, &errors, &status))
      return line_.failRead(deadline, got);
    return got;
  }

 private:
  // After a read or write failed: whether it was a line error, now cleared
  // so that the port takes and gives bytes again. False when the error says
  // the device has gone, or the status query that clears it fails.
  bool lineErrorCleared() {
    if (DeviceGone(GetLastError())) return false;
    DWORD errors = 0;
    COMSTAT status;
    return calls_.ClearCommError(handle_, &errors, &status);
  }

  CommCalls& calls_;
  const HANDLE handle_;
  DCB state_;  // not const: the system's calls take them unqualified
  const bool haveState_;
  COMMTIMEOUTS timeouts_;
  const bool haveTimeouts_;
  LineState line_;
};

// The system's text for `error`, without its line end.
std::string ErrorText(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  if (s.empty()) s = "error";
  return s + " (" + std::to_string(error) + ")";
}

std::string OpenFailure(DWORD error, const std::string& portName) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such port: " + portName;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return portName + " is busy: another program has it open";
    default:
      return "cannot open " + portName + ": " + ErrorText(error);
  }
}

class Win32PortOpener : public PortOpener {
 public:
  std::unique_ptr<SerialLink> open(const char* portName, uint32_t baud, std::string* why) override {
    static CommCalls platformCalls;
    return OpenWin32Link(portName, baud, why, platformCalls);
  }
};

std::unique_ptr<SerialLink> TryOpen(const std::string& portName, uint32_t baud, std::string* why,
                                    CommCalls& calls) {
  const std::string path = DevicePathForPort(portName, why);
  if (path.empty()) return nullptr;
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *why = OpenFailure(GetLastError(), portName);
    return nullptr;
  }
  DCB state = {};
  state.DCBlength = sizeof state;
  const bool haveState = calls.GetCommState(handle, &state);
  COMMTIMEOUTS timeouts = {};
  const bool haveTimeouts = GetCommTimeouts(handle, &timeouts);
  // From here on the link owns the handle and puts back what it read.
  auto link = std::make_unique<Win32SerialLink>(calls, handle, haveState ? &state : nullptr,
                                                haveTimeouts ? &timeouts : nullptr);
  if (haveState) {
    DCB line = state;
    line.BaudRate = baud;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    // With it, one framing error (easily had while the rates are scanned)
    // would fail every later read and write until the error is cleared.
    line.fAbortOnError = FALSE;
    calls.SetCommState(handle, &line);
  }
  // Without the port's own time-outs, the link's alone: nothing read is
  // applied, and the read contract still holds.
  COMMTIMEOUTS applied = LinkTimeouts(haveTimeouts ? timeouts : COMMTIMEOUTS{});
  SetCommTimeouts(handle, &applied);
  link->drain();
  return link;
}

}  // namespace

BOOL CommCalls::GetCommState(HANDLE port, DCB* state) {
  return ::GetCommState(port, state);
}
BOOL CommCalls::SetCommState(HANDLE port, DCB* state) {
  return ::SetCommState(port, state);
}
BOOL CommCalls::ReadFile(HANDLE port, void* buffer, DWORD count, DWORD* got) {
  return ::ReadFile(port, buffer, count, got, nullptr);
}
BOOL CommCalls::WriteFile(HANDLE port, const void* data, DWORD count, DWORD* written) {
  return ::WriteFile(port, data, count, written, nullptr);
}
BOOL CommCalls::ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status) {
  return ::ClearCommError(port, errors, status);
}

std::unique_ptr<SerialLink> OpenWin32Link(const char* portName, uint32_t baud, std::string* why,
                                          CommCalls& calls) {
  std::string reason;
  std::unique_ptr<SerialLink> link = TryOpen(portName ? portName : "", baud, &reason, calls);
  if (!link && why) *why = reason;
  return link;
}

COMMTIMEOUTS LinkTimeouts(const COMMTIMEOUTS& reported) {
  COMMTIMEOUTS t = reported;
  t.ReadTotalTimeoutConstant = kReadTimeoutMs;
  t.ReadTotalTimeoutMultiplier = 0;
  if (t.WriteTotalTimeoutConstant == 0 && t.WriteTotalTimeoutMultiplier == 0)
    t.WriteTotalTimeoutConstant = kWriteStallMs;
  return t;
}

PortOpener& PlatformPortOpener() {
  static Win32PortOpener opener;
  return opener;
}
