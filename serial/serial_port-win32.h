// What the Win32 serial link exposes beyond serial_port.h: the time-outs it
// runs with, and the port calls it makes, which a test replaces to force an
// error.
//
// Time-outs: the total read time-out's constant part is 1 ms. The port's
// read interval time-out stays, since it can only end a read sooner; its
// per-byte read multiplier is dropped, because with it a 99-byte read of a
// silent line would wait 99 times as long as the multiplier, far past the
// millisecond that the programmer's polling waits count on. The write
// time-outs stay as reported unless the port reports none (both zero), in
// which case a write may take 2 s: a line that takes nothing must not hold a
// write for ever.
//
// Threads: LinkTimeouts anywhere (a pure function); a link's calls on the
// thread that uses the link.
#ifndef VELMORA_SERIAL_SERIAL_PORT_WIN32_H_
#define VELMORA_SERIAL_SERIAL_PORT_WIN32_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "serial/serial_port.h"

COMMTIMEOUTS LinkTimeouts(const COMMTIMEOUTS& reported);

// The calls a link makes on its open port, each the Win32 call of the same
// name (synchronous, no overlapped structure); a failed call leaves its code
// for GetLastError. A test's fake forwards them all and makes one fail.
class CommCalls {
 public:
  virtual ~CommCalls() = default;
  virtual BOOL GetCommState(HANDLE port, DCB* state);
  virtual BOOL SetCommState(HANDLE port, DCB* state);
  virtual BOOL ReadFile(HANDLE port, void* buffer, DWORD count, DWORD* got);
  virtual BOOL WriteFile(HANDLE port, const void* data, DWORD count, DWORD* written);
  virtual BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status);
};

// Opens `portName` as PlatformPortOpener() does, the link making its calls
// through `calls`, which must outlive it.
std::unique_ptr<SerialLink> OpenWin32Link(const char* portName, uint32_t baud, std::string* why,
                                          CommCalls& calls);

#endif  // VELMORA_SERIAL_SERIAL_PORT_WIN32_H_
