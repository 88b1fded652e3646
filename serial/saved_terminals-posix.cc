#include "serial/saved_terminals-posix.h"

#include <atomic>

#include "serial/low_latency-posix.h"

namespace {

// A slot is free (kFree), being filled by its new owner (kFilling), or holds
// settings a signal handler may apply (kArmed).
enum State : int { kFree, kFilling, kArmed };

struct Saved {
  std::atomic<int> state{kFree};
  std::atomic<bool> lowLatencyOff{false};
  int fd = -1;
  termios settings{};
};

Saved g_saved[kSavedTerminalSlots];

}  // namespace

int RememberTerminal(int fd, const termios& settings) {
  for (int slot = 0; slot < kSavedTerminalSlots; ++slot) {
    int expected = kFree;
    if (!g_saved[slot].state.compare_exchange_strong(expected, kFilling)) continue;
    g_saved[slot].fd = fd;
    g_saved[slot].settings = settings;
    g_saved[slot].lowLatencyOff.store(false);
    g_saved[slot].state.store(kArmed);
    return slot;
  }
  return -1;
}

void RememberLowLatencyOff(int slot) {
  if (slot >= 0 && slot < kSavedTerminalSlots) g_saved[slot].lowLatencyOff.store(true);
}

void ForgetTerminal(int slot) {
  if (slot >= 0 && slot < kSavedTerminalSlots) g_saved[slot].state.store(kFree);
}

void RestoreSavedTerminals() {
  for (Saved& saved : g_saved) {
    if (saved.state.load() != kArmed) continue;
    if (saved.lowLatencyOff.load()) SetLowLatency(saved.fd, false);
    ::tcsetattr(saved.fd, TCSANOW, &saved.settings);
  }
}
