#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/spawn.h"

pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args, int outFd,
                   int errFd, int inFd) {
  std::vector<std::string> words = {path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = inFd >= 0 ? inFd : open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

std::string ProgramPath(const std::string& name) {
  return std::string(VELMORA_BIN_DIR) + "/" + name;
}

int ExitStatusOf(int rawStatus) {
  return WIFEXITED(rawStatus) ? WEXITSTATUS(rawStatus) : 128 + WTERMSIG(rawStatus);
}
