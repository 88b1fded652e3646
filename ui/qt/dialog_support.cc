#include "ui/qt/dialog_support.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QScrollBar>
#include <QTextEdit>
#include <algorithm>

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
  if (!details.isEmpty()) {
    box.setDetailedText(details);
    // The details are a console's lines: shown as a terminal shows them, in
    // a fixed-pitch font, unwrapped, in a box as wide as the widest line (up
    // to 80 columns).
    if (auto* view = box.findChild<QTextEdit*>()) {
      const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
      view->setFont(font);
      view->setLineWrapMode(QTextEdit::NoWrap);
      qsizetype columns = 0;
      for (const QString& line : details.split('\n')) columns = std::max(columns, line.size());
      const int width =
          QFontMetrics(font).horizontalAdvance(QString(std::min<qsizetype>(columns, 80), 'M')) +
          2 * (view->frameWidth() + static_cast<int>(view->document()->documentMargin())) +
          view->verticalScrollBar()->sizeHint().width();
      // The box sizes itself from its grid: a spacer across it sets the width.
      if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}
