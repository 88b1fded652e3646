// The Qt face of the run channel: the engine's progress messages as events
// posted to the progress window.
//
// Threads: QtRunTarget::Post on the worker (under the channel's post lock),
// ReadProgressEvent on the window thread.
#ifndef VELMORA_UI_QT_RUN_EVENTS_H_
#define VELMORA_UI_QT_RUN_EVENTS_H_

#include <QEvent>
#include <cstdint>
#include <optional>
#include <utility>

#include "ui/run_channel.h"

class QObject;

// One of the engine's progress messages (its code and value) as a posted event.
class ProgressEvent : public QEvent {
 public:
  static QEvent::Type eventType();
  ProgressEvent(unsigned progressCode, int32_t progressValue)
      : QEvent(eventType()), code(progressCode), value(progressValue) {}

  const unsigned code;
  const int32_t value;
};

// Posts each message to `receiver` as a ProgressEvent.
class QtRunTarget final : public RunTarget {
 public:
  explicit QtRunTarget(QObject* receiver);
  void Post(unsigned code, int32_t value) noexcept override;

 private:
  QObject* receiver_;
};

// The code and value of a delivered event when it is a ProgressEvent, read
// under `channel`'s post lock.
std::optional<std::pair<unsigned, int32_t>> ReadProgressEvent(const RunChannel& channel,
                                                              const QEvent& event);

#endif  // VELMORA_UI_QT_RUN_EVENTS_H_
