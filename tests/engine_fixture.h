// A clean engine on virtual time, for unit tests.
//
// EngineTest gives every test a process-like start: readers cleared, the
// programming rate at 115200, every image slot empty, no run flag and no
// progress window, the console captured, and the serial port opened onto a
// scripted receiver (ScriptedPeer) on a VirtualLine.
#ifndef VELMORA_TESTS_ENGINE_FIXTURE_H_
#define VELMORA_TESTS_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/console.h"
#include "engine/progress.h"
#include "engine/run_hooks.h"
#include "sim/line_peer.h"
#include "tests/virtual_line.h"

// Bytes as a string: tests compare line traffic with these.
std::string Bytes(std::initializer_list<int> values);
std::string U32(uint32_t value);

// A receiver that follows a script: each step waits until what the
// programmer wrote since the previous step ends with the step's trigger, then
// sends its reply. Steps may be tied to a line speed: their trigger counts
// only bytes written at that rate, and their reply can only be read at it.
class ScriptedPeer : public LinePeer {
 public:
  struct Step {
    std::string trigger;
    std::string reply;
    uint32_t baud = 0;    // 0: any rate
    int32_t delayMs = 0;  // the reply arrives this long after the trigger
  };

  // Appends one step; returns *this for chaining.
  ScriptedPeer& then(std::string trigger, std::string reply, uint32_t baud = 0,
                     int32_t delayMs = 0);
  // Bytes readable from `atMs` on, at `baud` (0: any rate).
  void send(const std::string& bytes, int64_t atMs = 0, uint32_t baud = 0);
  // Emits `sentence` at `baud` every `periodMs`, starting at `firstMs`.
  void emitSentences(std::string sentence, uint32_t baud, int32_t periodMs, int64_t firstMs = 0);

  void receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) override;
  size_t transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) override;

  // Called after every write with all that was written so far.
  std::function<void(const std::string& received)> onReceive;

  size_t stepsDone() const { return next_; }
  const std::string& received() const { return received_; }

 private:
  struct Pending {
    int64_t atMs;
    uint32_t baud;
    uint8_t byte;
  };
  void fireReadySteps(int64_t nowMs);

  std::vector<Step> steps_;
  size_t next_ = 0;
  std::string sinceStep_;
  std::string received_;
  std::deque<Pending> out_;
  std::string sentence_;
  uint32_t sentenceBaud_ = 0;
  int32_t sentencePeriod_ = 0;
  int64_t nextSentence_ = 0;
};

// Captures the engine console; key waits return at once and are counted.
class CapturedConsole : public Console {
 public:
  void write(std::string_view text) override { out += text; }
  void writeError(std::string_view line) override { (err += line) += '\n'; }
  void waitForKey() override {
    ++keyWaits;
    keyWaitOffsets.push_back(out.size());
  }
  std::string out, err;
  int keyWaits = 0;
  std::vector<size_t> keyWaitOffsets;
};

// Records progress messages as the window would receive them.
class RecordingWindow : public ProgressWindow {
 public:
  struct Message {
    unsigned message, code;
    int32_t value;
    bool operator==(const Message&) const = default;
  };
  void PostMessage(unsigned message, unsigned code, int32_t value) noexcept override {
    messages.push_back({message, code, value});
  }
  std::vector<Message> messages;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  ~EngineTest() override;

  // Opens the shared port onto the peer (as a run would) at `baud`.
  void OpenPort(uint32_t baud = 115200);
  // Runs ProgrammerMain with these words after the program name, or
  // RunProgrammer with `hooks` when they are given.
  int Run(std::vector<std::string> words, RunHooks* hooks = nullptr);
  // Writes a file in the test's temporary directory; returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes);
  // Publishes a run flag and the recording window, as a front end does.
  void PublishFrontEnd();

  int32_t now() { return line.clock.nowMs(); }

  ScriptedPeer peer;
  VirtualPortOpener line{peer};
  CapturedConsole console;
  RecordingWindow window;
  std::atomic<int> runFlag{1};
  std::string dir;
};

#endif  // VELMORA_TESTS_ENGINE_FIXTURE_H_
