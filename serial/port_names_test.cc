#include "serial/port_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "serial/alias_directory_fixture.h"
#include "serial/port_aliases.h"

namespace {

class PortNamesTest : public AliasDirectoryTest {};

TEST(ComNumberTest, AcceptsOnlyCanonicalComNames) {
  EXPECT_EQ(ComNumber("COM1"), 1);
  EXPECT_EQ(ComNumber("com7"), 7);
  EXPECT_EQ(ComNumber("CoM10"), 10);
  EXPECT_EQ(ComNumber("COM256"), 256);
  for (const char* bad : {"", "COM", "COM0", "COM257", "COM03", "COM3x", "COM 3", " COM3", "COM+3",
                          "COM-1", "PORT3", "COM99999999999", "-baud"}) {
    EXPECT_EQ(ComNumber(bad), 0) << bad;
  }
}

TEST_F(PortNamesTest, TableMapsComNamesToDevices) {
  EXPECT_EQ(Path("COM1"), "/dev/ttyS0");
  EXPECT_EQ(Path("COM32"), "/dev/ttyS31");
  EXPECT_EQ(Path("COM33"), "/dev/ttyUSB0");
  EXPECT_EQ(Path("COM36"), "/dev/ttyUSB3");
  EXPECT_EQ(Path("COM64"), "/dev/ttyUSB31");
  EXPECT_EQ(Path("COM65"), "/dev/ttyACM0");
  EXPECT_EQ(Path("COM96"), "/dev/ttyACM31");
  EXPECT_EQ(Path("COM97"), "/dev/ttyAMA0");
  EXPECT_EQ(Path("COM128"), "/dev/ttyAMA31");
  EXPECT_EQ(Path("com7"), "/dev/ttyS6");

  std::string why;
  EXPECT_EQ(DevicePathForPort("COM33", "/tmp/fakedev", &why), "/tmp/fakedev/ttyUSB0");
  EXPECT_EQ(DevicePathForPort("COM129", &why), "");
  EXPECT_EQ(why.find("COM129 stands for no device here"), 0u) << why;
  EXPECT_EQ(why.find('\n'), std::string::npos);
}

TEST_F(PortNamesTest, NamesThatStandForNothingGiveAReason) {
  RegisterPortAlias(3, "/dev/pts/3", nullptr);
  for (const char* bad : {"COM3x", "COM03", "COM0", "COM257", "ttyUSB0", ""}) {
    std::string why;
    EXPECT_EQ(DevicePathForPort(bad, &why), "") << bad;
    EXPECT_NE(why.find("stands for no device"), std::string::npos) << why;
  }
  EXPECT_EQ(DevicePathForPort("COM3x", nullptr), "");
}

TEST_F(PortNamesTest, InverseMappingMatchesTheTable) {
  for (int n = 1; n <= 128; ++n) {
    EXPECT_EQ(ComNumberForDevice(TableDeviceName(n)), n) << n;
  }
  EXPECT_EQ(TableDeviceName(129), "");
  EXPECT_EQ(ComNumberForDevice("ttyUSB3"), 36);
  EXPECT_EQ(ComNumberForDevice("/dev/ttyUSB3"), 36);
  for (const char* none : {"ttyUSB32", "ttyUSB03", "ttyUSB3x", "ttyS", "ttyS-1", "pts/3", "tty0",
                           "ttyX0", "", "/dev/"}) {
    EXPECT_EQ(ComNumberForDevice(none), 0) << none;
  }
}

TEST_F(PortNamesTest, AliasesComeBeforeTheTable) {
  std::string why;
  ASSERT_TRUE(RegisterPortAlias(33, "/dev/pts/99", &why)) << why;
  EXPECT_EQ(Path("COM33"), "/dev/pts/99");
  EXPECT_EQ(Path("com33"), "/dev/pts/99");
  ASSERT_TRUE(RegisterPortAlias(33, "/dev/pts/98", &why)) << why;
  EXPECT_EQ(Path("COM33"), "/dev/pts/98");
  ASSERT_TRUE(RegisterPortAlias(200, "/dev/pts/5", &why)) << why;
  EXPECT_EQ(Path("COM200"), "/dev/pts/5");

  ASSERT_TRUE(RemovePortAlias(33, &why)) << why;
  EXPECT_EQ(Path("COM33"), "/dev/ttyUSB0");
  EXPECT_TRUE(RemovePortAlias(33, &why));  // already gone

  // A relative target is relative to the directory.
  ASSERT_EQ(symlink("dev/x", (dir_ + "/COM150").c_str()), 0);
  EXPECT_EQ(Path("COM150"), dir_ + "/dev/x");
}

}  // namespace
