// Whole runs of the engine against the receiver model on virtual time: what
// the programmer says, and what lands in the receiver's flash.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/detect.h"
#include "engine/programmer.h"
#include "engine/reply_reader.h"
#include "engine/run_observer.h"
#include "sim/receiver_model.h"
#include "sim/sample_bytes.h"
#include "tests/engine_fixture.h"

namespace {

const char* const kOptions[kSlotCount] = {"-boot", "-almanac", "-app", "-usr", "-odo",
                                          "-ni",   "-nd",      "-n0i", "-n0d", "-n2i",
                                          "-n2d",  "-n10i",    "-n10d"};

class FullRunTest : public EngineTest {
 protected:
  // Runs with `model` behind the port, images given per slot (empty: none);
  // the calls made on the line go to `log` when given.
  int RunOn(ReceiverModel& model, const std::string images[kSlotCount],
            std::vector<std::string> extra = {}, std::vector<LineEvent>* log = nullptr) {
    std::vector<std::string> words = std::move(extra);
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (images[slot].empty() && !present[slot]) continue;
      words.push_back(kOptions[slot]);
      words.push_back(WriteFile(std::to_string(slot) + ".bin", images[slot]));
    }
    VirtualPortOpener own(model);
    own.clock.skipIdle = skipIdle;
    const int result = Run(words, hooks);
    if (log) *log = own.log;
    return result;
  }

  // Image bytes at their write address in `flash`.
  static std::string FlashAt(const ReceiverModel& model, uint32_t address, size_t length) {
    const auto& f = model.flash();
    return std::string(f.begin() + address, f.begin() + address + length);
  }

  bool present[kSlotCount] = {};
  bool skipIdle = false;      // the virtual clock's, as the fuzz targets run it
  RunHooks* hooks = nullptr;  // RunProgrammer's, when set; else ProgrammerMain
};

TEST_F(FullRunTest, AllThirteenSlotsLandAfterTheBaudSwitch) {
  ReceiverConfig config;
  config.firmwareBaud = 38400;
  ReceiverModel model(config);
  std::string images[kSlotCount];
  // Each image fits below the next slot's address.
  const size_t lengths[kSlotCount] = {3000, 5000, 70000, 4096, 257,  1000, 513,
                                      256,  8000, 1,     2,    8000, 65537};
  for (int slot = 0; slot < kSlotCount; ++slot) images[slot] = SeededImage(lengths[slot], slot + 1);

  EXPECT_EQ(RunOn(model, images), 2);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    SCOPED_TRACE(slot);
    EXPECT_TRUE(FlashAt(model, kImageTable[slot].address, lengths[slot]) == images[slot]);
  }
  ASSERT_EQ(model.images().size(), 13u);
  for (const auto& image : model.images()) EXPECT_TRUE(image.passed);
  EXPECT_EQ(model.baudSwitches(), std::vector<uint32_t>{115200});
  EXPECT_EQ(model.mode(), ReceiverModel::Mode::kDone);
  EXPECT_EQ(model.exCount(), 1);

  const std::string head =
      "Flash Programmer V1.0.3.2\nFound GPS 38400 bps\nDSU mode 115200 bps\n"
      "Addr : 0x00000000";
  EXPECT_EQ(console.out.substr(0, head.size()), head);
  const std::string report =
      "\nBOOT CODE OK!\nALMANAC   OK!\nAPP CODE  OK!\nUSER_DATA CODE  OK!\nODO_DATA CODE  OK!"
      "\nNINDEX CODE  OK!\nNDATA CODE  OK!\nN0INDEX CODE  OK!\nN0DATA CODE  OK!"
      "\nN2INDEX CODE  OK!\nN2DATA CODE  OK!\nN10INDEX CODE  OK!\nN10DATA CODE  OK!"
      "\nProgramming time : ";
  const size_t at = console.out.find(report);
  ASSERT_NE(at, std::string::npos);
  // The last address update before the report is the last image's last byte.
  EXPECT_EQ(console.out.substr(at - 8, 8), "001921C0");
  EXPECT_EQ(console.out.substr(console.out.size() - 15), "Press any key.\n");
}

TEST_F(FullRunTest, EveryImageLengthLandsExactly) {
  for (size_t length : {0, 1, 2, 255, 256, 257, 511, 512, 513, 1000, 65537}) {
    SCOPED_TRACE(length);
    ClearReadersForTesting();
    console.out.clear();
    ReceiverConfig config;
    config.startInLoader = true;
    ReceiverModel model(config);
    std::string images[kSlotCount];
    images[2] = SeededImage(length, static_cast<uint32_t>(length));
    present[2] = true;
    EXPECT_EQ(RunOn(model, images), 2);
    EXPECT_TRUE(FlashAt(model, 0x10000, length) == images[2]);
    EXPECT_EQ(model.flash()[0x10000 + length], 0xFF);  // nothing past the image
    ASSERT_EQ(model.images().size(), 1u);
    EXPECT_TRUE(model.images()[0].passed);
  }
}

TEST_F(FullRunTest, ASecondRunProgramsAtTheRateTheFirstLeft) {
  ReceiverConfig loaderAt4800;
  loaderAt4800.startInLoader = true;
  loaderAt4800.loaderBaud = 4800;
  ReceiverModel first(loaderAt4800);
  std::string images[kSlotCount];
  images[2] = SeededImage(700, 5);
  EXPECT_EQ(RunOn(first, images), 2);
  EXPECT_NE(console.out.find("ISP mode 4800 bps\n"), std::string::npos);

  // No -baud: the port opens at 4800 and the firmware is switched to it.
  ClearReadersForTesting();
  console.out.clear();
  ReceiverModel second;
  std::vector<LineEvent> log;
  EXPECT_EQ(RunOn(second, images, {}, &log), 2);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().kind, LineEvent::kOpen);
  EXPECT_EQ(log.front().baud, 4800u);
  EXPECT_EQ(second.baudSwitches(), std::vector<uint32_t>{4800});
  const std::string head =
      "Flash Programmer V1.0.3.2\nFound GPS 9600 bps\nISP mode 4800 bps\nAddr : 0x00010000";
  EXPECT_EQ(console.out.substr(0, head.size()), head);
  EXPECT_TRUE(FlashAt(second, 0x10000, 700) == images[2]);
}

TEST_F(FullRunTest, FailedImageAndSilentBootKeepTheirFlashErased) {
  ReceiverConfig config;
  config.startInLoader = true;
  config.faults.bootWriteProtected = true;
  config.faults.failSlotAddress = 0x80000;
  ReceiverModel model(config);
  std::string images[kSlotCount];
  images[0] = SeededImage(600, 1);
  images[2] = SeededImage(900, 2);
  images[3] = SeededImage(300, 3);
  images[4] = SeededImage(300, 4);
  EXPECT_EQ(RunOn(model, images), 3);
  EXPECT_EQ(FlashAt(model, 0, 600), std::string(600, '\xFF'));
  EXPECT_TRUE(FlashAt(model, 0x10000, 900) == images[2]);
  EXPECT_EQ(FlashAt(model, 0x80000, 300), std::string(300, '\xFF'));
  EXPECT_EQ(model.images().size(), 3u);  // nothing after the failed one
  const std::string end = "\nProgramming failed!\n";
  EXPECT_EQ(console.out.substr(console.out.size() - end.size()), end);
}

// The fuzz targets let the idle time of a wait pass in one step
// (VirtualClock::skipIdle, LinePeer::nextByteMs): the engine must see the
// line exactly as it does a millisecond at a time, on runs that scan every
// rate, switch, write with line timing, wait out a silent Boot and time out.
TEST_F(FullRunTest, SkippingIdleTimeChangesNothingTheEngineSees) {
  const auto asText = [](const std::vector<LineEvent>& log) {
    std::string text;
    for (const LineEvent& e : log) {
      text += std::to_string(e.kind) + " " + std::to_string(e.timeMs) + " " +
              std::to_string(e.baud) + " " + std::to_string(e.bytes.size()) + ":";
      text.append(e.bytes.begin(), e.bytes.end());
      text += "\n";
    }
    return text;
  };
  ReceiverConfig firmware;
  firmware.firmwareBaud = 38400;
  firmware.lineTiming = true;
  ReceiverConfig protectedBoot;
  protectedBoot.startInLoader = true;
  protectedBoot.loaderBaud = 57600;
  protectedBoot.faults.bootWriteProtected = true;
  ReceiverConfig silent;
  silent.emitSentences = false;
  ReceiverConfig silentAfterRequest = firmware;
  silentAfterRequest.faults.silentAfterRequest = 2;
  for (const ReceiverConfig& config : {firmware, protectedBoot, silent, silentAfterRequest}) {
    std::string images[kSlotCount];
    images[0] = SeededImage(600, 1);
    images[2] = SeededImage(5000, 2);
    std::string seen[2], said[2];
    int result[2];
    for (int skip = 0; skip < 2; ++skip) {
      skipIdle = skip == 1;
      ClearReadersForTesting();
      g_programmingBaud = 115200;
      console.out.clear();
      ReceiverModel model(config);
      std::vector<LineEvent> log;
      result[skip] = RunOn(model, images, {}, &log);
      seen[skip] = asText(log);
      said[skip] = console.out;
    }
    EXPECT_EQ(result[1], result[0]);
    EXPECT_TRUE(seen[1] == seen[0]) << "the line differs";
    EXPECT_EQ(said[1], said[0]);
  }
}

// What a run observer is told, as words.
class StageLog : public RunObserver {
 public:
  void detecting() noexcept override { words += "detecting;"; }
  void loaderFound(int32_t baud) noexcept override {
    words += "loader " + std::to_string(baud) + ";";
  }
  void firmwareFound(int32_t baud) noexcept override {
    words += "firmware " + std::to_string(baud) + ";";
  }
  void switched(int32_t baud) noexcept override {
    words += "switched " + std::to_string(baud) + ";";
  }
  void writingImage(int32_t slot) noexcept override {
    words += "image " + std::to_string(slot) + ";";
  }
  void imageDone(int32_t slot, int32_t outcome) noexcept override {
    words += "done " + std::to_string(slot) + " " + std::to_string(outcome) + ";";
  }
  std::string words;
};

TEST_F(FullRunTest, TheObserverFollowsEveryStage) {
  struct Case {
    bool inLoader;
    std::optional<uint32_t> failAddress;
    int result;
    std::string stages;
  };
  const Case cases[] = {
      {false, std::nullopt, 2,
       "detecting;firmware 38400;switched 115200;image 0;done 0 2;image 2;done 2 1;image 3;done 3 "
       "1;"},
      {true, 0x80000, 3,
       "detecting;loader 115200;image 0;done 0 2;image 2;done 2 1;image 3;done 3 3;"},
  };
  for (const Case& c : cases) {
    ClearReadersForTesting();
    ReceiverConfig config;
    config.firmwareBaud = 38400;
    config.startInLoader = c.inLoader;
    config.faults.bootWriteProtected = true;
    config.faults.failSlotAddress = c.failAddress;
    ReceiverModel model(config);
    std::string images[kSlotCount];
    images[0] = SeededImage(600, 1);
    images[2] = SeededImage(900, 2);
    images[3] = SeededImage(300, 3);
    StageLog log;
    RunHooks observed;
    observed.observer = &log;
    hooks = &observed;
    EXPECT_EQ(RunOn(model, images), c.result);
    hooks = nullptr;
    EXPECT_EQ(log.words, c.stages);
  }
}

}  // namespace
