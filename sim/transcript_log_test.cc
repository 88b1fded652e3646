#include "sim/transcript_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using Entry = TranscriptLog::Entry;
using Dir = Entry::Direction;
using Fate = Entry::Fate;

Entry Byte(int64_t us, Dir dir, uint32_t baud, Fate fate, uint8_t byte, uint8_t delivered = 0) {
  return Entry{us, baud, dir, fate, byte, fate == Fate::kNoise ? delivered : byte};
}

// Runs share a line while direction, rate and fate stay and the bytes come
// within three byte times (at least 2 ms), at most 16 a line; an event or a
// quiet tick ends a run.
TEST(TranscriptLog, JoinsCloseRunsAndWritesEventsBetween) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  TranscriptLog log(file);
  log.add(Byte(1'000'000, Dir::kToReceiver, 115200, Fate::kTaken, 'Q'));
  log.add(Byte(1'001'000, Dir::kToReceiver, 115200, Fate::kTaken, 'V'));
  log.add(Byte(1'001'500, Dir::kToProgrammer, 115200, Fate::kTaken, 'R'));
  log.add(Byte(1'004'000, Dir::kToProgrammer, 115200, Fate::kTaken, 'X'));  // 2.5 ms later
  log.add(Byte(2'000'000, Dir::kToProgrammer, 9600, Fate::kNoise, '$', 0xA4));
  log.add(Byte(2'003'000, Dir::kToProgrammer, 9600, Fate::kNoise, 'G', 0x87));
  log.event(2500, "session 1: port opened");
  for (int i = 0; i < 17; ++i)
    log.add(Byte(3'000'000 + i, Dir::kToReceiver, 230400, Fate::kLost, 0));
  log.tick(3100);
  log.add(Byte(3'000'020, Dir::kToReceiver, 230400, Fate::kLost, 1));
  EXPECT_TRUE(log.finish());

  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  const std::string sixteen =
      "     3.000000 P>R 230400 lost    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
      "|................|\n";
  EXPECT_EQ(text,
            "# velmora-sim transcript: TIME DIR BAUD FATE HEX |TEXT| (see velmora-sim --help)\n"
            "     1.000000 P>R 115200 taken   51 56 |QV|\n"
            "     1.001500 R>P 115200 taken   52 |R|\n"
            "     1.004000 R>P 115200 taken   58 |X|\n"
            "     2.000000 R>P   9600 noise   24 47 => A4 87 |$G|\n"
            "     2.500000 # session 1: port opened\n" +
                sixteen +
                "     3.000016 P>R 230400 lost    00 |.|\n"
                "     3.000020 P>R 230400 lost    01 |.|\n");
}

}  // namespace
