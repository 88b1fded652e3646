// velmora.exe end to end under Wine and a private X server, against the real
// velmora-sim: velmora_driver.exe (beside velmora.exe) starts the dialog
// with a command template, presses "Update", closes the progress window and
// answers the boxes, and reports what it saw; the simulator's flash shows
// what landed. The prefix has two ports registered as their drivers would
// (tests/win32/register_com_port.cc): "USB Serial Port (COM5)", which the
// dialog lists as COM5, and "Modem (V.92) (COM8)", which it leaves out; the
// simulator is COM5, and the templates reach it through "COM<COMPORT>".
//
// Run by scripts/test-windows.sh on a private X server, in a Wine virtual
// desktop made under that display, with $VELMORA_WIN_BIN the folder of
// velmora.exe and velmora_driver.exe, $VELMORA_WINE the Wine loader and
// $WINEPREFIX the prefix with the two ports, whose dosdevices map COM5 to
// the simulator;
// skipped without $VELMORA_WIN_BIN. $VELMORA_SHOTS, when set, is a folder
// for the driver's captures of each window (scripts/windows-screenshots.sh).
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
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

  // The simulator as COM5 of the Wine prefix: by default in its loader at
  // 115200, else as `receiver` says.
  void StartSimulator(const std::vector<std::string>& receiver = {"--loader", "115200"}) {
    std::vector<std::string> args{"--com", "5", "--flash-out", flashOut};
    args.insert(args.end(), receiver.begin(), receiver.end());
    sim = std::make_unique<SimProcess>(args);
    const std::string link = Env("WINEPREFIX") + "/dosdevices/com5";
    unlink(link.c_str());
    ASSERT_EQ(symlink(sim->devicePath().c_str(), link.c_str()), 0) << link;
  }

  std::string VelmoraExe() { return WinePath(Env("VELMORA_WIN_BIN") + "/velmora.exe"); }

  // The driver's report for case `which`, with velmora.exe's command line
  // `x -uart PORT -app app.bin`; `onLine` sees each line as it comes.
  std::vector<std::string> Drive(const std::string& which, const std::string& port,
                                 const std::function<void(const std::string&)>& onLine = {}) {
    return DriveProgram(which, VelmoraExe(), "x -uart " + port + " -app " + WinePath(appPath),
                        onLine);
  }

  // The same with `program` (velmora.exe, or a .cmd script that starts it)
  // and the command line after its name as it stands.
  std::vector<std::string> DriveProgram(
      const std::string& which, const std::string& program, const std::string& tail,
      const std::function<void(const std::string&)>& onLine = {}) {
    const std::string bin = Env("VELMORA_WIN_BIN");
    const std::string wine =
        Env("VELMORA_WINE").empty() ? "/usr/lib/wine/wine64" : Env("VELMORA_WINE");
    const std::string command =
        "timeout 120 " + Quoted(wine) + " " + Quoted(bin + "/velmora_driver.exe") + " " + which +
        " " + Quoted(program) + " " + Quoted(WinePath(dir + "/velmora-out.txt")) + " " +
        Quoted(Env("VELMORA_SHOTS").empty() ? "-" : WinePath(Env("VELMORA_SHOTS"))) + " " +
        Quoted(tail);
    FILE* driver = popen(command.c_str(), "r");
    std::string text;
    std::vector<std::string> lines;
    char buf[512];
    while (driver && fgets(buf, sizeof buf, driver)) {
      text += buf;
      std::string line = std::regex_replace(std::string(buf), std::regex("[\r\n]"), "");
      if (onLine) onLine(line);
      lines.push_back(std::move(line));
    }
    if (driver) {
      EXPECT_EQ(pclose(driver), 0) << text;
    }
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
  EXPECT_EQ(Drive("complete", "COM<COMPORT>"),
            (Lines{"entries 1 COM5", "box Update complete! [OK]", "bar \"\" fill full", "exit 0"}));
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
  EXPECT_EQ(seen, (Lines{"entries 1 COM5", failed, "dialog open, update enabled", failed,
                         "dialog open, update enabled", "exit 1"}));
  EXPECT_NE(VelmoraOutput().find("Can not open COM9 port!"), std::string::npos) << VelmoraOutput();
}

TEST_F(VelmoraWineTest, StopQuestionAnsweredNoLetsTheRunComplete) {
  StartSimulator();
  EXPECT_EQ(
      Drive("stop-no", "COM<COMPORT>"),
      (Lines{"entries 1 COM5", "box Do you want to stop updating? [Yes No]", "bar \"\" fill part",
             "box Update complete! [OK]", "bar \"\" fill full", "exit 0"}));
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{kAppAddress, app}}));
}

TEST_F(VelmoraWineTest, StopQuestionAnsweredYesClosesWithoutABox) {
  StartSimulator();
  EXPECT_EQ(Drive("stop-yes", "COM<COMPORT>"),
            (Lines{"entries 1 COM5", "box Do you want to stop updating? [Yes No]",
                   "bar \"\" fill part", "dialog open, update enabled", "exit 1"}));
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_FALSE(ReadFile(flashOut) == ExpectedFlash({{kAppAddress, app}}));
}

// The stop question while velmora.exe looks for the receiver (the
// simulator's firmware sends nothing): the run is held there. Answered No,
// after the line has gone meanwhile (the engine's wait ends, failed), the
// outcome comes only after the answer, not over the question.
TEST_F(VelmoraWineTest, StopQuestionWhileLookingHoldsTheOutcomeUntilNo) {
  StartSimulator({"--no-sentences"});
  const std::string question = "box Do you want to stop updating? [Yes No]";
  const std::string looking = "bar \"Looking for the receiver...\" fill empty";
  EXPECT_EQ(Drive("detect-no", "COM<COMPORT>",
                  [&](const std::string& line) {
                    if (line == question) sim->stop();
                  }),
            (Lines{"entries 1 COM5", question, looking, "boxes 1", "box Update not complete! [OK]",
                   looking, "dialog open, update enabled", "exit 1"}));
}

// Answered Yes, the run ends at once wherever it is: the window closes
// within half a second, with no box.
TEST_F(VelmoraWineTest, StopQuestionWhileLookingAnsweredYesEndsAtOnce) {
  StartSimulator({"--no-sentences"});
  EXPECT_EQ(Drive("detect-yes", "COM<COMPORT>"),
            (Lines{"entries 1 COM5", "box Do you want to stop updating? [Yes No]",
                   "bar \"Looking for the receiver...\" fill empty", "closed within 500 ms",
                   "dialog open, update enabled", "exit 1"}));
}

// The command lines that the README gives, with an image in a folder whose
// name has a blank: as a shortcut's target (and PowerShell's Start-Process
// -ArgumentList) passes it on, a quoted path with blanks...
TEST_F(VelmoraWineTest, AQuotedPathWithBlanksReachesTheProgrammer) {
  StartSimulator();
  mkdir((dir + "/Ana Lima").c_str(), 0755);
  const std::string path = WinePath(WriteFile("Ana Lima/app.bin", app));
  EXPECT_EQ(DriveProgram("complete", VelmoraExe(), "x -uart COM<COMPORT> -app \"" + path + "\""),
            (Lines{"entries 1 COM5", "box Update complete! [OK]", "bar \"\" fill full", "exit 0"}));
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{kAppAddress, app}}));
}

// ... and typed in cmd.exe, where "COM<COMPORT>" must be quoted too, and
// `start /wait` makes the exit status that of velmora.exe.
TEST_F(VelmoraWineTest, CmdStartWaitGivesTheExitStatus) {
  StartSimulator();
  mkdir((dir + "/Ana Lima").c_str(), 0755);
  const std::string path = WinePath(WriteFile("Ana Lima/app.bin", app));
  const std::string script =
      WriteFile("update.cmd", "@echo off\r\nstart /wait \"\" \"" + VelmoraExe() +
                                  "\" x -uart \"COM<COMPORT>\" -app \"" + path +
                                  "\"\r\necho %errorlevel%\r\n");
  EXPECT_EQ(DriveProgram("complete", WinePath(script), ""),
            (Lines{"entries 1 COM5", "box Update complete! [OK]", "bar \"\" fill full", "exit 0"}));
  EXPECT_EQ(VelmoraOutput(), "0\n");
  EXPECT_EQ(sim->stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{kAppAddress, app}}));
}

}  // namespace
