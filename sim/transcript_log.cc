#include "sim/transcript_log.h"

#include <algorithm>
#include <cinttypes>

namespace {

// Bytes closer than this (three byte times, at least 2 ms) share a run.
int64_t JoinGapUs(uint32_t baud) {
  return std::max<int64_t>(2000, baud > 0 ? 30'000'000 / baud : 0);
}

}  // namespace

TranscriptLog::TranscriptLog(FILE* file) : file_(file) {
  std::fprintf(file_,
               "# velmora-sim transcript: TIME DIR BAUD FATE HEX |TEXT| (see velmora-sim "
               "--help)\n");
}

void TranscriptLog::add(const Entry& e) {
  const bool joins = !run_.empty() && e.direction == run_[0].direction && e.baud == run_[0].baud &&
                     e.fate == run_[0].fate && e.timeUs - run_.back().timeUs <= JoinGapUs(e.baud) &&
                     run_.size() < kPerLine;
  if (!joins) flushRun();
  run_.push_back(e);
}

void TranscriptLog::event(int64_t ms, const std::string& what) {
  flushRun();
  std::fprintf(file_, "%6" PRId64 ".%06d # %s\n", ms / 1000, static_cast<int>(ms % 1000) * 1000,
               what.c_str());
}

void TranscriptLog::tick(int64_t ms) {
  if (!run_.empty() && ms * 1000 - run_.back().timeUs > JoinGapUs(run_.back().baud)) flushRun();
  if (ms - lastFlushMs_ >= 100) {
    std::fflush(file_);
    lastFlushMs_ = ms;
  }
}

bool TranscriptLog::finish() {
  flushRun();
  return std::fflush(file_) == 0 && !std::ferror(file_);
}

void TranscriptLog::flushRun() {
  if (run_.empty()) return;
  const Entry& first = run_[0];
  static const char* const kFates[] = {"taken", "ignored", "lost", "noise"};
  std::fprintf(file_, "%6" PRId64 ".%06d %s %6" PRIu32 " %-7s", first.timeUs / 1'000'000,
               static_cast<int>(first.timeUs % 1'000'000),
               first.direction == Entry::Direction::kToReceiver ? "P>R" : "R>P", first.baud,
               kFates[static_cast<int>(first.fate)]);
  for (const Entry& e : run_) std::fprintf(file_, " %02X", e.byte);
  if (first.fate == Entry::Fate::kNoise) {
    std::fprintf(file_, " =>");
    for (const Entry& e : run_) std::fprintf(file_, " %02X", e.delivered);
  }
  std::fprintf(file_, " |");
  for (const Entry& e : run_) std::fputc(e.byte >= 0x20 && e.byte < 0x7F ? e.byte : '.', file_);
  std::fprintf(file_, "|\n");
  run_.clear();
}
