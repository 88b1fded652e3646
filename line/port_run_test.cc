#include "line/port_run.h"

#include <gtest/gtest.h>

namespace {

Message M(MessageKind kind, int32_t a = 0, int32_t b = 0, std::string text = "") {
  return Message{kind, a, b, std::move(text)};
}

const bool kAppAndUsr[kSlotCount] = {false, false, true, true};

// Feeds `messages` one second apart from t = 0, then ends the child at
// `endMs`; returns every event line, one per line.
std::string Feed(PortRun& run, const std::vector<Message>& messages, int64_t endMs) {
  std::string lines;
  run.start(kAppAndUsr, 0);
  int64_t t = 0;
  for (const Message& m : messages) {
    const std::string line = run.apply(m, t += 1000);
    if (!line.empty()) lines += line + "\n";
  }
  const std::string end = run.finish(endMs);
  if (!end.empty()) lines += end + "\n";
  return lines;
}

TEST(PortRunTest, EventsAndHowTheRunEnded) {
  using K = MessageKind;
  struct Case {
    std::vector<Message> messages;
    std::string lines;
    std::string result;
  };
  const Case cases[] = {
      {{M(K::kBegin), M(K::kDetecting), M(K::kFirmwareFound, 38400), M(K::kSwitched, 230400),
        M(K::kTotal, 1000), M(K::kImage, 2), M(K::kPosition, 700), M(K::kImageDone, 2, 1),
        M(K::kImage, 3), M(K::kImageDone, 3, 1), M(K::kOutput, 0, 0, "x"), M(K::kResult, 2)},
       "COM7: receiver 1\nCOM7: looking for the receiver\nCOM7: firmware at 38400 bit/s\n"
       "COM7: switched to 230400 bit/s\nCOM7: writing APP CODE\nCOM7: APP CODE written\n"
       "COM7: writing USER_DATA CODE\nCOM7: USER_DATA CODE written\nCOM7: completed in 12.5 s\n",
       "completed"},
      {{M(K::kBegin), M(K::kDetecting), M(K::kLoaderFound, 115200), M(K::kImage, 2),
        M(K::kImageDone, 2, 3), M(K::kResult, 3)},
       "COM7: receiver 1\nCOM7: looking for the receiver\nCOM7: loader at 115200 bit/s\n"
       "COM7: writing APP CODE\nCOM7: APP CODE failed\nCOM7: image failed in 12.5 s\n",
       "image failed"},
      {{M(K::kBegin), M(K::kDetecting), M(K::kLoaderFound, 115200), M(K::kImage, 2),
        M(K::kImageDone, 2, 4), M(K::kResult, 0)},
       "COM7: receiver 1\nCOM7: looking for the receiver\nCOM7: loader at 115200 bit/s\n"
       "COM7: writing APP CODE\nCOM7: APP CODE no response\nCOM7: no response in 12.5 s\n",
       "no response"},
      {{M(K::kBegin), M(K::kDetecting), M(K::kResult, 0)},
       "COM7: receiver 1\nCOM7: looking for the receiver\nCOM7: no receiver in 12.5 s\n",
       "no receiver"},
      {{M(K::kBegin), M(K::kError, 0, 0, "/dev/ttyUSB6 (COM7) is busy: held by 42 (minicom)"),
        M(K::kResult, 0)},
       "COM7: receiver 1\nCOM7: /dev/ttyUSB6 (COM7) is busy: held by 42 (minicom)\n"
       "COM7: port not opened in 12.5 s\n",
       "port not opened"},
      {{M(K::kBegin), M(K::kDetecting), M(K::kLoaderFound, 115200), M(K::kResult, 0)},
       "COM7: receiver 1\nCOM7: looking for the receiver\nCOM7: loader at 115200 bit/s\n"
       "COM7: failed in 12.5 s\n",
       "failed"},
      {{M(K::kBegin), M(K::kDetecting), M(K::kResult, 0, kResultAborted)},
       "COM7: receiver 1\nCOM7: looking for the receiver\nCOM7: stopped in 12.5 s\n",
       "stopped"},
      {{M(K::kBegin), M(K::kDetecting)},
       "COM7: receiver 1\nCOM7: looking for the receiver\nCOM7: ended abnormally in 12.5 s\n",
       "ended abnormally"},
      {{M(K::kWaiting), M(K::kLeft, 1), M(K::kBegin), M(K::kResult, 2)},
       "COM7: waiting for the receiver to leave\n"
       "COM7: receiver left (adapter gone); waiting for the next receiver\n"
       "COM7: receiver 1\nCOM7: completed in 10.5 s\n",
       "completed"},
      {{M(K::kWaiting), M(K::kLeft, 0), M(K::kResult, 0, kResultNoRun)},
       "COM7: waiting for the receiver to leave\n"
       "COM7: receiver left (line quiet); waiting for the next receiver\n",
       ""},
  };
  for (const Case& c : cases) {
    PortRun run(PortInfo{"COM7", "/dev/ttyUSB6", "FT232R USB UART", "A5"});
    // Begin comes at 1 s (2 s after two watch messages); the child ends at 13.5 s.
    EXPECT_EQ(Feed(run, c.messages, 13500), c.lines);
    EXPECT_EQ(run.runs(), c.result.empty() ? 0 : 1) << c.lines;
    if (!c.result.empty()) {
      EXPECT_EQ(run.last().result, c.result);
    }
    EXPECT_EQ(run.completedRuns(), c.result == "completed" ? 1 : 0) << c.lines;
  }
}

TEST(PortRunTest, RowsAndSummary) {
  using K = MessageKind;
  PortRun writing(PortInfo{"COM33", "/dev/ttyUSB0", "FT232R USB UART", "A50285BI"});
  writing.start(kAppAndUsr, 0);
  writing.apply(M(K::kBegin), 1000);
  writing.apply(M(K::kTotal, 80000), 3000);
  writing.apply(M(K::kImage, 2), 3000);
  writing.apply(M(K::kPosition, 20000), 4000);
  EXPECT_EQ(writing.row(5000, 200),
            "COM33   FT232R USB UART A50285BI     writing APP CODE                  "
            "[#####---------------]  25%   10000 B/s   0:04");
  EXPECT_EQ(writing.row(5000, 40), "COM33   FT232R USB UART A50285BI     wri");

  PortRun done(PortInfo{"COM34", "", "", ""});
  done.start(kAppAndUsr, 0);
  done.apply(M(K::kBegin), 0);
  done.apply(M(K::kImage, 2), 10);
  done.apply(M(K::kImageDone, 2, 3), 20);
  done.apply(M(K::kResult, 3), 30);
  done.finish(65000);
  EXPECT_EQ(done.row(99000, 200),
            "COM34                                image failed                      "
            "[--------------------]   0%       0 B/s   1:05");

  PortRun waiting(PortInfo{"COM35", "", "USB2.0-Serial", ""});
  waiting.start(kAppAndUsr, 0);
  waiting.apply(M(K::kWaiting), 0);
  EXPECT_EQ(waiting.row(99000, 200),
            "COM35   USB2.0-Serial                waiting for the receiver to leave");

  EXPECT_EQ(SummaryTable({done, waiting}, false),
            "PORT      RESULT            IMAGES   TIME\n"
            "COM34     image failed      0 of 2   65.0 s\n"
            "COM35     no run            -        -\n"
            "2 ports: 0 completed, 2 not completed\n");
  EXPECT_EQ(SummaryTable({done}, true),
            "PORT      RESULT            IMAGES   TIME     RECEIVERS\n"
            "COM34     image failed      0 of 2   65.0 s   0 of 1 completed\n"
            "1 receivers: 0 completed, 1 not completed\n");
}

}  // namespace
