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

// Listed: every port a COM name reaches, whichever field carries the name.
TEST(PortEntryTest, ListedWhenACOMNameReachesThePort) {
  struct Case {
    PortRecord port;
    bool listed;
    const char* entry;
  };
  const Case cases[] = {
      {{"/dev/ttyUSB0", "COM33", "FT232R USB UART (COM33)", 1, "", ""}, true, "COM33"},
      {{"\\\\.\\COM3", "COM3", "COM3", 0, "", ""}, true, "COM3"},
      {{"\\\\?\\usb#vid_0403", "", "USB Serial Port (COM4)", 1, "", ""}, true, "COM4"},
      {{"\\\\?\\acpi#pnp0501", "", "Communications Port (COM12)", 0, "", ""}, true, "COM12"},
      {{"/dev/ttyS40", "", "ttyS40, 16550A (/dev/ttyS40)", 0, "", ""}, false, "/dev/ttyS40"},
      {{"\\\\?\\x", "", "Modem (COM)", 0, "", ""}, false, "COM"},
      {{"\\\\?\\x", "", "Printer (LPT1)", 0, "", ""}, false, "LPT1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PortIsListed(c.port), c.listed) << c.port.friendlyName;
    EXPECT_EQ(PortEntryText(c.port), c.entry) << c.port.friendlyName;
  }
}
