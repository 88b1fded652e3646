#include "serial/port_holders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace {

// A pseudo-terminal whose terminal side is open as the programmer opens it;
// the test holds the controlling side, which is no holder of the terminal.
struct Terminal {
  Terminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    path = ptsname(master);
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  ~Terminal() {
    if (holder > 0) {
      kill(holder, SIGKILL);
      waitpid(holder, nullptr, 0);
    }
    for (int open : {extra, fd, master})
      if (open >= 0) close(open);
  }

  // Starts sleep with the terminal as its standard input, optionally in
  // exclusive mode: a program that takes no lock. Returns once it runs.
  bool StartHolder(bool exclusive) {
    holder = fork();
    if (holder == 0) {
      const int held = open(path.c_str(), O_RDWR | O_NOCTTY);
      if (held < 0 || (exclusive && ioctl(held, TIOCEXCL) != 0) || dup2(held, 0) != 0) _exit(127);
      execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Until exec, the child also has a copy of `fd`.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      std::string comm;
      std::getline(std::ifstream("/proc/" + std::to_string(holder) + "/comm"), comm);
      if (comm == "sleep") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  int master = -1;
  int fd = -1;
  int extra = -1;  // a second descriptor of this program
  pid_t holder = -1;
  std::string path;
};

// Whether another descriptor can take the terminal's lock right now.
bool LockIsFree(const Terminal& t) {
  const int other = open(t.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const bool free = other >= 0 && flock(other, LOCK_EX | LOCK_NB) == 0;
  if (other >= 0) close(other);
  return free;
}

// ClaimPort on the terminal as user nobody would, in a child process that
// gives up root: the reason, or "" when it claimed the port.
std::string ClaimAsNobody(const Terminal& t) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    std::string why;
    if (ClaimPort(t.fd, t.path, /*keepLock=*/false, &why)) why.clear();
    (void)!write(out[1], why.data(), why.size());
    _exit(0);
  }
  close(out[1]);
  std::string why;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) why.append(buffer, n);
  close(out[0]);
  waitpid(child, nullptr, 0);
  return why;
}

// Sets the terminal's exclusive mode through a descriptor that is closed
// again, as a programmer killed mid-run leaves it.
bool LeaveExclusiveMode(Terminal& t) {
  const int other = open(t.path.c_str(), O_RDWR | O_NOCTTY);
  const bool set = other >= 0 && ioctl(other, TIOCEXCL) == 0;
  close(other);
  return set;
}

// Each kind of other holder is refused and named when /proc shows it; a port
// that nobody else holds is claimed, and its lock kept only when asked.
TEST(ClaimPortTest, RefusesEveryOtherHolderAndNamesIt) {
  const std::string us = std::to_string(getpid());
  const std::string leftOverForUsers =
      " is busy: another program has it open; if no program uses it, its exclusive flag may be "
      "left over from one that was killed: a run as root clears a flag that no process holds";
  struct Case {
    const char* name;
    std::function<bool(Terminal&)> arrange;
    std::function<std::string(const Terminal&)> refusal;  // "" when it is claimed
    bool asNobody = false;                                // claimed by user nobody
  };
  const Case cases[] = {
      {"ProgramWithoutLockOrExclusiveMode", [](Terminal& t) { return t.StartHolder(false); },
       [](const Terminal& t) {
         return t.path + " is busy: held by " + std::to_string(t.holder) + " (sleep)";
       }},
      {"ProgramInExclusiveMode", [](Terminal& t) { return t.StartHolder(true); },
       [](const Terminal& t) {
         return t.path + " is busy: held by " + std::to_string(t.holder) + " (sleep)";
       }},
      // A pseudo-terminal keeps the mode after its setter has gone. Root sees
      // every process, finds no holder, and takes the port, clearing the mode;
      // an ordinary user cannot tell, and is told how it can be cleared.
      {"ExclusiveModeOfAGoneHolder", LeaveExclusiveMode,
       [&](const Terminal& t) { return geteuid() == 0 ? "" : t.path + leftOverForUsers; }},
      {"ExclusiveModeOfAGoneHolderForAnOrdinaryUser", LeaveExclusiveMode,
       [&](const Terminal& t) { return t.path + leftOverForUsers; }, true},
      {"SecondDescriptorOfThisProgram",
       [](Terminal& t) {
         return (t.extra = open(t.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) >= 0;
       },
       [&us](const Terminal& t) { return t.path + " is busy: held by " + us + " (serial_test)"; }},
      {"NobodyElse", [](Terminal&) { return true; }, [](const Terminal&) { return ""; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.asNobody && geteuid() != 0) continue;  // needs root to become another user
    Terminal t;
    ASSERT_GE(t.fd, 0);
    ASSERT_TRUE(c.arrange(t));
    if (c.asNobody) {
      EXPECT_EQ(ClaimAsNobody(t), c.refusal(t));
      continue;
    }
    std::string why;
    const bool claimed = ClaimPort(t.fd, t.path, /*keepLock=*/true, &why);
    EXPECT_EQ(claimed ? "" : why, c.refusal(t));
    if (claimed) {
      int exclusive = -1;
      EXPECT_EQ(ioctl(t.fd, TIOCGEXCL, &exclusive), 0);
      EXPECT_EQ(exclusive, 0);
      EXPECT_FALSE(LockIsFree(t));
      flock(t.fd, LOCK_UN);
      EXPECT_TRUE(ClaimPort(t.fd, t.path, /*keepLock=*/false, &why)) << why;
      EXPECT_TRUE(LockIsFree(t));
    }
  }
}

// One pass ahead for several devices names each one's holder as a scan of
// its own would. A device outside the pass is scanned as always, and so are
// the pass's devices once it is forgotten.
TEST(HoldersAheadTest, AnswersAsAScanWouldAndOnlyForItsDevices) {
  Terminal held, free, outside;
  for (Terminal* t : {&held, &free, &outside}) {
    ASSERT_GE(t->fd, 0);
    // The pass counts this program's own descriptors; velmora-line makes it
    // before its children open their ports.
    close(t->fd);
    t->fd = -1;
  }
  const auto device = [](const Terminal& t) {
    struct stat st;
    return stat(t.path.c_str(), &st) == 0 ? st.st_rdev : dev_t{0};
  };
  ASSERT_TRUE(held.StartHolder(false));
  FindPortHoldersAhead({device(held), device(free)});
  for (Terminal* t : {&held, &free, &outside})
    ASSERT_GE(t->fd = open(t->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), 0);
  ASSERT_TRUE(outside.StartHolder(false));
  const auto claim = [](const Terminal& t) {
    std::string why;
    return ClaimPort(t.fd, t.path, /*keepLock=*/false, &why) ? "" : why;
  };
  const auto busy = [](const Terminal& t) {
    return t.path + " is busy: held by " + std::to_string(t.holder) + " (sleep)";
  };
  EXPECT_EQ(claim(held), busy(held));
  EXPECT_EQ(claim(free), "");
  EXPECT_EQ(claim(outside), busy(outside));
  ForgetHoldersAhead();
  ASSERT_TRUE(free.StartHolder(false));
  EXPECT_EQ(claim(free), busy(free));
}

}  // namespace
