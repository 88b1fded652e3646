// Finding the receiver and bringing its loader up at the programming rate.
//
// The receiver is either in its programming loader (it answers the sync
// string) or running its firmware (it emits "$" sentences at some rate).
// The texts and rates are the protocol's (protocol.h): the loader is looked
// for at the rates of kRateTable, sentences at those of kSentenceScanRates.
// Threads: the thread that runs the programmer; uses the shared port.
#ifndef VELMORA_ENGINE_DETECT_H_
#define VELMORA_ENGINE_DETECT_H_

// The programming baud rate: 115200 at process start, set by the
// programmer's -baud, changed by detection when the loader answers at
// another rate. It survives a run.
extern int g_programmingBaud;

// 1 when the loader answered the sync string (the programming rate becomes the
// rate it answered at, and the port stays there), or when sentences were found
// and the baud switch sentence was sent (the port is left at the programming
// rate). 0 when neither happened (the port is left at 115200), and at once
// when the run is cut short (aborted, or the line gone).
int DetectReceiver();

// The first sentence scan rate at which a sentence completed within one
// second, or 0.
int ScanSentenceBaud();

#endif  // VELMORA_ENGINE_DETECT_H_
