#include "ui/percent_progress_ctrl.h"

#include <QPaintEvent>
#include <QPalette>
#include <cmath>
#include <limits>

#include "ui/offscreen_dc.h"

namespace {

// Truncation toward zero that stays defined for any double: out-of-range
// positions can make the quotient huge, and an empty range makes it NaN.
int Truncate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  if (value <= static_cast<double>(std::numeric_limits<int>::min()))
    return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

double Fraction(int lower, int upper, int position) {
  return (static_cast<double>(position) - lower) / (static_cast<double>(upper) - lower);
}

}  // namespace

int FilledWidth(int clientWidth, int lower, int upper, int position) {
  if (lower == upper) return 0;
  return Truncate(Fraction(lower, upper, position) * clientWidth);
}

BarLayout ComputeBarLayout(const QRect& client, int lower, int upper, int position,
                           const QString& overrideText) {
  BarLayout layout;
  if (lower >= upper) return layout;
  layout.draw = true;
  const double f = Fraction(lower, upper, position);
  const int split = client.left() + Truncate(client.width() * f);
  layout.filled = QRect(QPoint(client.left(), client.top()), QPoint(split - 1, client.bottom()));
  layout.empty = QRect(QPoint(split, client.top()), QPoint(client.right(), client.bottom()));
  layout.text =
      overrideText.isEmpty() ? QString::asprintf("%d%%", Truncate(f * 100.0)) : overrideText;
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
