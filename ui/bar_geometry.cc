#include "ui/bar_geometry.h"

#include <cmath>
#include <limits>

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

BarGeometry ComputeBarGeometry(const BarRect& client, int lower, int upper, int position,
                               const std::string& overrideText) {
  BarGeometry geometry;
  if (lower >= upper) return geometry;
  geometry.draw = true;
  const double f = Fraction(lower, upper, position);
  const int split = client.left + Truncate(client.width() * f);
  geometry.filled = {client.left, client.top, split, client.bottom};
  geometry.empty = {split, client.top, client.right, client.bottom};
  geometry.text = overrideText.empty() ? std::to_string(Truncate(f * 100.0)) + "%" : overrideText;
  return geometry;
}
