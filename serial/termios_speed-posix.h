// Line rates in bit/s and the terminal interface's speed constants, both
// ways. Shared by the serial backend and the simulator's pseudo-terminal.
//
// Threads: any; the table is constant.
#ifndef VELMORA_SERIAL_TERMIOS_SPEED_POSIX_H_
#define VELMORA_SERIAL_TERMIOS_SPEED_POSIX_H_

#include <termios.h>

#include <cstdint>

// The constant for `baud` bit/s; false when the terminal interface has none.
bool TermiosSpeedForBaud(uint32_t baud, speed_t* speed);

// The rate of a speed constant in bit/s; 0 for B0 and for constants not known.
uint32_t BaudForTermiosSpeed(speed_t speed);

#endif  // VELMORA_SERIAL_TERMIOS_SPEED_POSIX_H_
