// Terminal settings to put back, also when a signal ends the process.
//
// A program that changes a terminal's settings (the serial port's raw 8N1,
// the key wait's single-key mode) remembers the settings it found before it
// changes them, and forgets them once it has put them back itself. When a
// signal must end the process at once, its handler calls
// RestoreSavedTerminals() first, so that no terminal is left raw.
//
// Threads and signals: RememberTerminal and ForgetTerminal from any thread;
// RestoreSavedTerminals from any thread or signal handler (it only loads
// atomics and calls tcsetattr and ioctl, which are async-signal-safe). Up to
// kSavedTerminalSlots settings are held at once.
#ifndef VELMORA_SERIAL_SAVED_TERMINALS_POSIX_H_
#define VELMORA_SERIAL_SAVED_TERMINALS_POSIX_H_

#include <termios.h>

inline constexpr int kSavedTerminalSlots = 8;

// Records `settings` as what `fd` is to be put back to. Returns the record's
// slot, or -1 when every slot is taken (the settings are then restored only
// by their owner).
int RememberTerminal(int fd, const termios& settings);

// Also turns the serial driver's low-latency mode off again for the terminal
// of `slot` (low_latency-posix.h), which the owner turned on (-1 does
// nothing).
void RememberLowLatencyOff(int slot);

// Drops the record in `slot` (-1 does nothing).
void ForgetTerminal(int slot);

// Puts every remembered terminal back to its recorded settings, and its
// driver's low-latency mode off where that was remembered, at once.
void RestoreSavedTerminals();

#endif  // VELMORA_SERIAL_SAVED_TERMINALS_POSIX_H_
