// ProgrammerMain with command words, image files and a receiver taken from
// the input.
//
// The fuzzer works in a private temporary directory: it holds the image
// files "a", "b" and "c" (contents from the input, or absent) and an empty
// directory "d", and the run is made from inside it. A word that is an
// absolute path or contains "/" or ".." becomes "nofile", so nothing outside
// that directory, and no device, is ever opened ("/?" stays where it is a
// command). The serial port is a virtual line to a receiver that is silent, or
// the simulated receiver in its loader or its normal firmware.
//
// Input: <flags> then three files as <length hi> <length lo> <k> <k bytes>
// (the file repeats those bytes; length % 700, absent when the top bit of
// <length hi> is set), then the words, separated by newlines or NULs.
//   flags bits 0-1: 0 silent receiver, 1 loader, 2 firmware, 3 no such port
//   bits 2-4: the loader's (or firmware's) rate; bits 5-6: the loader's
//   request size
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/console.h"
#include "engine/detect.h"
#include "engine/programmer.h"
#include "engine/progress.h"
#include "engine/protocol.h"
#include "engine/reply_reader.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_support.h"
#include "serial/serial_port.h"
#include "sim/line_peer.h"
#include "sim/receiver_model.h"
#include "tests/virtual_line.h"

namespace {

constexpr int kMaxWords = 24;
constexpr size_t kMaxWordLength = 256;
// Far beyond the longest run: detection gives up after about 7 s, and the
// images are at most 700 bytes each.
constexpr int64_t kTimeBoundMs = 120000;

std::string g_dir;
int g_home = -1;  // the directory the fuzzer started in
int g_work = -1;  // the private directory

void RemoveDirectory() {
  std::error_code ignored;
  if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ignored);
}

// A receiver that never sends anything.
class SilentPeer : public LinePeer {
 public:
  void receive(int64_t, uint32_t, const uint8_t*, size_t) override {}
  size_t transmit(int64_t, uint32_t, uint8_t*, size_t) override { return 0; }
  int64_t nextByteMs(int64_t) const override { return INT64_MAX; }
};

// Passes everything on to `inner`, and stops the fuzzer when virtual time
// runs past the bound: a run that does not end.
class BoundedPeer : public LinePeer {
 public:
  explicit BoundedPeer(LinePeer& inner) : inner_(inner) {}
  void receive(int64_t nowMs, uint32_t baud, const uint8_t* data, size_t count) override {
    FUZZ_CHECK(nowMs <= kTimeBoundMs);
    inner_.receive(nowMs, baud, data, count);
  }
  size_t transmit(int64_t nowMs, uint32_t baud, uint8_t* buffer, size_t count) override {
    FUZZ_CHECK(nowMs <= kTimeBoundMs);
    return inner_.transmit(nowMs, baud, buffer, count);
  }
  int64_t nextByteMs(int64_t nowMs) const override { return inner_.nextByteMs(nowMs); }

 private:
  LinePeer& inner_;
};

// Makes image file `index` ("a", "b" or "c") hold what the input says, or
// removes it. A file is written only when its bytes change: most inputs leave
// them as they were, and writing costs more than the run itself. What each
// file holds is kept without the heap, so that a run allocates nothing it
// does not free (libFuzzer would take that for a leak and run it again).
void WriteImageFile(int index, FuzzInput& in) {
  struct Held {
    bool present = false;
    size_t length = 0;
    char bytes[700];
  };
  static Held held[3];
  static const char* const kNames[3] = {"a", "b", "c"};
  const uint16_t length = in.u16();
  const std::string_view pattern = in.view(in.byte() % 16);
  const std::string path = g_dir + "/" + kNames[index];
  Held& h = held[index];
  if (length & 0x8000) {
    if (h.present) std::remove(path.c_str());
    h.present = false;
    return;
  }
  char bytes[700];
  const size_t n = length % 700;
  for (size_t i = 0; i < n; ++i) bytes[i] = pattern.empty() ? '\x5A' : pattern[i % pattern.size()];
  if (h.present && h.length == n && std::memcmp(h.bytes, bytes, n) == 0) return;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes, static_cast<std::streamsize>(n));
  h.present = true;
  h.length = n;
  std::memcpy(h.bytes, bytes, n);
}

bool TakesValue(const std::string& word) {
  if (word == "-uart" || word == "-baud") return true;
  for (const ImageInfo& info : kImageTable)
    if (word.size() > 1 && word[0] == '-' && word.compare(1, std::string::npos, info.key) == 0)
      return true;
  return false;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words = {"fwp"};
  std::string word;
  for (size_t i = 0; i <= text.size() && words.size() <= kMaxWords; ++i) {
    if (i < text.size() && text[i] != '\n' && text[i] != '\0') {
      if (word.size() < kMaxWordLength) word += text[i];
      continue;
    }
    const bool path = word.find('/') != std::string::npos || word.find("..") != std::string::npos;
    if (path && !(word == "/?" && !TakesValue(words.back()))) word = "nofile";
    words.push_back(word);
    word.clear();
  }
  return words;
}

int Count(const std::vector<LineEvent>& log, LineEvent::Kind kind) {
  int n = 0;
  for (const LineEvent& e : log) n += e.kind == kind;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where there is such a file system: the image files change
  // with the inputs.
  for (const char* base : {"/dev/shm", "/tmp"}) {
    std::string pattern = std::string(base) + "/velmora-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      g_dir = pattern;
      break;
    }
  }
  if (g_dir.empty()) {
    std::perror("mkdtemp");
    std::abort();
  }
  std::atexit(RemoveDirectory);
  mkdir((g_dir + "/d").c_str(), 0700);
  g_home = open(".", O_RDONLY | O_DIRECTORY);
  g_work = open(g_dir.c_str(), O_RDONLY | O_DIRECTORY);
  FUZZ_CHECK(g_home >= 0 && g_work >= 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t flags = in.byte();
  for (int file = 0; file < 3; ++file) WriteImageFile(file, in);
  std::vector<std::string> words = Words(in.rest());

  const int receiver = flags & 3;
  const int rate = (flags >> 2) & 7;
  static const uint32_t kRequestSizes[4] = {4096, 256, 7, 1};
  SilentPeer silent;
  std::unique_ptr<ReceiverModel> model;
  if (receiver == 1 || receiver == 2) {
    ReceiverConfig config;
    config.startInLoader = receiver == 1;
    config.loaderBaud = static_cast<uint32_t>(kRateTable[rate % 7]);
    config.firmwareBaud = static_cast<uint32_t>(kSentenceScanRates[rate % 6]);
    config.requestSize = kRequestSizes[(flags >> 5) & 3];
    config.keepTranscript = false;
    config.keepFlash = false;
    model = std::make_unique<ReceiverModel>(config);
  }
  BoundedPeer peer(model ? static_cast<LinePeer&>(*model) : silent);

  NullConsole console;
  SetEngineConsole(&console);
  ClearReadersForTesting();
  g_programmingBaud = 115200;
  g_imageSet.release();
  g_pRunFlag = nullptr;
  g_hProgressWnd = nullptr;

  int result;
  int opens, closes;
  {
    VirtualPortOpener line(peer);
    line.clock.skipIdle = true;
    line.refuse = receiver == 3;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    FUZZ_CHECK(fchdir(g_work) == 0);
    result = ProgrammerMain(static_cast<int>(argv.size()), argv.data());
    FUZZ_CHECK(fchdir(g_home) == 0);
    opens = Count(line.log, LineEvent::kOpen);
    closes = Count(line.log, LineEvent::kClose);
    FUZZ_CHECK(line.clock.nowMs() <= kTimeBoundMs);
  }

  if (Verbose())
    std::fprintf(stderr, "arguments: %zu words, receiver %d, result %d, %d opens\n",
                 words.size() - 1, receiver, result, opens);
  FUZZ_CHECK(result >= 0 && result <= 3);
  for (int s = 0; s < kSlotCount; ++s)
    FUZZ_CHECK(!g_imageSet.present(s) && g_imageSet.slot[s].length == 0);
  FUZZ_CHECK(opens == closes);  // the run closed the port it opened
  if (model && opens > 0) {
    // The simulated receiver answers as it should, so a run that reached it
    // must end ready or written.
    FUZZ_CHECK(result == 1 || result == 2);
    if (result == 2) {
      FUZZ_CHECK(model->exCount() == 1 && !model->images().empty());
      for (const auto& image : model->images()) FUZZ_CHECK(image.passed);
    }
  }
  if (!model) FUZZ_CHECK(result == 0);

  SetEngineConsole(nullptr);
  return 0;
}
