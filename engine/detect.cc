#include "engine/detect.h"

#include "engine/console.h"
#include "engine/protocol.h"
#include "engine/run_observer.h"
#include "engine/reply_reader.h"
#include "serial/serial_port.h"

int g_programmingBaud = 115200;

int DetectReceiver() {
  if (g_pRunObserver) g_pRunObserver->detecting();
  // Settle at 115200 and drop whatever the line held.
  SerialPort::setBaudRate(115200);
  SerialPort::drain();
  WaitForReply(10);
  ResetReplyReader();

  for (int rate : kRateTable) {
    SerialPort::setBaudRate(rate);
    SerialPort::writeText(kSyncString);
    if (WaitForReply(100)) {
      g_programmingBaud = rate;
      if (g_pRunObserver) g_pRunObserver->loaderFound(rate);
      return 1;
    }
    if (RunCutShort()) return 0;
  }

  const int found = ScanSentenceBaud();
  if (found == 0) return 0;
  Print("Found GPS %d bps\n", found);
  if (g_pRunObserver) g_pRunObserver->firmwareFound(found);

  // Asked at the rate the firmware talks at; its loader then listens at the
  // programming rate.
  SerialPort::writeText(SwitchSentence(g_programmingBaud).c_str());
  Delay(100);
  SerialPort::setBaudRate(g_programmingBaud);
  SerialPort::drain();
  WaitForReply(100);
  if (g_pRunObserver) g_pRunObserver->switched(g_programmingBaud);
  return 1;
}

int ScanSentenceBaud() {
  SerialPort::setBaudRate(115200);
  SerialPort::drain();
  WaitForSentence(10);
  ResetSentenceReader();
  // The sentence reader is not reset between rates: a sentence opened at one
  // rate may complete at the next.
  for (int rate : kSentenceScanRates) {
    SerialPort::setBaudRate(rate);
    SerialPort::drain();
    if (WaitForSentence(1000)) return rate;
    if (RunCutShort()) return 0;
  }
  return 0;
}
