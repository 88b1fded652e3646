// The stages of a run, for a front end that shows them (velmora-line).
//
// The engine tells the run's observer (RunHooks, run_hooks.h), when it has
// one, where the run stands: the receiver being looked for, found (its loader
// answering the sync string, or its firmware's sentences at a rate), switched
// to the programming rate, each image started, and each image's outcome. It
// never waits for the observer and never reads anything back, so a run goes
// the same way with or without one. fwp and velmora hook in none.
//
// Threads: the calls come from the thread that runs the programmer, in the
// order the run passes the stages.
#ifndef VELMORA_ENGINE_RUN_OBSERVER_H_
#define VELMORA_ENGINE_RUN_OBSERVER_H_

#include <cstdint>

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The port is open and detection starts.
  virtual void detecting() noexcept = 0;
  // The loader answered the sync string at `baud` (the programming rate
  // becomes `baud`; nothing is switched).
  virtual void loaderFound(int32_t baud) noexcept = 0;
  // The firmware's sentences were found at `baud`.
  virtual void firmwareFound(int32_t baud) noexcept = 0;
  // The baud switch sentence was sent and the port moved to `baud`.
  virtual void switched(int32_t baud) noexcept = 0;
  // The header of the image in `slot` (0 to 12) is about to be sent.
  virtual void writingImage(int32_t slot) noexcept = 0;
  // The image in `slot` ended with `outcome` (an ImageOutcome of
  // programmer.h; kNotWritten when the run ended it by a wrong reply or a
  // stop).
  virtual void imageDone(int32_t slot, int32_t outcome) noexcept = 0;
};

#endif  // VELMORA_ENGINE_RUN_OBSERVER_H_
