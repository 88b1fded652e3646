#include "ui/qt/offscreen_dc.h"

#include <QWidget>

COffscreenDC::COffscreenDC(QWidget* widget, const QRect& area)
    : widget_(widget), area_(area), bitmap_(area.size() * widget->devicePixelRatioF()) {
  bitmap_.setDevicePixelRatio(widget->devicePixelRatioF());
  begin(&bitmap_);
  // The widget's own font, and its coordinates: (0, 0) is the widget's
  // top-left corner, not the bitmap's.
  setFont(widget->font());
  translate(-area_.topLeft());
}

COffscreenDC::~COffscreenDC() {
  end();
  QPainter window(widget_);
  window.drawPixmap(area_.topLeft(), bitmap_);
}

QRectF COffscreenDC::covered() const {
  return {QPointF(area_.topLeft()), bitmap_.deviceIndependentSize()};
}
