#include "line/run_log.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "engine/programmer.h"

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
size_t Utf8Length(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  size_t length;
  uint32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c >= 0x80) {
      if (const size_t n = Utf8Length(text.substr(i)); n > 0) {
        out.append(text.substr(i, n));
        i += n;
        continue;
      }
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x80) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out;
}

std::string UtcTimestamp(int64_t unixMs) {
  const time_t seconds = static_cast<time_t>(unixMs / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(unixMs % 1000));
  return text;
}

const char* OutcomeWord(int outcome) {
  switch (outcome) {
    case kWritten:
      return "written";
    case kWriteProtected:
      return "write-protected";
    case kFailed:
      return "failed";
    case kNoResponse:
      return "no response";
    default:
      return "not written";
  }
}

std::string RunLogRecord(const RunLogEntry& e) {
  const auto quoted = [](std::string_view s) { return "\"" + JsonEscape(s) + "\""; };
  std::string out = "{\"start\":" + quoted(UtcTimestamp(e.startUnixMs)) +
                    ",\"port\":" + quoted(e.port) + ",\"device\":" + quoted(e.device) +
                    ",\"adapter_serial\":" + quoted(e.adapterSerial) +
                    ",\"receiver\":" + std::to_string(e.receiver) + ",\"images\":[";
  for (size_t i = 0; i < e.images.size(); ++i) {
    const LoggedImage& image = e.images[i];
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%08" PRIX32, image.crc);
    out += (i ? ",{\"slot\":" : "{\"slot\":") + quoted(kImageTable[image.slot].key) +
           ",\"file\":" + quoted(image.file) + ",\"length\":" + std::to_string(image.length) +
           ",\"crc\":" + quoted(crc) + ",\"outcome\":" + quoted(OutcomeWord(image.outcome)) + "}";
  }
  out += "],\"result\":" + quoted(e.result) + ",\"code\":" + std::to_string(e.code) +
         ",\"duration_ms\":" + std::to_string(e.durationMs) + ",\"output\":" + quoted(e.output) +
         "}\n";
  return out;
}
