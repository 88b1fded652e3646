// The percentage bar's geometry and text, for both faces: where a paint
// splits the client area into the filled and the empty part, what text it
// centres over both, and the filled width that SetPos compares to decide
// whether to repaint.
//
// Threads: any; plain functions.
#ifndef VELMORA_UI_BAR_GEOMETRY_H_
#define VELMORA_UI_BAR_GEOMETRY_H_

#include <string>

// A rectangle in pixels: left and top inside, right and bottom just outside,
// as a window's client rectangle is given.
struct BarRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const BarRect&) const = default;
};

// What a paint draws for a client rectangle, a range and a position. `draw`
// is false for an empty range (lower >= upper): the paint then draws nothing.
struct BarGeometry {
  bool draw = false;
  BarRect filled;    // the client's left edge to the split, full height
  BarRect empty;     // the split to the client's right edge
  std::string text;  // the override text, or the percentage "%d%%"
};
BarGeometry ComputeBarGeometry(const BarRect& client, int lower, int upper, int position,
                               const std::string& overrideText);

// The filled width SetPos compares: (position - lower) / (upper - lower)
// times `clientWidth`, truncated toward zero and saturated to int. 0 for an
// empty range.
int FilledWidth(int clientWidth, int lower, int upper, int position);

#endif  // VELMORA_UI_BAR_GEOMETRY_H_
