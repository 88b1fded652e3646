#include "ui/dialog_support.h"

#include "resources/strings.h"

DialogUnits::DialogUnits(const QFontMetrics& metrics)
    : charWidth_((metrics.horizontalAdvance(
                      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) +
                  26) /
                 52),
      charHeight_(metrics.height()) {}

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        const QString& details) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageCaption), text, buttons, parent);
  if (!details.isEmpty()) box.setDetailedText(details);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}
