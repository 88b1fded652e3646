#include "ui/dialog_support.h"

#include "resources/strings.h"

DialogUnits::DialogUnits(const QFontMetrics& metrics)
    : charWidth_((metrics.horizontalAdvance(
                      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) +
                  26) /
                 52),
      charHeight_(metrics.height()) {}

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageCaption), text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}
