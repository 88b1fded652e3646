// What the engine's tests need from the platform's file system.
//
// Threads: the test's own; nothing is shared.
#ifndef VELMORA_TESTS_PLATFORM_FILES_H_
#define VELMORA_TESTS_PLATFORM_FILES_H_

#include <memory>
#include <string>
#include <vector>

// A new, empty directory in the system's temporary folder; the caller
// removes it.
std::string MakeScratchDirectory();

// Things with a name that are no image file, made in `dir` where they need
// making (a FIFO without a writer, a named pipe) and kept for as long as the
// object lives: devices, pipes, files whose length says nothing.
class NonImageFiles {
 public:
  explicit NonImageFiles(const std::string& dir);
  ~NonImageFiles();
  const std::vector<std::string>& paths() const { return paths_; }

 private:
  std::vector<std::string> paths_;
  void* pipe_ = nullptr;  // a named pipe's server end, where there is one
};

#endif  // VELMORA_TESTS_PLATFORM_FILES_H_
