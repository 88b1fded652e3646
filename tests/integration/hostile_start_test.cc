// Programs started in hostile ways against velmora-sim: with standard
// descriptors closed, and with the port being the terminal velmora-line was
// started from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/integration/sim_harness.h"

namespace {

std::string Bin(const std::string& program) {
  return std::string(VELMORA_BIN_DIR) + "/" + program;
}

// Runs `program` with `args` after `prepare` (in the child, before exec),
// standard error into a pipe that is returned in `err`; waits at most
// `timeoutMs`. Returns the exit status (128 + signal; -1 when it had to be
// killed).
int RunPrepared(const std::string& program, const std::vector<std::string>& args,
                const std::function<void()>& prepare, std::string* err, int timeoutMs = 60000) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  std::vector<std::string> words = {Bin(program)};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    dup2(pipeFds[1], 2);
    close(pipeFds[1]);
    prepare();
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  int raw = 0;
  for (;;) {
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) err->append(buffer, n);
    if (waitpid(pid, &raw, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      close(pipeFds[0]);
      return -1;
    }
    pollfd p = {pipeFds[0], POLLIN, 0};
    poll(&p, 1, 20);
  }
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) err->append(buffer, n);
  close(pipeFds[0]);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// With standard output closed (`>&-`), the programs' texts go nowhere: not
// down the line into the receiver (the port would have been descriptor 1),
// and not into velmora-line's log.
TEST_F(SimTest, ClosedStandardDescriptorsGetNothingOfTheRun) {
  const std::string image = SeededImage(3000, 4), app = WriteFile("app.bin", image);
  const auto closeOutput = [] {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    close(null);
    close(1);
  };
  {
    const std::string simLog = dir + "/sim.log";
    SimProcess sim({"--loader", "115200", "--flash-out", flashOut, "--log", simLog});
    std::string err;
    EXPECT_EQ(RunPrepared("fwp", {"-uart", sim.comName(), "-app", app}, closeOutput, &err), 2)
        << err;
    EXPECT_EQ(sim.stop(), 0);
    const std::string sent = SimBytes(simLog).toReceiver;
    for (const char* text : {"Flash Programmer", "ISP mode", "Addr", "Programming time"})
      EXPECT_EQ(sent.find(text), std::string::npos) << text << " was sent to the receiver";
    EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{0x10000, image}}));
  }
  {
    SimProcess sim({"--loader", "115200"});
    const std::string log = dir + "/runs.jsonl";
    std::string err;
    EXPECT_EQ(
        RunPrepared("velmora-line", {"--ports", sim.comName(), "--log", log, "--", "-app", app},
                    closeOutput, &err),
        0)
        << err;
    const std::string records = ReadFile(log);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front(), '{') << records;
    EXPECT_EQ(records.find('\n'), records.size() - 1)
        << "one record, and nothing else: " << records;
  }
}

// velmora-line started from the very terminal it is told to program (its
// controlling terminal): the port's process, in a process group of its own,
// must not be stopped by that terminal's job control when it sets the line
// up and reads it.
TEST_F(SimTest, PortProcessIsNeverStoppedByTheTerminalItPrograms) {
  SimProcess sim({"--loader", "115200", "--flash-out", flashOut});
  const std::string image = SeededImage(2000, 6), app = WriteFile("app.bin", image);
  const std::string terminal = sim.devicePath();
  const auto takeTheTerminal = [&terminal] {
    setsid();
    // The first terminal a session leader opens becomes its controlling one;
    // no descriptor is kept, so nothing holds the port.
    const int fd = open(terminal.c_str(), O_RDWR);
    if (fd >= 0) close(fd);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
  };
  std::string err;
  EXPECT_EQ(RunPrepared("velmora-line", {"--ports", terminal, "--", "-app", app}, takeTheTerminal,
                        &err, 30000),
            0)
      << err;
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_TRUE(ReadFile(flashOut) == ExpectedFlash({{0x10000, image}}));
}

}  // namespace
