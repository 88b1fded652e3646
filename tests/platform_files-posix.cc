#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "tests/platform_files.h"

std::string MakeScratchDirectory() {
  char pattern[] = "/tmp/velmora-test-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "";
}

NonImageFiles::NonImageFiles(const std::string& dir) {
  const std::string fifo = dir + "/fifo";
  EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  paths_ = {"/dev/zero", "/dev/urandom", "/proc/self/status", fifo};
}

NonImageFiles::~NonImageFiles() = default;
