// Starting a program and reading its exit, for the tests and the benchmark
// that run the real fwp and velmora-sim (which tests/sim_launcher.h starts).
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_TESTS_SPAWN_H_
#define VELMORA_TESTS_SPAWN_H_

#include <sys/types.h>

#include <string>
#include <vector>

// Starts the program at `path` with `args`, standard input from `inFd`
// (/dev/null when -1), standard output to `outFd` and standard error to
// `errFd`. Returns its process id, or -1 when it could not be started; a
// program that cannot be executed exits with 127.
pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args, int outFd,
                   int errFd, int inFd = -1);

// The path of the built program `name` in the build's bin folder.
std::string ProgramPath(const std::string& name);

// The exit status in a wait status, or 128 + the signal that ended the program.
int ExitStatusOf(int rawStatus);

#endif  // VELMORA_TESTS_SPAWN_H_
