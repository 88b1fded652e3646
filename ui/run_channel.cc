#include "ui/run_channel.h"

#include <QCoreApplication>

#include "engine/console.h"
#include "ui/update_thread.h"

QEvent::Type ProgressEvent::eventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

RunChannel& RunChannel::process() {
  static RunChannel channel;
  return channel;
}

RunChannel::~RunChannel() {
  waitForWorker();
}

bool RunChannel::start(QObject* receiver, Run run) {
  if (workerRunning()) return false;
  if (worker_.joinable()) worker_.join();
  ProgressEvent::eventType();  // registered before the worker needs it
  runFlag.store(1);
  g_pRunFlag = &runFlag;
  g_hProgressWnd = this;
  {
    std::lock_guard lock(postMutex_);
    receiver_ = receiver;
  }
  run_ = std::move(run);
  console.clear();
  SetEngineConsole(&console);
  workerEnded_.store(false);
  worker_ = std::thread(UpdateThreadProc, this);
  return true;
}

bool RunChannel::workerRunning() const {
  return !workerEnded_.load();
}

void RunChannel::detach(const QObject* receiver) {
  std::lock_guard lock(postMutex_);
  if (receiver_ == receiver) receiver_ = nullptr;
}

void RunChannel::hold() {
  std::lock_guard lock(holdMutex_);
  held_ = true;
}

void RunChannel::release() {
  {
    std::lock_guard lock(holdMutex_);
    held_ = false;
  }
  holdChanged_.notify_all();
}

void RunChannel::waitForWorker() {
  release();
  if (worker_.joinable()) worker_.join();
}

void RunChannel::PostMessage(unsigned message, unsigned code, int32_t value) noexcept {
  if (message != WM_USER) return;
  std::lock_guard lock(postMutex_);
  if (receiver_) QCoreApplication::postEvent(receiver_, new ProgressEvent(code, value));
}

void RunChannel::WaitWhileHeld() noexcept {
  std::unique_lock lock(holdMutex_);
  holdChanged_.wait(lock, [this] { return !held_; });
}

std::optional<std::pair<unsigned, int32_t>> RunChannel::read(const QEvent& event) const {
  std::lock_guard lock(postMutex_);
  if (event.type() != ProgressEvent::eventType()) return std::nullopt;
  const auto& progress = static_cast<const ProgressEvent&>(event);
  return std::pair{progress.code, progress.value};
}
