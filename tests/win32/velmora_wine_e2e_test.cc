// velmora.exe end to end under Wine and a private X server, against the real
// velmora-sim: velmora_driver.exe (beside velmora.exe) starts the dialog
// with a command template, presses "Update", closes the progress window and
// answers the boxes, and reports what it saw; the simulator's flash shows
// what landed. Wine lists no COM ports, so the port list is empty and
// "Update" runs with port number 0: the templates name their port
// themselves, which a template without "<COMPORT>" does.
//
// Run by scripts/test-windows.sh on a private X server, in a Wine virtual
// desktop made under that display, with $VELMORA_WIN_BIN the folder of
// velmora.exe and velmora_driver.exe, $VELMORA_WINE the Wine loader and
// $WINEPREFIX the prefix whose dosdevices map the simulator's COM name;
// skipped without $VELMORA_WIN_BIN. $VELMORA_SHOTS, when set, is a folder
// for the driver's captures of each window (scripts/windows-screenshots.sh).
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sample_bytes.h"
#include "tests/integration/sim_harness.h"

namespace {

constexpr uint32_t kAppAddress = 0x00010000;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A Linux path as Wine's drive Z: names it.
std::string WinePath(const std::string& path) {
  std::string name = "Z:" + path;
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

std::string Quoted(const std::string& word) {
  return "'" + word + "'";
}

class VelmoraWineTest : public SimTest {
 protected:
  void SetUp() override {
    if (Env("VELMORA_WIN_BIN").empty()) GTEST_SKIP() << "VELMORA_WIN_BIN not set";
    app = SeededImage(30000, 7);
    appPath = WriteFile("app.bin", app);
  }

  // The simulator in its loader at 115200, as COM7 of the Wine prefix.
  void StartSimulator() {
    sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--com", "7", "--loader", "115200", "--flash-out", flashOut});
    const std::string link = Env("WINEPREFIX") + "/dosdevices/com7";
    unlink(link.c_str());
    ASSERT_EQ(symlink(sim->devicePath().c_str(), link.c_str()), 0) << link;
  }

  // The driver's report for case `which`, with velmora.exe's command line
  // `x -uart PORT -app app.bin`.
  std::vector<std::string> Drive(const std::string& which, const std::string& port) {
    const std::string bin = Env("VELMORA_WIN_BIN");
    const std::string wine =
        Env("VELMORA_WINE").empty() ? "/usr/lib/wine/wine64" : Env("VELMORA_WINE");
    const std::string command =
        "timeout 120 " + Quoted(wine) + " " + Quoted(bin + "/velmora_driver.exe") + " " + which +
        " " + Quoted(bin + "/velmora.exe") + " " + Quoted(WinePath(dir + "/velmora-out.txt")) +
        " " + Quoted(Env("VELMORA_SHOTS").empty() ? "-" : WinePath(Env("VELMORA_SHOTS"))) +
        " x -uart " + port + " -app " + Quoted(WinePath(appPath));
    FILE* driver = popen(command.c_str(), "r");
    std::string text;
    char buf[512];
    while (driver && fgets(buf, sizeof buf, driver)) text += buf;
    if (driver) {
      EXPECT_EQ(pclose(driver), 0) << text;
    }
    std::vector<std::string> lines;
    std::istringstream in(std::regex_replace(text, std::regex("\r"), ""));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // What velmora.exe printed (its run echoed), with Unix line ends.
  std::string VelmoraOutput() {
    return std::regex_replace(ReadFile(dir + "/velmora-out.txt"), std::regex("\r\n"), "\n");
  }

  std::string app, appPath;
  std::unique_ptr<SimProcess> sim;
};

using Lines = std::vector<std::string>;

TEST_F(VelmoraWineTest, CompleteUpdateEndsTheProgram) {
  StartSimulator();
  EXPECT_EQ(Drive("complete", "COM7"),
            (Lines{"entries 0", "box Update complete! [OK]", "bar \"\" fill full", "exit 0"}));
  EXPECT_NE(VelmoraOutput().find("APP CODE  OK!"), std::string::npos) << VelmoraOutput();
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{kAppAddress, app}}));
}

// No receiver behind COM9: each run fails, the dialog stays and "Update"
// runs again; the reason is in what velmora.exe printed.
TEST_F(VelmoraWineTest, FailedUpdateKeepsTheDialog) {
  // The bar is reported only when the window came up before the box.
  Lines seen = Drive("failed", "COM9");
  for (const std::string& line : seen) {
    if (line.rfind("bar ", 0) == 0) {
      EXPECT_EQ(line, "bar \"Looking for the receiver...\" fill empty");
    }
  }
  std::erase_if(seen, [](const std::string& line) { return line.rfind("bar ", 0) == 0; });
  const std::string failed = "box Update not complete! [OK]";
  EXPECT_EQ(seen, (Lines{"entries 0", failed, "dialog open, update enabled", failed,
                         "dialog open, update enabled", "exit 1"}));
  EXPECT_NE(VelmoraOutput().find("Can not open COM9 port!"), std::string::npos) << VelmoraOutput();
}

TEST_F(VelmoraWineTest, StopQuestionAnsweredNoLetsTheRunComplete) {
  StartSimulator();
  EXPECT_EQ(Drive("stop-no", "COM7"),
            (Lines{"entries 0", "box Do you want to stop updating? [Yes No]", "bar \"\" fill part",
                   "box Update complete! [OK]", "bar \"\" fill full", "exit 0"}));
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{kAppAddress, app}}));
}

TEST_F(VelmoraWineTest, StopQuestionAnsweredYesClosesWithoutABox) {
  StartSimulator();
  EXPECT_EQ(Drive("stop-yes", "COM7"),
            (Lines{"entries 0", "box Do you want to stop updating? [Yes No]", "bar \"\" fill part",
                   "dialog open, update enabled", "exit 1"}));
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_FALSE(ReadFile(flashOut) == ExpectedFlash({{kAppAddress, app}}));
}

}  // namespace
