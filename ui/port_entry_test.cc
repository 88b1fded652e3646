#include "ui/port_entry.h"

#include <gtest/gtest.h>

TEST(PortEntryTest, PortNumbersOfEntries) {
  EXPECT_EQ(PortNumberOfEntry("COM1"), 1);
  EXPECT_EQ(PortNumberOfEntry("COM12"), 12);
  EXPECT_EQ(PortNumberOfEntry("XYZ 7a"), 7);
  EXPECT_EQ(PortNumberOfEntry("COM"), 0);
  EXPECT_EQ(PortNumberOfEntry(""), 0);
  EXPECT_EQ(PortNumberOfEntry("/dev/ttyS40"), 0);
}
