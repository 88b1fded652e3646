#include "ui/qt/run_events.h"

#include <QCoreApplication>

QEvent::Type ProgressEvent::eventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

QtRunTarget::QtRunTarget(QObject* receiver) : receiver_(receiver) {
  ProgressEvent::eventType();  // registered before the worker needs it
}

void QtRunTarget::Post(unsigned code, int32_t value) noexcept {
  QCoreApplication::postEvent(receiver_, new ProgressEvent(code, value));
}

std::optional<std::pair<unsigned, int32_t>> ReadProgressEvent(const RunChannel& channel,
                                                              const QEvent& event) {
  const auto lock = channel.lockPosts();
  if (event.type() != ProgressEvent::eventType()) return std::nullopt;
  const auto& progress = static_cast<const ProgressEvent&>(event);
  return std::pair{progress.code, progress.value};
}
