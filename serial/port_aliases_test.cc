#include "serial/port_aliases.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "serial/alias_directory_fixture.h"
#include "serial/port_names.h"

namespace {

namespace fs = std::filesystem;

class PortAliasesTest : public AliasDirectoryTest {};

TEST_F(PortAliasesTest, ListsAliasesInNumberOrderAndSkipsOtherEntries) {
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

TEST_F(PortAliasesTest, RegisterValidatesAndCreatesAPrivateDirectory) {
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

TEST_F(PortAliasesTest, DirectoryOthersCanWriteIsIgnoredWithOneWarning) {
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

TEST_F(PortAliasesTest, DirectoryOfAnotherUserIsIgnored) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the directory away";
  RegisterPortAlias(33, "/dev/pts/99", nullptr);
  ASSERT_EQ(chown(dir_.c_str(), 65534, 65534), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Path("COM33"), "/dev/ttyUSB0");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("does not belong to you"),
            std::string::npos);
}

// The directory is used only when neither it nor its parent can be changed
// by anyone else; a link at either place is not followed. What is refused
// stays untouched, and one warning names the reason.
TEST_F(PortAliasesTest, DirectoryAndParentMustBeTheUsersOwn) {
  struct Case {
    const char* name;
    const char* layout;  // how <case>/p and <case>/p/ports are made
    bool needsRoot;
    const char* reason;  // "" when the directory is used
  };
  const Case cases[] = {
      {"Private", "dirs", false, ""},
      {"StickyParentAllMayWrite", "sticky", false, ""},
      {"DirectoryIsALink", "dir-link", false, "@/p/ports is a symbolic link"},
      {"ParentIsALink", "parent-link", false, "@/p is a symbolic link"},
      {"ParentOthersMayWrite", "open-parent", false, "its parent @/p can be written by others"},
      {"ParentOfAnotherUser", "foreign-parent", true, "its parent @/p belongs to another user"},
      {"StickyParentOfAnotherUser", "foreign-sticky", true,
       "its parent @/p belongs to another user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && geteuid() != 0) continue;  // cannot give a directory away
    const std::string base = root_ + "/" + c.name, layout = c.layout;
    // The user's own directory with an alias, reached as <base>/p/ports.
    const std::string own =
        layout == "parent-link" || layout == "dir-link" ? base + "/own" : base + "/p";
    ASSERT_TRUE(fs::create_directories(own + "/ports"));
    ASSERT_EQ(symlink("/dev/pts/77", (own + "/ports/COM200").c_str()), 0);
    if (layout == "parent-link") {
      ASSERT_EQ(symlink(own.c_str(), (base + "/p").c_str()), 0);
    }
    if (layout == "dir-link") {
      ASSERT_EQ(mkdir((base + "/p").c_str(), 0700), 0);
      ASSERT_EQ(symlink((own + "/ports").c_str(), (base + "/p/ports").c_str()), 0);
    }
    const std::string p = base + "/p";
    if (layout == "sticky" || layout == "foreign-sticky") chmod(p.c_str(), 01777);
    if (layout == "open-parent") chmod(p.c_str(), 0777);
    if (layout.rfind("foreign", 0) == 0) {
      ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
    }
    const std::string dir = p + "/ports";
    ScopedEnv env("VELMORA_PORTS", dir.c_str());
    std::string reason = c.reason, why;
    if (reason.find('@') != std::string::npos) reason.replace(reason.find('@'), 1, base);

    testing::internal::CaptureStderr();
    const std::string path = Path("COM200");
    const bool registered = RegisterPortAlias(201, "/dev/pts/78", &why);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              reason.empty()
                  ? ""
                  : "velmora: ignoring the port aliases in " + dir + ": " + reason + "\n");
    EXPECT_EQ(path, reason.empty() ? "/dev/pts/77" : "");
    EXPECT_EQ(registered, reason.empty());
    EXPECT_EQ(registered ? "" : why,
              reason.empty() ? "" : "cannot use the port aliases in " + dir + ": " + reason);
    // Nothing was written through a link.
    EXPECT_EQ(fs::is_symlink(own + "/ports/COM201"), reason.empty()) << why;
  }
}

// Runs `body` in a child process as user `uid` (its group the same number),
// and returns what it reports: "" when every check in it held.
std::string InChildAs(uid_t uid, const std::function<std::string()>& body) {
  int report[2];
  if (pipe(report) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    std::string text = "cannot become user " + std::to_string(uid);
    if (uid == geteuid() || (setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0)) {
      text = body();
    }
    const bool written = write(report[1], text.data(), text.size()) == ssize_t(text.size());
    _exit(written ? 0 : 1);
  }
  close(report[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += " (the child ended abnormally)";
  return text;
}

// A check inside a child: a line for the report when `got` is not `want`.
std::string Differs(const char* what, const std::string& got, const std::string& want) {
  return got == want ? "" : std::string(what) + ": got \"" + got + "\", want \"" + want + "\"\n";
}

// Another user who owns the parent of the alias directory swaps the user's
// directory for one of their own between the user's look and its use: the
// user never reaches the device the other user chose.
TEST_F(PortAliasesTest, AnotherUsersParentCannotRaceInADevice) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two ordinary users";
  const uid_t user = 65534, other = 65533;
  ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
  const std::string parent = root_ + "/shared";
  ASSERT_EQ(mkdir(parent.c_str(), 0755), 0);
  ASSERT_EQ(chown(parent.c_str(), other, other), 0);
  auto makeDir = [&](const std::string& name, uid_t owner, const char* target) {
    const std::string path = parent + "/" + name, link = path + "/COM200";
    return mkdir(path.c_str(), 0755) == 0 && symlink(target, link.c_str()) == 0 &&
           lchown(link.c_str(), owner, owner) == 0 && chown(path.c_str(), owner, owner) == 0;
  };
  ASSERT_TRUE(makeDir("ports", user, "/dev/pts/77"));
  ASSERT_EQ(chmod((parent + "/ports").c_str(), 0700), 0);
  ASSERT_TRUE(makeDir("theirs", other, "/dev/their-choice"));
  ScopedEnv env("VELMORA_PORTS", (parent + "/ports").c_str());

  const pid_t swapper = fork();
  if (swapper == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(other) != 0 || setuid(other) != 0) _exit(1);
    // The user's directory moves aside; in its place a link turns between
    // it and the other user's directory.
    const std::string ports = parent + "/ports", swap = parent + "/swap";
    if (rename(ports.c_str(), (parent + "/aside").c_str()) != 0) _exit(1);
    for (;;) {
      for (const char* target : {"aside", "theirs"}) {
        unlink(swap.c_str());
        symlink(target, swap.c_str());
        rename(swap.c_str(), ports.c_str());
      }
    }
  }
  const std::string report = InChildAs(user, [&parent] {
    freopen("/dev/null", "w", stderr);  // the warning, once
    for (int i = 0; i < 5000 && !fs::exists(parent + "/aside"); ++i) usleep(1000);
    int reached = 0;
    for (int i = 0; i < 20000; ++i) reached += Path("COM200") == "/dev/their-choice";
    return reached == 0 ? std::string() : std::to_string(reached) + " of 20000 lookups reached it";
  });
  kill(swapper, SIGKILL);
  waitpid(swapper, nullptr, 0);
  EXPECT_EQ(report, "");
}

// A simulator's alias is followed while the simulator lives, refused to a
// second one meanwhile, and left alone once it is killed; its exit removes
// only its own alias. Run as an ordinary user.
TEST_F(PortAliasesTest, SimulatorAliasLivesOnlyAsLongAsItsSimulator) {
  const uid_t user = geteuid() == 0 ? 65534 : geteuid();
  ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
  const std::string home = root_ + "/home", dir = home + "/ports";
  ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
  ASSERT_EQ(chown(home.c_str(), user, user), 0);
  ScopedEnv env("VELMORA_PORTS", dir.c_str());

  EXPECT_EQ(
      InChildAs(
          user,
          [&dir] {
            std::string failed, why;
            int ready[2];
            if (pipe(ready) != 0) return std::string("no pipe");
            const pid_t sim = fork();
            if (sim == 0) {
              LivePortAlias terminal, table;
              const bool ok = terminal.claim(231, "/dev/pts/31", nullptr) &&
                              table.claim(33, "/dev/pts/33", nullptr);
              (void)!write(ready[1], ok ? "R" : "F", 1);
              for (;;) pause();
            }
            char said = 0;
            if (read(ready[0], &said, 1) != 1 || said != 'R')
              return std::string("the simulator failed");
            const std::string simPid = std::to_string(sim);
            failed += Differs("live", Path("COM231"), "/dev/pts/31");
            failed += Differs("listed", std::to_string(ListPortAliases().size()), "2");
            LivePortAlias second;
            second.claim(231, "/dev/pts/40", &why);
            failed += Differs("second", why,
                              "COM231 belongs to a running simulator (process " + simPid + ")");
            why.clear();
            RegisterPortAlias(231, "/dev/pts/40", &why);
            failed += Differs("by hand", why,
                              "COM231 belongs to a running simulator (process " + simPid + ")");

            kill(sim, SIGKILL);
            waitpid(sim, nullptr, 0);
            failed += Differs("left", fs::read_symlink(dir + "/COM231").string(), "/dev/pts/31");
            why.clear();
            failed += Differs("stale", DevicePathForPort("COM231", &why), "");
            failed += Differs("stale why", why,
                              "COM231 stands for no device here (the alias COM231 in " + dir +
                                  " was left by a simulator that has ended)");
            failed += Differs("stale table", Path("COM33"), "/dev/ttyUSB0");
            failed += Differs("not listed", std::to_string(ListPortAliases().size()), "0");
            // Pointed elsewhere by hand, the alias is the user's and is followed.
            symlink("/dev/rfcomm0", (dir + "/COM33.x").c_str());
            rename((dir + "/COM33.x").c_str(), (dir + "/COM33").c_str());
            failed += Differs("by hand", Path("COM33"), "/dev/rfcomm0");

            LivePortAlias next;
            failed += Differs("next", next.claim(231, "/dev/pts/31", &why) ? "" : why, "");
            failed += Differs("next live", Path("COM231"), "/dev/pts/31");
            symlink("/dev/rfcomm1", (dir + "/COM231.x").c_str());
            rename((dir + "/COM231.x").c_str(), (dir + "/COM231").c_str());
            failed += Differs("release", next.release(&why) ? "" : why, "");
            failed += Differs("not ours", Path("COM231"), "/dev/rfcomm1");
            failed += Differs("lock gone", std::to_string(fs::exists(dir + "/COM231.lock")), "0");
            return failed;
          }),
      "");
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
