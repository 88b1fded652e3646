// COffscreenDC: the drawing context of one paint. Drawing goes into a pixmap
// that covers the area to repaint, in the widget's own coordinates; the
// destructor copies the pixmap to the widget in one step, so the widget never
// shows a half-drawn state.
//
// The pixmap has the widget's device pixel ratio. Its pixels start
// undefined, and the copy takes all of them: the caller paints the whole of
// covered() first.
//
// Threads: the window thread, inside the widget's paint event.
#ifndef VELMORA_UI_QT_OFFSCREEN_DC_H_
#define VELMORA_UI_QT_OFFSCREEN_DC_H_

#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QRectF>

class QWidget;

class COffscreenDC : public QPainter {
 public:
  // `area`: the paint event's bounding rectangle, in widget coordinates.
  COffscreenDC(QWidget* widget, const QRect& area);
  ~COffscreenDC();
  COffscreenDC(const COffscreenDC&) = delete;
  COffscreenDC& operator=(const COffscreenDC&) = delete;

  // The whole pixmap in widget coordinates: the area, give or take the
  // rounding of its size to whole device pixels.
  QRectF covered() const;

 private:
  QWidget* widget_;
  QRect area_;
  QPixmap bitmap_;
};

#endif  // VELMORA_UI_QT_OFFSCREEN_DC_H_
