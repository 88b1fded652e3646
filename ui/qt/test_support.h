// Test support for the dialogs: answering the message boxes that a dialog
// opens modally, from inside their own event loop.
#ifndef VELMORA_UI_QT_TEST_SUPPORT_H_
#define VELMORA_UI_QT_TEST_SUPPORT_H_

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

// Watches for message boxes and answers each with the next of the queued
// buttons (an unexpected box with its first standard button), recording its
// caption, text, detailed text, buttons and whether it has an icon.
class MessageBoxAnswerer : public QObject {
 public:
  struct Seen {
    QString caption, text, details;
    QMessageBox::StandardButtons buttons;
    bool hasIcon;
  };

  MessageBoxAnswerer() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }

  // Answers the next box with `button`; `before` runs first, while the box
  // is up.
  void Queue(QMessageBox::StandardButton button, std::function<void()> before = {}) {
    answers_.push_back({button, std::move(before)});
  }

  std::vector<Seen> seen;

 private:
  struct Answer {
    QMessageBox::StandardButton button;
    std::function<void()> before;
  };

  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box == answered_) return;
    answered_ = box;
    seen.push_back({box->windowTitle(), box->text(), box->detailedText(), box->standardButtons(),
                    box->icon() != QMessageBox::NoIcon});
    if (answers_.empty()) {
      // Not "Show Details...", which is no standard button.
      for (QAbstractButton* b : box->buttons()) {
        if (box->standardButton(b) != QMessageBox::NoButton) return b->click();
      }
      return;
    }
    Answer answer = answers_.front();
    answers_.erase(answers_.begin());
    if (answer.before) answer.before();
    if (QAbstractButton* b = box->button(answer.button)) b->click();
  }

  QTimer timer_;
  std::vector<Answer> answers_;
  QPointer<QMessageBox> answered_;
};

#endif  // VELMORA_UI_QT_TEST_SUPPORT_H_
