// CPercentProgressCtrl: the progress window's bar. It paints itself: the
// filled part from the left in the highlight colour, the rest in the base
// colour of text fields, and the percentage (or an override text) centred
// over both, each letter in the colour that contrasts with what lies under
// it. Every paint is composed off-screen (COffscreenDC) and copied in one
// step; SetPos repaints only when the filled width changes by a pixel.
//
// The bar keeps its own range and position (SetRange, SetPos) and leaves
// QProgressBar's unused, so nothing in the base class repaints it.
//
// Threads: the window thread.
#ifndef VELMORA_UI_QT_PERCENT_PROGRESS_CTRL_H_
#define VELMORA_UI_QT_PERCENT_PROGRESS_CTRL_H_

#include <QColor>
#include <QProgressBar>
#include <QRect>
#include <QString>

#include "ui/bar_geometry.h"

// The shared bar geometry (ui/bar_geometry.h) in Qt's types: where a paint
// puts the fill and what text it centres, for a client rectangle and a range
// and position. `draw` is false for an empty range
// (lower >= upper): the paint then draws nothing.
struct BarLayout {
  bool draw = false;
  QRect filled;  // client left edge to the split, full height
  QRect empty;   // the split to the client right edge
  QString text;  // the override text, or the percentage "%d%%"
};
BarLayout ComputeBarLayout(const QRect& client, int lower, int upper, int position,
                           const QString& overrideText);

class CPercentProgressCtrl : public QProgressBar {
  Q_OBJECT

 public:
  explicit CPercentProgressCtrl(QWidget* parent = nullptr);

  // Stores the bounds; nothing is redrawn and the filled width is kept.
  void SetRange(int lower, int upper);
  // Stores `newPosition` and repaints at once when the filled width changed
  // (always after a resize). Returns the previous position.
  int SetPos(int newPosition);
  int GetPos() const { return position; }

  // The override text: drawn instead of the percentage when not empty.
  void SetWindowText(const QString& text);
  QString GetWindowText() const { return overrideText; }

  // What the bar shows, for accessibility and QProgressBar's users.
  QString text() const override;

  // Range and position: nothing keeps lower below upper or the position
  // inside the range.
 private:
  int position = 0;
  int upperBound = 100;
  int lowerBound = 0;
  QString overrideText;
  int filledWidth = -1;  // as SetPos last computed it; -1 after a resize

 public:
  // Read from the palette once, at construction; never changed.
  const QColor barColour;         // Highlight: the filled part
  const QColor backColour;        // Base: the empty part
  const QColor textOnBackColour;  // Highlight: letters over the empty part
  const QColor textOnBarColour;   // Base: letters over the filled part

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The area the bar draws in: inside its one-pixel border.
  QRect clientRect() const { return contentsRect(); }
};

#endif  // VELMORA_UI_QT_PERCENT_PROGRESS_CTRL_H_
