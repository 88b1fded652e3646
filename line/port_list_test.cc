#include "line/port_list.h"

#include <gtest/gtest.h>

namespace {

TEST(PortListTest, ListsAndRangesInTheOrderGiven) {
  struct Case {
    const char* text;
    std::vector<std::string> ports;
  };
  const Case cases[] = {
      {"COM33,COM34,COM40-COM47",
       {"COM33", "COM34", "COM40", "COM41", "COM42", "COM43", "COM44", "COM45", "COM46", "COM47"}},
      {"com7", {"com7"}},
      {"Com9-COM10", {"Com9", "Com10"}},
      {"COM256,COM1-COM1,/dev/ttyUSB0", {"COM256", "COM1", "/dev/ttyUSB0"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> ports{"stale"};
    std::string error;
    EXPECT_TRUE(ParsePortList(c.text, &ports, &error)) << c.text << ": " << error;
    EXPECT_EQ(ports, c.ports) << c.text;
  }
}

TEST(PortListTest, FaultsNameTheItem) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"", "an empty item in the port list"},
      {"COM1,,COM2", "an empty item in the port list"},
      {"COM1,", "an empty item in the port list"},
      {"COM257",
       "\"COM257\" is no port: give COM1 to COM256, a range such as COM40-COM47, or a device path"},
      {"COM0",
       "\"COM0\" is no port: give COM1 to COM256, a range such as COM40-COM47, or a device path"},
      {"COM3x",
       "\"COM3x\" is no port: give COM1 to COM256, a range such as COM40-COM47, or a device path"},
      {"ttyUSB0",
       "\"ttyUSB0\" is no port: give COM1 to COM256, a range such as COM40-COM47, or a device "
       "path"},
      {"COM47-COM40", "\"COM47-COM40\" runs backwards"},
      {"COM40-47", "\"COM40-47\" is no range of COM names (such as COM40-COM47)"},
      {"COM40-COM300", "\"COM40-COM300\" is no range of COM names (such as COM40-COM47)"},
      {"COM33,com33", "\"com33\" is named twice"},
      {"COM40-COM47,COM45", "\"COM45\" is named twice"},
      {"/dev/ttyUSB0,/dev/ttyUSB0", "\"/dev/ttyUSB0\" is named twice"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> ports;
    std::string error;
    EXPECT_FALSE(ParsePortList(c.text, &ports, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(ports.empty()) << c.text;
  }
}

}  // namespace
