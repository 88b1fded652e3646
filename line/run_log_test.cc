#include "line/run_log.h"

#include <gtest/gtest.h>

#include "engine/programmer.h"

namespace {

using namespace std::string_literals;

TEST(RunLogTest, EscapingKeepsEveryByte) {
  struct Case {
    std::string text, escaped;
  };
  const Case cases[] = {
      {"Addr : 0x00010000\b\b\b\b\b\b\b\b0001FFFF",
       "Addr : 0x00010000\\b\\b\\b\\b\\b\\b\\b\\b0001FFFF"},
      {"File \"C:\\a.bin\" not found!\n", "File \\\"C:\\\\a.bin\\\" not found!\\n"},
      {"\r\t\f\x01\x1F\x7F"s + '\0', "\\r\\t\\f\\u0001\\u001F\x7F\\u0000"},
      {"b\xC3\xA9t\xE2\x82\xAC \xF0\x9F\x9B\xB0", "b\xC3\xA9t\xE2\x82\xAC \xF0\x9F\x9B\xB0"},
      // Not UTF-8: a lone continuation byte, a cut sequence, an overlong
      // form, a surrogate.
      {"\x80 \xC3 \xC0\xAF \xED\xA0\x80", "\\u0080 \\u00C3 \\u00C0\\u00AF \\u00ED\\u00A0\\u0080"},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonEscape(c.text), c.escaped) << c.text;
}

TEST(RunLogTest, RecordHoldsTheRunInItsFixedOrder) {
  RunLogEntry e;
  e.startUnixMs = 1796724672345;  // 2026-12-08 10:11:12.345 UTC
  e.port = "COM33";
  e.device = "/dev/ttyUSB0";
  e.adapterSerial = "A50285BI";
  e.receiver = 2;
  e.images = {{0, "boot.bin", 600, 0x0123ABCD, kWriteProtected},
              {2, "dir/app \"v2\".bin", 70000, 0x9A720251, kFailed},
              {4, "odo.bin", 0, 0xFFFFFFFF, kNotWritten}};
  e.result = "image failed";
  e.code = 3;
  e.durationMs = 3215;
  e.output = "Flash Programmer V1.0.3.2\nDSU mode 115200 bps\n";
  EXPECT_EQ(
      RunLogRecord(e),
      "{\"start\":\"2026-12-08T10:11:12.345Z\",\"port\":\"COM33\",\"device\":\"/dev/ttyUSB0\","
      "\"adapter_serial\":\"A50285BI\",\"receiver\":2,\"images\":["
      "{\"slot\":\"boot\",\"file\":\"boot.bin\",\"length\":600,\"crc\":\"0x0123ABCD\","
      "\"outcome\":\"write-protected\"},"
      "{\"slot\":\"app\",\"file\":\"dir/app \\\"v2\\\".bin\",\"length\":70000,"
      "\"crc\":\"0x9A720251\",\"outcome\":\"failed\"},"
      "{\"slot\":\"odo\",\"file\":\"odo.bin\",\"length\":0,\"crc\":\"0xFFFFFFFF\","
      "\"outcome\":\"not written\"}],"
      "\"result\":\"image failed\",\"code\":3,\"duration_ms\":3215,"
      "\"output\":\"Flash Programmer V1.0.3.2\\nDSU mode 115200 bps\\n\"}\n");
}

}  // namespace
