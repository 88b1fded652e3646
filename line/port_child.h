// A port's child process: one receiver's programming run, away from the
// other ports, reported over a pipe (child_protocol.h).
//
// The engine keeps its state process-wide and serves one run at a time, so
// velmora-line runs each port's engine in a process of its own. The child
// runs ProgrammerMain with the programmer's words and -uart PORT, its printed
// output, its progress messages and its stages going to the pipe; it never
// waits for a key (the run report's wait ends at once) and writes nothing to
// the terminal. In station mode it first watches the port until the receiver
// there has been replaced (replacement.h), reading it at the watch rate.
//
// Stopping: the first SIGINT, SIGTERM or SIGHUP aborts the run as fwp's does
// (every wait ends at once, nothing more is sent, the port is closed with its
// settings put back) or ends the watch; the child then reports its result
// and ends. A second one ends it at once, after putting back the port's
// settings. The child is in a process group of its own, so a Ctrl-C on the
// terminal reaches only velmora-line, which passes the stop on; and it gets
// SIGTERM when velmora-line itself dies. It has no controlling terminal and
// ignores SIGTTOU and SIGTTIN, so no terminal's job control ever stops it,
// even when its port is the terminal velmora-line was started from.
//
// Threads: call from a single-threaded process (it forks).
#ifndef VELMORA_LINE_PORT_CHILD_H_
#define VELMORA_LINE_PORT_CHILD_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct ChildPlan {
  std::string port;                // the -uart value
  std::vector<std::string> words;  // the programmer's words, without -uart
  std::string tracePath;           // the run's serial trace; "" for none
  bool watchFirst = false;         // station mode: wait for a replaced receiver first
  int watchBaud = 9600;            // the rate the port is watched at
  int64_t quietMs = 5000;          // the line counts as quiet after this long
  int startGate = -1;              // a pipe's read end: the child takes one byte from it
                                   // before it starts; -1 starts at once
};

// Puts `length` bytes in an anonymous in-memory file that the children
// inherit, so that each run sends exactly the bytes checked up front, and
// returns the path that opens it in the children ("/proc/self/fd/N"); ""
// when it could not be made.
std::string ShareImage(const uint8_t* data, int32_t length);

// Starts the child. Returns its process id and, in `readFd`, the read end of
// its pipe (non-blocking, closed on exec); -1 when it could not be started.
// With a start gate the child waits, its signal handling already in place,
// until the caller writes a byte to the gate (one byte per child) or stops it.
// Starting many children behind one gate keeps the first ones from taking
// the processor from the starts of the others, so their runs begin together.
pid_t StartPortChild(const ChildPlan& plan, int* readFd);

#endif  // VELMORA_LINE_PORT_CHILD_H_
