#include "ui/win32/offscreen_dc.h"

COffscreenDC::COffscreenDC(HDC paintDC)
    : paintDC_(paintDC),
      dc_(paintDC),
      offscreen_(GetDeviceCaps(paintDC, TECHNOLOGY) != DT_RASPRINTER) {
  GetClipBox(paintDC, &rect_);
  if (!offscreen_) return;
  dc_ = CreateCompatibleDC(paintDC);
  bitmap_ = CreateCompatibleBitmap(paintDC, rect_.right - rect_.left, rect_.bottom - rect_.top);
  oldBitmap_ = SelectObject(dc_, bitmap_);
  SetWindowOrgEx(dc_, rect_.left, rect_.top, nullptr);
}

COffscreenDC::~COffscreenDC() {
  if (!offscreen_) return;
  BitBlt(paintDC_, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top, dc_,
         rect_.left, rect_.top, SRCCOPY);
  SelectObject(dc_, oldBitmap_);
  DeleteObject(bitmap_);
  DeleteDC(dc_);
}
