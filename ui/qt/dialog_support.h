// What both dialogs share: dialog units, which size controls by the font so
// that a dialog keeps its proportions at any DPI, and the message box every
// report to the user goes through.
//
// Threads: the window thread.
#ifndef VELMORA_UI_QT_DIALOG_SUPPORT_H_
#define VELMORA_UI_QT_DIALOG_SUPPORT_H_

#include <QFontMetrics>
#include <QMessageBox>
#include <QSize>

// A dialog unit is a quarter of the font's average character width
// horizontally and an eighth of its height vertically.
class DialogUnits {
 public:
  explicit DialogUnits(const QFontMetrics& metrics);
  int x(int units) const { return (units * charWidth_ + 2) / 4; }
  int y(int units) const { return (units * charHeight_ + 4) / 8; }
  QSize size(int width, int height) const { return {x(width), y(height)}; }

 private:
  int charWidth_;
  int charHeight_;
};

// A message box captioned "Velmora", without icon, with `text` and
// `buttons`; returns the button pressed. Non-empty `details` are the box's
// detailed text, behind its "Show Details..." button. Runs modally on the
// window thread.
QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        const QString& details = QString());

#endif  // VELMORA_UI_QT_DIALOG_SUPPORT_H_
