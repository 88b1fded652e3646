// velmora-line's run: the supervisor of one child process per port
// (port_child.h). It checks the images once, up front (image_plan.h), finds
// the ports, starts every port's process behind one start gate, shows their
// rows live on a terminal (or one line per event otherwise), passes a stop
// on to the children, starts the next receiver's run in station mode
// (--repeat), writes the run log and ends with the summary. Linux only so
// far.
//
// Exit status: 0 when every port's run (every receiver's, in station mode)
// completed; 1 when one did not; 2 when nothing was started (an image that
// cannot be read, no ports, a log or trace that cannot be written). Refusals
// go to standard error, one line after "velmora-line: ".
//
// Stopping: the first SIGINT, SIGTERM or SIGHUP passes a stop to every
// child: each run ends at its next check, its port is put back, and it is
// recorded as stopped. A second one ends every child at once (their ports'
// settings put back) and then the run.
//
// Threads: call from the main thread of a single-threaded process (it forks
// and sets the handlers of those signals).
#ifndef VELMORA_LINE_SUPERVISOR_H_
#define VELMORA_LINE_SUPERVISOR_H_

#include "line/line_options.h"

int RunLine(const LineOptions& options);

#endif  // VELMORA_LINE_SUPERVISOR_H_
