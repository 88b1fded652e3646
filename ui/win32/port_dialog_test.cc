#include "ui/win32/port_dialog.h"

#include <gtest/gtest.h>

namespace {

// Where the minimised dialog draws its icon: centred, each division
// truncating toward zero, also when the icon is larger than the client area.
TEST(IconicIconOriginTest, CentresTheIconTruncatingTowardZero) {
  struct Case {
    RECT client;
    int iconWidth, iconHeight;
    POINT expected;
  };
  const Case cases[] = {
      {{0, 0, 100, 50}, 32, 32, {34, 9}},    {{0, 0, 33, 34}, 32, 32, {1, 1}},
      {{0, 0, 32, 32}, 32, 32, {0, 0}},      {{0, 0, 20, 10}, 32, 32, {-5, -10}},
      {{10, 20, 110, 70}, 16, 16, {42, 17}},
  };
  for (const Case& c : cases) {
    const POINT at = IconicIconOrigin(c.client, c.iconWidth, c.iconHeight);
    EXPECT_EQ(at.x, c.expected.x) << c.client.right - c.client.left;
    EXPECT_EQ(at.y, c.expected.y) << c.client.bottom - c.client.top;
  }
}

}  // namespace
