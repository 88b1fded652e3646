#include "tests/engine_fixture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/detect.h"
#include "engine/programmer.h"
#include "engine/reply_reader.h"
#include "serial/serial_port.h"
#include "tests/platform_files.h"

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

std::string U32(uint32_t v) {
  return Bytes({static_cast<int>(v >> 24 & 0xFF), static_cast<int>(v >> 16 & 0xFF),
                static_cast<int>(v >> 8 & 0xFF), static_cast<int>(v & 0xFF)});
}

ScriptedPeer& ScriptedPeer::then(std::string trigger, std::string reply, uint32_t baud,
                                 int32_t delayMs) {
  steps_.push_back({std::move(trigger), std::move(reply), baud, delayMs});
  return *this;
}

void ScriptedPeer::send(const std::string& bytes, int64_t atMs, uint32_t baud) {
  for (char c : bytes) out_.push_back({atMs, baud, static_cast<uint8_t>(c)});
}

void ScriptedPeer::emitSentences(std::string sentence, uint32_t baud, int32_t periodMs,
                                 int64_t firstMs) {
  sentence_ = std::move(sentence);
  sentenceBaud_ = baud;
  sentencePeriod_ = periodMs;
  nextSentence_ = firstMs;
}

void ScriptedPeer::fireReadySteps(int64_t nowMs) {
  while (next_ < steps_.size()) {
    const Step& step = steps_[next_];
    const std::string& t = step.trigger;
    if (sinceStep_.size() < t.size() ||
        sinceStep_.compare(sinceStep_.size() - t.size(), t.size(), t) != 0)
      return;
    send(step.reply, nowMs + step.delayMs, step.baud);
    sinceStep_.clear();
    ++next_;
  }
}

void ScriptedPeer::receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) {
  received_.append(reinterpret_cast<const char*>(data), count);
  const bool counts =
      next_ < steps_.size() && (steps_[next_].baud == 0 || steps_[next_].baud == baud);
  if (counts) sinceStep_.append(reinterpret_cast<const char*>(data), count);
  fireReadySteps(nowMs);
  if (onReceive) onReceive(received_);
}

size_t ScriptedPeer::transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) {
  fireReadySteps(nowMs);  // steps whose trigger is empty
  while (sentencePeriod_ > 0 && nextSentence_ <= nowMs) {
    send(sentence_, nextSentence_, sentenceBaud_);
    nextSentence_ += sentencePeriod_;
  }
  size_t got = 0;
  while (got < count && !out_.empty() && out_.front().atMs <= nowMs) {
    const Pending p = out_.front();
    out_.pop_front();
    if (p.baud != 0 && p.baud != baud) continue;  // lost on a line at another rate
    buffer[got++] = p.byte;
  }
  return got;
}

EngineTest::EngineTest() {
  ClearReadersForTesting();
  g_programmingBaud = 115200;
  g_imageSet.release();
  g_pRunFlag = nullptr;
  g_pAbortFlag = nullptr;
  g_hProgressWnd = nullptr;
  SetEngineConsole(&console);
  dir = MakeScratchDirectory();
}

EngineTest::~EngineTest() {
  SerialPort::close();
  g_imageSet.release();
  g_pRunFlag = nullptr;
  g_pAbortFlag = nullptr;
  g_hProgressWnd = nullptr;
  SetEngineConsole(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void EngineTest::OpenPort(uint32_t baud) {
  SerialPort::install(SerialPort::open("COM1", baud));
}

int EngineTest::Run(std::vector<std::string> words) {
  std::vector<std::string> storage = {"fwp"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (auto& w : storage) argv.push_back(w.data());
  return ProgrammerMain(static_cast<int>(argv.size()), argv.data());
}

std::string EngineTest::WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

void EngineTest::PublishFrontEnd() {
  runFlag = 1;
  g_pRunFlag = &runFlag;
  g_hProgressWnd = &window;
}
