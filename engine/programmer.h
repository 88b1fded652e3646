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
// State: the programming rate, the image set, the start time and the shared
// port live in process-wide storage without locks. One run at a time; not
// reentrant. Every run that loaded images ends with the port closed and every
// image buffer released, whatever its outcome.
#ifndef VELMORA_ENGINE_PROGRAMMER_H_
#define VELMORA_ENGINE_PROGRAMMER_H_

#include <cstdint>
#include <memory>
#include <string>

constexpr int kSlotCount = 13;

// One row of the image table: slot index = table index = write order.
struct ImageInfo {
  const char* key;         // option word without its "-", e.g. "app"
  const char* missing;     // message when the option has no path
  uint32_t address;        // write address in the receiver's flash
  const char* reportLine;  // run report line for a written image
};
extern const ImageInfo kImageTable[kSlotCount];

// The rates that -baud accepts, in the order detection tries them.
constexpr int kRateTable[7] = {4800, 9600, 19200, 38400, 57600, 115200, 230400};

// 13 image slots. A slot is present when it has a buffer (also for an empty
// file); length is the file's length in bytes.
struct ImageSet {
  struct Slot {
    std::unique_ptr<uint8_t[]> data;
    int32_t length = 0;
  };
  Slot slot[kSlotCount];

  bool present(int i) const { return slot[i].data != nullptr; }
  // Frees every buffer and empties every slot.
  void release();
};

// The images of the current run.
extern ImageSet g_imageSet;

// The programming baud rate: 115200 at process start, set by -baud, changed by
// detection when the loader answers at another rate. It survives a run.
extern int g_programmingBaud;

// The engine clock's reading right after the port opened; the run report's
// programming time counts from it.
extern int32_t g_startTime;

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

// The engine's entry. Words 1 to count - 1 are read, never word 0; they must
// stay valid until the call returns.
//
// A line that goes away during detection ends the run with "\nDevice no
// response!\n" before "Device not found!\n". An abort ends it at once and
// quietly: nothing more is printed, the port is closed and the images are
// released as on every other path, and g_lastRun.aborted tells.
int ProgrammerMain(int count, char** words);

// One line on the last run's images, for a run that was cut short: the names
// of the images written and of those not written, in slot order, e.g.
// "written: ALMANAC, APP CODE; not written: USER_DATA CODE" ("none" for an
// empty list; a write-protected Boot counts as not written).
std::string DescribeImagesWritten();

// The image's name in the run report: "BOOT CODE", "APP CODE", "NINDEX CODE".
std::string ImageName(int slot);

// Prints the run report for the 13 outcomes and waits for a key.
void PrintRunReport(const int outcomes[kSlotCount]);

#endif  // VELMORA_ENGINE_PROGRAMMER_H_
