#include "ui/run_channel.h"

#include "engine/console.h"
#include "ui/terminal.h"
#include "ui/update_thread.h"

RunChannel& RunChannel::process() {
  static RunChannel channel;
  return channel;
}

RunChannel::~RunChannel() {
  waitForWorker();
}

bool RunChannel::start(RunTarget* target, Run run) {
  if (workerRunning()) return false;
  if (worker_.joinable()) worker_.join();
  runFlag.store(1);
  abortFlag.store(0);
  g_pRunFlag = &runFlag;
  g_hProgressWnd = this;
  {
    std::lock_guard lock(postMutex_);
    target_ = target;
  }
  run_ = std::move(run);
  {
    std::lock_guard lock(holdMutex_);
    outcomePosted_ = false;
  }
  console.clear();
  SetEngineConsole(&console);
  workerEnded_.store(false);
  worker_ = std::thread(UpdateThreadProc, this);
  return true;
}

bool RunChannel::workerRunning() const {
  return !workerEnded_.load();
}

void RunChannel::detach(const RunTarget* target) {
  std::lock_guard lock(postMutex_);
  if (target_ == target) target_ = nullptr;
}

bool RunChannel::hold() {
  std::lock_guard lock(holdMutex_);
  if (outcomePosted_) return false;
  held_ = true;
  return true;
}

void RunChannel::release() {
  {
    std::lock_guard lock(holdMutex_);
    held_ = false;
  }
  holdChanged_.notify_all();
}

void RunChannel::stop() {
  runFlag.store(0);
  abortFlag.store(1);
}

void RunChannel::waitForWorker() {
  release();
  if (worker_.joinable()) worker_.join();
}

void RunChannel::PostMessage(unsigned message, unsigned code, int32_t value) noexcept {
  if (message != kProgressMessage) return;
  std::lock_guard lock(postMutex_);
  if (target_) target_->Post(code, value);
}

bool RunChannel::WaitWhileHeld() noexcept {
  std::unique_lock lock(holdMutex_);
  if (!held_) return false;
  holdChanged_.wait(lock, [this] { return !held_; });
  return true;
}

void RunChannel::postOutcome(int result) {
  // Under the hold's lock: a hold() either comes before (and is waited out
  // here) or finds the outcome posted and holds nothing.
  std::unique_lock lock(holdMutex_);
  holdChanged_.wait(lock, [this] { return !held_; });
  outcomePosted_ = true;
  PostProgress(PROGRESS_FINISHED, ChooseOutcome(result, runFlag.load()));
}

RunOutputScope::RunOutputScope() {
  if (StandardOutputIsTerminal()) RunChannel::process().console.setEcho(&PlatformConsole());
}

RunOutputScope::~RunOutputScope() {
  RunChannel::process().waitForWorker();
  RunChannel::process().console.setEcho(nullptr);
  SetEngineConsole(nullptr);
}
