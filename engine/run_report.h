// The end of a run: each image's outcome, the record of what the last run
// did, and the run report that a complete run prints.
//
// State: g_startTime and g_lastRun live in process-wide storage without
// locks, written by the run on the thread that runs the programmer. One run
// at a time.
#ifndef VELMORA_ENGINE_RUN_REPORT_H_
#define VELMORA_ENGINE_RUN_REPORT_H_

#include <cstdint>
#include <string>

#include "engine/image_set.h"

// Image outcomes, per slot, as the transfer records them for the run report.
enum ImageOutcome {
  kNotWritten = 0,
  kWritten = 1,
  kWriteProtected = 2,  // Boot only: no answer to its header
  kFailed = 3,
  kNoResponse = 4,
};

// What the last run did, for a front end that tells the user how a run
// ended: which slots had images, each slot's outcome as the transfer recorded
// it, whether every image was handled and the run report printed, and
// whether an abort (progress.h) cut the run short. Reset at the start of
// every run.
struct RunRecord {
  bool present[kSlotCount] = {};
  int outcomes[kSlotCount] = {};
  bool complete = false;
  bool aborted = false;
};
extern RunRecord g_lastRun;

// The engine clock's reading right after the port opened; the run report's
// programming time counts from it.
extern int32_t g_startTime;

// Prints the run report for the 13 outcomes and waits for a key.
void PrintRunReport(const int outcomes[kSlotCount]);

// One line on the last run's images, for a run that was cut short: the names
// of the images written and of those not written, in slot order, e.g.
// "written: ALMANAC, APP CODE; not written: USER_DATA CODE" ("none" for an
// empty list; a write-protected Boot counts as not written).
std::string DescribeImagesWritten();

#endif  // VELMORA_ENGINE_RUN_REPORT_H_
