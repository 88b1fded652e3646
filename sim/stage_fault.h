// Faults placed at a stage of a programming run, as the simulated receiver
// (receiver_model.h) takes them: where they strike, what the receiver does
// there, and their names on velmora-sim's command line ("request:noise:3").
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_SIM_STAGE_FAULT_H_
#define VELMORA_SIM_STAGE_FAULT_H_

#include <string>

// Where in a run a StageFault strikes, seen from the receiver. Counts are
// 1-based and run over the receiver's whole life (reboot() keeps them).
enum class Stage {
  kDetect,   // the normal firmware's Nth sentence, and every one after it
  kSwitch,   // the Nth baud switch sentence taken (the loader has just started)
  kSync,     // the Nth sync string the loader receives
  kHeader,   // the Nth image header taken
  kRequest,  // inside the Nth block request: once at least half its bytes have arrived
  kBetween,  // right after the Nth "PC" has been sent, before the next header
};

// What the receiver does there.
//   kSilent  from here on it sends nothing and takes nothing
//   kGone    the line goes away (lineGone()); what was already sent still arrives
//   kOk      "OK" in place of the reply due
//   kRx      "RX" in place of the reply due
//   kNoise   16 noise bytes (0x80..0xFF) in place of the reply due; at kDetect
//            every sentence from the Nth on is sent as noise of its length
//   kPf      "PF" with the image's address and length in place of the reply
//            due; the image is dropped and the loader waits for a header
// The reply due: at kSync the "RX"; at kHeader the header's first answer (a
// block request, or "PC"/"PF" for an empty image); at kRequest the answer due
// once the request is complete (the token goes out at once, mid-request, and
// the loader then waits for a header without answering the rest). At
// kBetween there is none: the token or noise is sent right after the "PC" and
// the loader goes on as usual.
enum class Action { kSilent, kGone, kOk, kRx, kNoise, kPf };

struct StageFault {
  Stage stage = Stage::kHeader;
  Action action = Action::kSilent;
  int nth = 1;
};

// Whether `action` means something at `stage`; the other pairs do nothing.
// Meaningful: kDetect silent, gone, noise (the firmware sends sentences, not
// replies); kSwitch silent, gone (a wrong reply there is the first sync's);
// kSync silent, gone, ok, noise ("RX" is the right reply, and "PF" is one
// more wrong one); kHeader, kRequest and kBetween all six.
bool IsMeaningful(Stage stage, Action action);

// Reads "STAGE:ACTION[:N]" (names as in StageName and ActionName, N from 1,
// default 1). False with a one-line reason in `why` when the text is no such
// fault or the pair is not meaningful.
bool ParseStageFault(const std::string& text, StageFault* fault, std::string* why);
// "detect", "switch", "sync", "header", "request", "between".
const char* StageName(Stage stage);
// "silent", "gone", "ok", "rx", "noise", "pf".
const char* ActionName(Action action);

#endif  // VELMORA_SIM_STAGE_FAULT_H_
