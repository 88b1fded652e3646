#include "serial/port_names.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one scope, restoring the old value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A fresh alias directory (mode 0700) named by VELMORA_PORTS.
class PortNamesTest : public testing::Test {
 protected:
  PortNamesTest() {
    char pattern[] = "/tmp/velmora-names-XXXXXX";
    root_ = mkdtemp(pattern);
    dir_ = root_ + "/ports";
    mkdir(dir_.c_str(), 0700);
    env_.emplace("VELMORA_PORTS", dir_.c_str());
  }
  ~PortNamesTest() override { fs::remove_all(root_); }

  static std::string Path(const std::string& name) {
    std::string why;
    return DevicePathForPort(name, &why);
  }

  std::string root_;
  std::string dir_;
  std::optional<ScopedEnv> env_;
};

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

TEST_F(PortNamesTest, ListsAliasesInNumberOrderAndSkipsOtherEntries) {
  for (int n : {200, 3, 33}) RegisterPortAlias(n, "/dev/pts/" + std::to_string(n), nullptr);
  std::ofstream(dir_ + "/COM5") << "not a link";
  symlink("/dev/pts/6", (dir_ + "/com6").c_str());
  symlink("/dev/pts/7", (dir_ + "/COM07").c_str());
  std::ofstream(dir_ + "/README") << "x";

  const std::vector<PortAlias> aliases = ListPortAliases();
  ASSERT_EQ(aliases.size(), 3u);
  EXPECT_EQ(aliases[0].number, 3);
  EXPECT_EQ(aliases[0].target, "/dev/pts/3");
  EXPECT_EQ(aliases[1].number, 33);
  EXPECT_EQ(aliases[2].number, 200);
  EXPECT_EQ(aliases[2].target, "/dev/pts/200");
  // A regular file named like an alias does not hide the table entry.
  EXPECT_EQ(Path("COM5"), "/dev/ttyS4");
}

TEST_F(PortNamesTest, RegisterValidatesAndCreatesAPrivateDirectory) {
  std::string why;
  EXPECT_FALSE(RegisterPortAlias(0, "/dev/pts/1", &why));
  EXPECT_FALSE(RegisterPortAlias(257, "/dev/pts/1", &why));
  EXPECT_FALSE(RegisterPortAlias(5, "pts/1", &why));
  EXPECT_FALSE(why.empty());

  const std::string nested = root_ + "/a/b/ports";
  ScopedEnv env("VELMORA_PORTS", nested.c_str());
  ASSERT_TRUE(RegisterPortAlias(140, "/dev/pts/1", &why)) << why;
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(Path("COM140"), "/dev/pts/1");
}

TEST_F(PortNamesTest, DirectoryOthersCanWriteIsIgnoredWithOneWarning) {
  RegisterPortAlias(33, "/dev/pts/99", nullptr);
  chmod(dir_.c_str(), 0777);

  testing::internal::CaptureStderr();
  EXPECT_EQ(Path("COM33"), "/dev/ttyUSB0");
  EXPECT_TRUE(ListPortAliases().empty());
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find(dir_), std::string::npos) << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;

  std::string why;
  EXPECT_FALSE(RegisterPortAlias(34, "/dev/pts/1", &why));
  EXPECT_NE(why.find(dir_), std::string::npos) << why;
  // An absolute path needs no alias directory and is taken as it stands.
  EXPECT_EQ(Path("/dev/../dev/pts/7"), "/dev/../dev/pts/7");
}

TEST_F(PortNamesTest, DirectoryOfAnotherUserIsIgnored) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the directory away";
  RegisterPortAlias(33, "/dev/pts/99", nullptr);
  ASSERT_EQ(chown(dir_.c_str(), 65534, 65534), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Path("COM33"), "/dev/ttyUSB0");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("does not belong to you"),
            std::string::npos);
}

TEST(PortAliasDirectoryTest, FollowsTheEnvironment) {
  {
    ScopedEnv ports("VELMORA_PORTS", "/x/ports");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/7");
    EXPECT_EQ(PortAliasDirectory(), "/x/ports");
  }
  {
    ScopedEnv ports("VELMORA_PORTS", "");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/7");
    EXPECT_EQ(PortAliasDirectory(), "/run/user/7/velmora/ports");
  }
  {
    ScopedEnv ports("VELMORA_PORTS", nullptr);
    ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(PortAliasDirectory(), "/tmp/velmora-" + std::to_string(geteuid()) + "/ports");
  }
}

}  // namespace
