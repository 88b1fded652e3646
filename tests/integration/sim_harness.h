// Running the real programs: velmora-sim on a pseudo-terminal and fwp against
// it, with the real clock.
//
// Every SimTest gets an alias directory of its own (VELMORA_PORTS), so tests
// can run side by side, each with its simulator as COM200.
#ifndef VELMORA_TESTS_INTEGRATION_SIM_HARNESS_H_
#define VELMORA_TESTS_INTEGRATION_SIM_HARNESS_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sample_bytes.h"
#include "tests/sim_launcher.h"

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
  int64_t afterSignalMs = -1;  // from the signal (RunOptions) to the exit
};

// What else happens while a program runs.
struct RunOptions {
  int signal = 0;               // sent once...
  std::string signalAfter;      // ...standard output holds this text (empty: at once)...
  int signalDelayMs = 0;        // ...and this much later
  int signalRepeatMs = -1;      // and once more this much after it (-1: never)
  size_t closeOutputAfter = 0;  // stop reading standard output after this many bytes
  int inFd = -1;                // standard input (/dev/null when -1)
};

// Whether fwp is the Windows fwp.exe under Wine ($VELMORA_WINE_FWP names it;
// $VELMORA_WINE the Wine loader, $WINEPREFIX the prefix, in which each
// simulator's COM name is linked to its terminal). Its output is then checked
// for CR LF line ends and compared as on Linux.
bool FwpIsWindows();

// Runs `program` (a file in the build's bin folder) with `args`, standard
// input from /dev/null, and waits for it (killing it after `timeoutMs`).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         int timeoutMs = 120000, RunOptions options = {});

// velmora-sim serving, through the launcher, with every failure to start or
// to end a test failure.
class SimProcess {
 public:
  // Starts velmora-sim with `args` and waits for its device path.
  explicit SimProcess(const std::vector<std::string>& args);
  ~SimProcess();

  // Ends the simulator with SIGTERM and waits for it; returns its exit status.
  int stop();
  // Waits for the simulator to end by itself (--once, line gone).
  int wait(int timeoutMs = 30000);

  const std::string& devicePath() const { return launcher_.devicePath(); }
  const std::string& comName() const { return launcher_.comName(); }
  std::string stderrText() const { return launcher_.stderrText(); }

 private:
  SimLauncher launcher_;
};

class SimTest : public ::testing::Test {
 protected:
  SimTest();
  ~SimTest() override;

  std::string WriteFile(const std::string& name, const std::string& bytes);
  std::string ReadFile(const std::string& path);
  // fwp with `args`; its output with the programming time's digits as "T".
  ProgramResult Fwp(const std::vector<std::string>& args, const RunOptions& options = {});

  std::string dir;       // the test's scratch directory
  std::string flashOut;  // where the simulator dumps its flash
};

// A flash of 2 MiB, erased except for `images` (address, bytes).
std::string ExpectedFlash(const std::vector<std::pair<uint32_t, std::string>>& images);

// The bytes of a run in each direction, from a simulator's --log transcript
// or from a programmer's trace.
struct Directions {
  std::string toReceiver, toProgrammer;
  std::vector<std::string> events;  // trace only: the records other than bytes, without times
  size_t beforeOpen = 0;            // simulator only: bytes to the programmer sent before it opened
};
Directions SimBytes(const std::string& path);
Directions TraceBytes(const std::string& path);

// The trace at `tracePath` holds exactly the bytes that the simulator's
// transcript `simLog` shows in each direction (less the receiver's bytes
// sent before the port was opened).
void ExpectTraceHoldsTheSimulatorsBytes(const std::string& tracePath, const std::string& simLog);

#endif  // VELMORA_TESTS_INTEGRATION_SIM_HARNESS_H_
