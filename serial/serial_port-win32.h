// The time-outs a Win32 serial link runs with, from those the port reported
// at open.
//
// The total read time-out's constant part is 1 ms. The port's read interval
// time-out stays, since it can only end a read sooner; its per-byte read
// multiplier is dropped, because with it a 99-byte read of a silent line
// would wait 99 times as long as the multiplier, far past the millisecond
// that the programmer's polling waits count on. The write time-outs stay as
// reported unless the port reports none (both zero), in which case a write
// may take 2 s: a line that takes nothing must not hold a write for ever.
//
// Threads: any; a pure function.
#ifndef VELMORA_SERIAL_SERIAL_PORT_WIN32_H_
#define VELMORA_SERIAL_SERIAL_PORT_WIN32_H_

#include <windows.h>

COMMTIMEOUTS LinkTimeouts(const COMMTIMEOUTS& reported);

#endif  // VELMORA_SERIAL_SERIAL_PORT_WIN32_H_
