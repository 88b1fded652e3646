// The run's console: the text a terminal would show, and the echo.
#include "ui/run_console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what reaches it; a key wait is a fault.
class RecordingConsole : public Console {
 public:
  std::string out;
  std::vector<std::string> errors;
  int keyWaits = 0;
  void write(std::string_view text) override { out += text; }
  void writeError(std::string_view line) override { errors.emplace_back(line); }
  void waitForKey() override { ++keyWaits; }
};

struct ScreenCase {
  const char* name;
  std::vector<std::string> writes;  // "!" before a line for writeError
  std::string shown;
};

}  // namespace

TEST(RunConsoleTest, ScreenText) {
  const ScreenCase cases[] = {
      {"address rewritten in place",
       {"ISP mode 115200 bps\nAddr : 0x00010000", "\b\b\b\b\b\b\b\b00010100",
        "\b\b\b\b\b\b\b\b00010200", "\nAPP CODE  OK!"},
       "ISP mode 115200 bps\nAddr : 0x00010200\nAPP CODE  OK!"},
      {"backspace stops at the line's start", {"ab\n", "\b\b\bc"}, "ab\nc"},
      {"backspace without overwrite keeps the letters", {"abcd\b\b"}, "abcd"},
      {"carriage return overwrites from the start", {"12345\rab\n"}, "ab345\n"},
      {"error line on a line of its own",
       {"Can not open COM5 port!\n", "!permission denied", "Addr : 0x1", "!line gone", "x\n"},
       "Can not open COM5 port!\npermission denied\nAddr : 0x1\nline gone\nx\n"},
  };
  for (const ScreenCase& c : cases) {
    RunConsole console;
    for (const std::string& w : c.writes) {
      if (!w.empty() && w[0] == '!')
        console.writeError(w.substr(1));
      else
        console.write(w);
    }
    EXPECT_EQ(console.text(), c.shown) << c.name;
    console.clear();
    EXPECT_EQ(console.text(), "") << c.name;
  }
}

TEST(RunConsoleTest, EchoesUnchangedAndNeverWaits) {
  RecordingConsole terminal;
  RunConsole console;
  console.setEcho(&terminal);
  console.write("Addr : 0x00010000");
  console.write("\b\b\b\b\b\b\b\b00010100");
  console.writeError("permission denied");
  console.waitForKey();
  const std::string echoed = "Addr : 0x00010000\b\b\b\b\b\b\b\b00010100";
  EXPECT_EQ(terminal.out, echoed);
  EXPECT_EQ(terminal.errors, std::vector<std::string>{"permission denied"});
  EXPECT_EQ(terminal.keyWaits, 0);
  console.setEcho(nullptr);
  console.write("more");
  EXPECT_EQ(terminal.out, echoed);
}
