#include "bench/io_log.h"

#include <fstream>
#include <sstream>

#include "engine/protocol.h"
#include "engine/trace_frames.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ReadIoLog(const std::string& path, Transfer* transfer, std::string* why) {
  FrameDecoder decoder([transfer](const ProtocolFrame& f) {
    if (f.kind == ProtocolFrame::Kind::kBlocks) transfer->blocks.push_back({f.values[0], f.time});
    if (f.kind == ProtocolFrame::Kind::kReply && f.text == kRequestReply)
      transfer->requests.push_back({f.values[0], f.values[1], f.endTime});
    if (f.kind == ProtocolFrame::Kind::kReply && f.text == kCompleteReply)
      transfer->lastPcUs = f.endTime;
  });
  std::ifstream in(path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    long long us = 0;
    std::string dir, hex;
    size_t count = 0;
    if (!(words >> us >> dir >> count >> hex) || (dir != "P>R" && dir != "R>P") ||
        hex.size() != 2 * count) {
      *why = path + ":" + std::to_string(number) + ": not an I/O log line";
      return false;
    }
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
      const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
      if (hi < 0 || lo < 0) {
        *why = path + ":" + std::to_string(number) + ": bad hex";
        return false;
      }
      bytes.push_back(static_cast<char>(hi << 4 | lo));
    }
    if (dir == "P>R") {
      decoder.fromProgrammer(us, bytes);
    } else {
      decoder.fromReceiver(us, bytes);
    }
  }
  decoder.finish();
  return true;
}
