// Making sure a program's standard input, output and error are open.
//
// A program started with one of them closed (`fwp ... >&-`) would hand that
// descriptor number to the next file it opens: the serial port would become
// standard output, and the program's own messages would go down the line into
// the receiver (or into a log). So every program's main calls
// EnsureStandardDescriptors() first, before it opens anything: descriptors 0,
// 1 and 2 that are closed are opened on /dev/null, and what the program
// prints there is lost, as it would have been.
//
// On Windows the standard handles are no small numbers that a later open
// reuses; there the call does nothing.
//
// Threads: call once, from main, before any other thread starts.
#ifndef VELMORA_SERIAL_STANDARD_DESCRIPTORS_H_
#define VELMORA_SERIAL_STANDARD_DESCRIPTORS_H_

// Opens the closed ones of descriptors 0, 1 and 2 on /dev/null. When
// /dev/null cannot be opened, ends the process with status 127: nothing the
// program could open afterwards would be safe.
void EnsureStandardDescriptors();

#endif  // VELMORA_SERIAL_STANDARD_DESCRIPTORS_H_
