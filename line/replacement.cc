#include "line/replacement.h"

ReplacementWatch::Step ReplacementWatch::observe(int64_t nowMs, bool lineThere, size_t bytes) {
  if (arrived_) return Step::kArrived;
  if (!left_) {
    if (!lineThere) {
      left_ = true;
      return Step::kLeftGone;
    }
    if (bytes > 0) lastByteMs_ = nowMs;
    if (nowMs - lastByteMs_ >= quietMs_) {
      left_ = true;
      return Step::kLeftQuiet;
    }
    return Step::kLeaving;
  }
  if (!lineThere || bytes == 0) {
    if (!lineThere || (windowStartMs_ >= 0 && nowMs - windowStartMs_ >= kTalkWindowMs)) {
      windowStartMs_ = -1;
      windowBytes_ = 0;
    }
    return Step::kLeaving;
  }
  if (windowStartMs_ < 0 || nowMs - windowStartMs_ >= kTalkWindowMs) {
    windowStartMs_ = nowMs;
    windowBytes_ = 0;
  }
  windowBytes_ += bytes;
  if (windowBytes_ >= kTalkBytes) arrived_ = true;
  return arrived_ ? Step::kArrived : Step::kLeaving;
}
