#include "engine/trace_frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
  const char* name;
  std::vector<std::string> trace;
  std::vector<std::string> frames;
};

std::vector<std::string> Frames(const std::vector<std::string>& trace) {
  std::vector<std::string> out;
  TraceFrames frames([&](const std::string& line) { out.push_back(line); });
  for (const std::string& line : trace) EXPECT_TRUE(frames.addLine(line)) << line;
  frames.finish();
  return out;
}

TEST(TraceFrames, CutsTheProtocolsFrames) {
  const Case cases[] = {
      {"sync split over writes, answered, with the events copied",
       {"# velmora trace", "10 open 115200 COM3", "11 P>R 115200 3 2E 2E 2E |...|",
        "12 P>R 115200 7 2E 2E 2E 2E 2E 51 56 |.....QV|", "13 R>P 115200 1 52 |R|",
        "14 R>P 115200 1 58 |X|", "15 close 115200"},
       {"10 open 115200 COM3", "11 P>R sync", "13 R>P RX", "15 close 115200"}},
      {"header fields, one request answered by a run of blocks, then PC",
       {"1 P>R 115200 3 2E 53 50 |.SP|", "2 P>R 115200 4 00 00 80 00 |....|",
        "3 P>R 115200 4 00 00 01 01 |....|", "4 P>R 115200 4 00 00 80 10 |....|",
        "5 P>R 115200 4 12 34 AB CD |.4..|",
        "6 R>P 115200 10 42 52 00 00 80 00 00 00 81 00 |BR........|",
        "7 P>R 115200 3 2E 42 54 |.BT|", "7 P>R 115200 4 00 00 80 00 |....|",
        "7 P>R 115200 1 00 |.|",
        std::string("7 P>R 115200 256") +
            [] {
              std::string s;
              for (int i = 0; i < 256; ++i) s += " 41";
              return s + " |" + std::string(256, 'A') + "|";
            }(),
        "8 P>R 115200 3 2E 42 54 |.BT|", "8 P>R 115200 4 00 00 81 00 |....|",
        "8 P>R 115200 1 01 |.|", "8 P>R 115200 1 42 |B|",
        "9 R>P 115200 10 50 43 00 00 00 01 FF FF FF FF |PC........|"},
       {"1 P>R header address 0x00008000 length 257 marker 0x00008010 crc 0x1234ABCD",
        "6 R>P BR 0x00008000 0x00008100", "7 P>R blocks 0x00008000 count 2 bytes 257",
        "9 R>P PC 0x00000001 0xFFFFFFFF"}},
      {"switch sentence, closing texts, and bytes that are no frame",
       {"1 P>R 9600 25 0D 0A 0D 0A 24 50 51 56 52 58 36 30 31 2C 31 31 35 32 30 30 2A 30 30 0D 0A "
        "|....$PQVRX601,115200*00..|",
        "2 P>R 115200 2 45 58 |EX|", "2 P>R 115200 5 41 42 4F 52 54 |ABORT|",
        "3 P>R 115200 3 2E 51 7C |.Q||"},
       {"1 P>R switch 115200", "2 P>R EX", "2 P>R ABORT", "3 P>R bytes 2E 51 7C"}},
      {"sentences, noise that breaks one, and a reply amid noise",
       {"1 R>P 9600 9 24 47 50 41 42 2C 31 0D 0A |$GPAB,1..|", "2 R>P 9600 4 24 41 07 5A |$A.Z|",
        "3 R>P 9600 4 51 52 00 58 |QR.X|"},
       {"1 R>P sentence $GPAB,1", "2 R>P bytes 24 41 07 5A 51", "3 R>P RX"}},
      {"free text up to the next reply, and a reply cut short",
       {"1 R>P 115200 7 46 54 68 69 5C 0A 4F |FThi\\.O|", "2 R>P 115200 1 4B |K|",
        "3 R>P 115200 4 50 46 00 01 |PF..|"},
       {"1 R>P FT hi\\\\\\x0A", "1 R>P OK", "3 R>P bytes 50 46 00 01"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Frames(c.trace), c.frames) << c.name;
}

TEST(TraceFrames, RefusesLinesThatAreNoRecords) {
  std::vector<std::string> out;
  TraceFrames frames([&](const std::string& line) { out.push_back(line); });
  for (const char* line : {"x open 115200 COM3", "1 opened 115200", "1 P>R 115200 2 41 |A|",
                           "1 P>R 115200 1 4G |A|", "1 R>P 115200 1 41 |AB|", "1 R>P 115200 0 ||"})
    EXPECT_FALSE(frames.addLine(line)) << line;
  frames.finish();
  EXPECT_TRUE(out.empty());
}

}  // namespace
