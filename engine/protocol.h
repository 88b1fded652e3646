// The programming protocol on the line: every text and frame that the
// programmer and the receiver send each other, written here once.
//
// Numbers on the line are unsigned 32-bit, most significant byte first
// (BE32 below); texts go without terminator.
//
// Programmer to receiver:
//   sync     "........QV"                                  10 bytes
//   switch   "\r\n\r\n$PQVRX601," RATE "*00\r\n"           to the firmware, at its rate;
//                                                          RATE in decimal
//   header   ".SP" BE32 address, length, markerAddress, crc    19 bytes
//   block    ".BT" BE32 address, one byte n % 256, n bytes     8 + n bytes, n = 1..256
//   closing  "EX" then "ABORT" after a complete run; "ABORT" alone when the
//            sync went unanswered
//
// Receiver to programmer, anywhere in the byte stream:
//   "RX"                 the loader answers the sync string
//   "OK"                 an acknowledgement the programmer does not wait for
//   "BR" BE32 start, end the loader asks for the bytes from start to end
//   "PC" BE32 two values an image is complete
//   "PF" BE32 two values an image failed
//   "FT"                 free text follows, up to the next reply
//   "$" ... "\n"         a sentence of the receiver's normal firmware
//
// Everything here is a constant; nothing keeps state.
#ifndef VELMORA_ENGINE_PROTOCOL_H_
#define VELMORA_ENGINE_PROTOCOL_H_

#include <cstddef>
#include <cstdint>
#include <string>

// The 10 bytes the loader answers with "RX".
constexpr char kSyncString[] = "........QV";

// The baud switch sentence: its text before the rate and after it.
constexpr char kSwitchSentenceHead[] = "\r\n\r\n$PQVRX601,";
constexpr char kSwitchSentenceTail[] = "*00\r\n";
inline std::string SwitchSentence(int rate) {
  return kSwitchSentenceHead + std::to_string(rate) + kSwitchSentenceTail;
}

// The image header.
constexpr char kHeaderTag[] = ".SP";
constexpr size_t kHeaderBytes = 19;

// A block: the tag, its address and its length byte, then the data.
constexpr char kBlockTag[] = ".BT";
constexpr size_t kBlockHeadBytes = 8;
constexpr uint32_t kLargestBlock = 256;

// The closing commands.
constexpr char kExitCommand[] = "EX";
constexpr char kAbortCommand[] = "ABORT";

// The loader's reply tokens, and the bytes of the two values that follow
// "BR", "PC" and "PF".
constexpr char kSyncedReply[] = "RX";
constexpr char kOkReply[] = "OK";
constexpr char kRequestReply[] = "BR";
constexpr char kCompleteReply[] = "PC";
constexpr char kFailedReply[] = "PF";
constexpr char kFreeTextReply[] = "FT";
constexpr size_t kReplyValueBytes = 8;

// The first byte of a sentence of the receiver's normal firmware.
constexpr char kSentenceStart = '$';

// The rates the programmer accepts and at which the loader is looked for, in
// that order.
constexpr int kRateTable[7] = {4800, 9600, 19200, 38400, 57600, 115200, 230400};
// The rates at which sentences are looked for, in order.
constexpr int kSentenceScanRates[6] = {9600, 38400, 4800, 19200, 57600, 115200};

// The four bytes whose first occurrence in an image the header points at.
constexpr char kMarker[] = "QVRX";

// The App image's address; its first kAppCrcStart bytes are left out of the
// marker search and the CRC.
constexpr uint32_t kAppAddress = 0x00010000;
constexpr int kAppCrcStart = 512;

#endif  // VELMORA_ENGINE_PROTOCOL_H_
