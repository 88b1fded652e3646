// The run log of velmora-line (--log FILE): one JSON object per line for
// every receiver run, in this key order:
//
//   {"start":"2026-12-08T10:11:12.345Z","port":"COM33","device":"/dev/ttyUSB0",
//    "adapter_serial":"A50285BI","receiver":1,
//    "images":[{"slot":"app","file":"app.bin","length":700,"crc":"0x9A720251",
//               "outcome":"written"}],
//    "result":"completed","code":2,"duration_ms":3215,"output":"Flash Programmer ..."}
//
// (on one line). start is when the run began, in UTC with milliseconds;
// receiver counts the receivers programmed on the port, from 1 (more than 1
// only in station mode); slot is the image's option word; length its bytes;
// crc the CRC its header carries, as 8 upper-case hexadecimal digits; outcome
// one of "written", "write-protected", "failed", "no response", "not
// written"; result the run's result word (RunResultWord) and code the
// programmer's result (-1 when it gave none); output everything the
// programmer printed, as it printed it.
//
// Strings are escaped so that every byte comes back: '"' and '\' with a
// backslash, the control characters below 0x20 as \b \f \n \r \t or \u00XX,
// valid UTF-8 as it is, and each byte of anything else as \u00XX (the byte
// read as Latin-1).
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_LINE_RUN_LOG_H_
#define VELMORA_LINE_RUN_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct LoggedImage {
  int slot = 0;  // 0 to 12
  std::string file;
  int32_t length = 0;
  uint32_t crc = 0;
  int outcome = 0;  // ImageOutcome
};

struct RunLogEntry {
  int64_t startUnixMs = 0;  // milliseconds since 1970-01-01 UTC
  std::string port, device, adapterSerial;
  int receiver = 1;
  std::vector<LoggedImage> images;
  std::string result;
  int code = -1;
  int64_t durationMs = 0;
  std::string output;
};

// `text` as the inside of a JSON string (no quotes), escaped as above.
std::string JsonEscape(std::string_view text);

// "2026-12-08T10:11:12.345Z".
std::string UtcTimestamp(int64_t unixMs);

// An image outcome's word in the log.
const char* OutcomeWord(int outcome);

// The whole record, ending in "\n".
std::string RunLogRecord(const RunLogEntry& entry);

#endif  // VELMORA_LINE_RUN_LOG_H_
