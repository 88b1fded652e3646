// The programming run: the engine's entry and what one run owns.
//
// ProgrammerMain takes the words of a console command line, loads the named
// image files whole, opens the serial port, has the receiver found and
// switched to the programming rate, has the images written and returns a
// result code. It prints every step to the engine console in fixed wording.
//
// Results: 0 failure or nothing done (no words, a help word, an argument or
// file error, no port, no receiver, no loader, no answer, a wrong reply);
// 1 the receiver's loader is ready but no image was given; 2 every image was
// handled and the run report printed; 3 the receiver reported a failed image.
// Note that 0, not 2, means failure.
//
// State: the programming rate (detect.h), the image set (image_set.h), the
// start time and the last run's record (run_report.h) and the shared port
// live in process-wide storage without locks. One run at a time; not
// reentrant. Every run that loaded images ends with the port closed and every
// image buffer released, whatever its outcome.
#ifndef VELMORA_ENGINE_PROGRAMMER_H_
#define VELMORA_ENGINE_PROGRAMMER_H_

#include "engine/image_set.h"
#include "engine/run_report.h"

// The engine's entry. Words 1 to count - 1 are read, never word 0; they must
// stay valid until the call returns.
//
// A line that goes away during detection ends the run with "\nDevice no
// response!\n" before "Device not found!\n". An abort ends it at once and
// quietly: nothing more is printed, the port is closed and the images are
// released as on every other path, and g_lastRun.aborted tells.
int ProgrammerMain(int count, char** words);

#endif  // VELMORA_ENGINE_PROGRAMMER_H_
