// Reading the receiver: "$" sentences, loader reply tokens, and the
// millisecond waits for either.
//
// Both readers take bytes from the shared serial port one at a time, so a
// reply is seen as soon as its last byte has arrived. A read returns after
// about 1 ms when nothing has arrived, and every wait is a loop that polls a
// reader against a deadline on the engine clock; no operation here blocks for
// longer than one read.
//
// Reply tokens are two ASCII letters anywhere in the byte stream: "RX" and
// "OK" complete at their second letter; "BR", "PC" and "PF" complete with the
// eighth byte after them (two big-endian 32-bit values); "FT" starts free text
// that runs to the next token and completes nothing.
//
// State: one reply reader, one sentence reader and one deadline timer for the
// whole process, zeroed at start. Nothing resets them between runs but the two
// reset operations, so a half-received "BR" completes with the bytes that
// arrive in a later wait.
//
// Threads: only the thread that runs the programmer; not reentrant.
#ifndef VELMORA_ENGINE_REPLY_READER_H_
#define VELMORA_ENGINE_REPLY_READER_H_

#include <cstdint>

// Reads at most one byte and feeds it to the reply reader. 1 when that byte
// completed a reply, else 0 (also when no byte arrived).
int PollReply();

// Reads at most one byte and drops it, then empties the token window. The
// rest of the reader's state stays.
void ResetReplyReader();

// Reads at most one byte and feeds it to the sentence reader. 1 when that byte
// completed a sentence: a line feed, or the "$" of the next one, while a
// sentence was open.
int PollSentence();

// Discards pending input (99-byte reads until one brings nothing), then closes
// and empties the sentence. A line that keeps sending is read for at most
// kDiscardLimitMs before the reader is reset all the same.
void ResetSentenceReader();
constexpr int kDiscardLimitMs = 1000;

// The token of the last reply ("RX", "OK", "BR", "PC", "PF"; "FT" and its text
// while free text is collected), at most 200 characters.
const char* ReplyText();
// The two values carried by the last "BR", "PC" or "PF".
uint32_t RequestStart();
uint32_t RequestEnd();

// Arms the deadline timer for `ms` milliseconds from now.
void StartTimer(int ms);
// 1 once more than the armed time has passed since StartTimer, else 0.
int TimerExpired();

// Whether waiting can no longer help: the run was aborted (progress.h) or the
// port's line has gone away.
bool RunCutShort();

// The waits below also hold while the front end holds the run
// (progress.h); the time held does not count against `ms`.
//
// 1 if a reply completes before `ms` milliseconds have passed, else 0; 0 at
// once when the run is cut short. When the time is up, what is already
// readable is taken first, so a reply that arrived while this thread was held
// up (stopped by a signal, the machine suspended) is not lost: if the last
// read brought a byte, or the clock has run more than kHeldUpMs past the
// time-out, the wait reads on while bytes come, and returns 0 only at a read
// that finds nothing, or after kLateBytesMax bytes that complete nothing. A
// time-out on a quiet line ends as it always did.
int WaitForReply(int ms);
constexpr int kHeldUpMs = 50;
constexpr int kLateBytesMax = 4096;
// 1 if a sentence completes before `ms` milliseconds have passed, else 0; 0
// at once when the run is cut short. The time-out's end as for WaitForReply.
int WaitForSentence(int ms);
// Returns once `ms` milliseconds have passed, or at once when the run is
// aborted; reads nothing.
void Delay(int ms);

// Puts both readers and the timer back to their state at process start, so
// that each test starts from a clean process.
void ClearReadersForTesting();

// The open sentence as collected so far, beginning with its "$" and at most 99
// characters long; empty while no sentence is open (a completed sentence is
// emptied at once). Nothing in the program reads the text; tests check it.
const char* SentenceTextForTesting();

#endif  // VELMORA_ENGINE_REPLY_READER_H_
