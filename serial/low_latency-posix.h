// The serial driver's low-latency mode, on Linux.
//
// A USB-serial adapter of the FTDI kind holds the bytes it receives until 62
// are pending or its latency timer runs out, 16 ms by default, so each of the
// loader's 10-byte block requests can reach the programmer up to 16 ms late.
// Asked for low-latency mode (ASYNC_LOW_LATENCY, through TIOCGSERIAL and
// TIOCSSERIAL), ftdi_sio sets that timer to 1 ms; it needs no root. Other
// drivers keep the flag or ignore it; a pseudo-terminal has no such flags at
// all. None of that is a failure: the port works either way, only slower.
//
// Threads and signals: any; every call is a pair of ioctls on a stack
// record, safe in a signal handler.
#ifndef VELMORA_SERIAL_LOW_LATENCY_POSIX_H_
#define VELMORA_SERIAL_LOW_LATENCY_POSIX_H_

// The driver's serial flags (serial_struct.flags) of the terminal open on
// `fd`; -1 when it has none (TIOCGSERIAL fails, as on a pseudo-terminal).
int SerialFlags(int fd);

// Whether `flags`, as SerialFlags gives them, have low-latency mode on.
bool LowLatencyOn(int flags);

// Turns the driver's low-latency mode on or off, leaving every other setting
// as the driver reports it. False when the driver has no such flags or
// refuses.
bool SetLowLatency(int fd, bool on);

#endif  // VELMORA_SERIAL_LOW_LATENCY_POSIX_H_
