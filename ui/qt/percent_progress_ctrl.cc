#include "ui/qt/percent_progress_ctrl.h"

#include <QPaintEvent>
#include <QPalette>

#include "ui/qt/offscreen_dc.h"

namespace {

QRect ToQRect(const BarRect& r) {
  return QRect(r.left, r.top, r.width(), r.height());
}

}  // namespace

BarLayout ComputeBarLayout(const QRect& client, int lower, int upper, int position,
                           const QString& overrideText) {
  const BarRect rect{client.left(), client.top(), client.left() + client.width(),
                     client.top() + client.height()};
  const BarGeometry geometry =
      ComputeBarGeometry(rect, lower, upper, position, overrideText.toStdString());
  BarLayout layout;
  if (!geometry.draw) return layout;
  layout.draw = true;
  layout.filled = ToQRect(geometry.filled);
  layout.empty = ToQRect(geometry.empty);
  layout.text = QString::fromStdString(geometry.text);
  return layout;
}

CPercentProgressCtrl::CPercentProgressCtrl(QWidget* parent)
    : QProgressBar(parent),
      barColour(palette().color(QPalette::Highlight)),
      backColour(palette().color(QPalette::Base)),
      textOnBackColour(palette().color(QPalette::Highlight)),
      textOnBarColour(palette().color(QPalette::Base)) {
  // The paint covers every pixel, so nothing is erased before it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setContentsMargins(1, 1, 1, 1);
  setTextVisible(true);
}

void CPercentProgressCtrl::SetRange(int lower, int upper) {
  lowerBound = lower;
  upperBound = upper;
}

int CPercentProgressCtrl::SetPos(int newPosition) {
  const int old = position;
  position = newPosition;
  const int w = FilledWidth(clientRect().width(), lowerBound, upperBound, position);
  if (w != filledWidth) {
    filledWidth = w;
    repaint();
  }
  return old;
}

void CPercentProgressCtrl::SetWindowText(const QString& text) {
  if (text == overrideText) return;
  overrideText = text;
  update();
}

QString CPercentProgressCtrl::text() const {
  return ComputeBarLayout(clientRect(), lowerBound, upperBound, position, overrideText).text;
}

void CPercentProgressCtrl::paintEvent(QPaintEvent* event) {
  const QRect client = clientRect();
  const BarLayout layout = ComputeBarLayout(client, lowerBound, upperBound, position, overrideText);
  if (!layout.draw) return;

  COffscreenDC dc(this, event->rect());
  // The thin border: everything the pixmap covers, then the client over it.
  // Fills, not a pen's line, so that whole device pixels are painted at any
  // device pixel ratio.
  dc.fillRect(dc.covered(), palette().color(QPalette::Dark));
  dc.fillRect(layout.filled, barColour);
  dc.fillRect(layout.empty, backColour);

  // The text twice, each time clipped to one part: a letter across the
  // split comes out half in each colour.
  constexpr int kCentredLine = Qt::AlignCenter | Qt::TextSingleLine;
  dc.setClipRect(layout.filled);
  dc.setPen(textOnBarColour);
  dc.drawText(client, kCentredLine, layout.text);
  dc.setClipRect(layout.empty);
  dc.setPen(textOnBackColour);
  dc.drawText(client, kCentredLine, layout.text);
}

void CPercentProgressCtrl::resizeEvent(QResizeEvent* event) {
  QProgressBar::resizeEvent(event);
  filledWidth = -1;
}
