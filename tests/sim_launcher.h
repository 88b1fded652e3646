// velmora-sim as a child process: the one way the integration tests, the
// simulator's own test and the benchmark start the simulator.
//
// The simulator's standard output comes through a pipe that the launcher
// reads line by line; its standard error goes to an anonymous file, so that
// a simulator that says much never waits for a reader. Its standard input is
// /dev/null. It takes the alias directory that $VELMORA_PORTS names in this
// process when it starts. Where the system allows it (root), it runs at a
// higher priority (nice -5) than the tests around it.
//
// Threads: one object is used from one thread at a time.
#ifndef VELMORA_TESTS_SIM_LAUNCHER_H_
#define VELMORA_TESTS_SIM_LAUNCHER_H_

#include <sys/types.h>

#include <string>
#include <vector>

class SimLauncher {
 public:
  SimLauncher() = default;
  // A simulator still running is ended as stop() ends it.
  ~SimLauncher();
  SimLauncher(const SimLauncher&) = delete;
  SimLauncher& operator=(const SimLauncher&) = delete;

  // Starts the built velmora-sim with `args`. False, with the reason in
  // `why`, when it could not be started. One start per object.
  bool start(const std::vector<std::string>& args, std::string* why);

  // start(), then the lines it prints once it serves: its device path and,
  // unless `args` hold --no-alias, its COM name. False, with the reason and
  // what the simulator said on standard error in `why`, when they did not
  // come within 10 s. When the programmer under test is fwp.exe under Wine
  // ($VELMORA_WINE_FWP names it), the COM name is linked to the device in
  // $WINEPREFIX's dosdevices, where Wine looks for COM ports (lower case, as
  // Wine keeps them).
  bool serve(const std::vector<std::string>& args, std::string* why);

  // The next line of standard output without its line end; "" once the
  // output has ended, or when no whole line came within `timeoutMs`.
  std::string readLine(int timeoutMs);
  // The rest of standard output, up to its end or `timeoutMs`.
  std::string readRest(int timeoutMs);

  // Sends `signal` to the simulator, if it runs.
  void signal(int signal);
  // The exit status (128 + the signal when a signal ended it); -1 when it
  // has not ended within `timeoutMs` (it is left running) or was never
  // started.
  int waitExit(int timeoutMs);
  // Sends SIGTERM and waits up to `timeoutMs`; one that has not ended then
  // gets SIGKILL. The exit status; -1 when it had to be killed or did not run.
  int stop(int timeoutMs = 10000);

  bool running() const { return pid_ > 0; }
  const std::string& devicePath() const { return devicePath_; }
  const std::string& comName() const { return comName_; }
  // All it has written to standard error so far.
  std::string stderrText() const;

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string pending_;  // output read but not yet returned as a line
  bool outEnded_ = false;
  std::string devicePath_, comName_;
};

#endif  // VELMORA_TESTS_SIM_LAUNCHER_H_
