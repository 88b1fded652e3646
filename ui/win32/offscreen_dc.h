// COffscreenDC: the drawing context of one paint. It covers the paint
// context's clip box (the bounding box of the area to repaint) with a
// compatible bitmap whose origin is moved so that drawing uses the window's
// client coordinates; the destructor copies the bitmap to the same place in
// the window in one BitBlt, puts the old bitmap back and deletes its own. A
// printer's context is drawn into directly.
//
// The bitmap's pixels start undefined: the caller paints the whole clip box.
//
// Threads: the window thread, inside WM_PAINT.
#ifndef VELMORA_UI_WIN32_OFFSCREEN_DC_H_
#define VELMORA_UI_WIN32_OFFSCREEN_DC_H_

#include "ui/win32/win32.h"

class COffscreenDC {
 public:
  explicit COffscreenDC(HDC paintDC);
  ~COffscreenDC();
  COffscreenDC(const COffscreenDC&) = delete;
  COffscreenDC& operator=(const COffscreenDC&) = delete;

  // Where to draw, in client coordinates.
  HDC dc() const { return dc_; }

 private:
  HDC paintDC_;
  HDC dc_;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  RECT rect_{};
  bool offscreen_;
};

#endif  // VELMORA_UI_WIN32_OFFSCREEN_DC_H_
