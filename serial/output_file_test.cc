#include "serial/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// What stands at the path before the open.
enum class There { kNothing, kFile, kLinkToVictim, kDanglingLink, kFifo, kDirectory, kDevice };

struct Case {
  There there;
  OutputMode mode;
  const char* why;       // "" when the open succeeds
  const char* contents;  // the file's contents after writing "new" (succeeding opens)
};

// Every kind of name a trace or log may be pointed at, in each mode: only a
// regular file (or none) is written, a link's target never, and nothing
// blocks. The victim is what a link points at; it must stay as it was.
TEST(OutputFile, OpensOnlyRegularFilesAndNeverFollowsALink) {
  const Case cases[] = {
      {There::kNothing, OutputMode::kNew, "", "new"},
      {There::kNothing, OutputMode::kReplace, "", "new"},
      {There::kNothing, OutputMode::kAppend, "", "new"},
      {There::kFile, OutputMode::kNew, "it already exists", nullptr},
      {There::kFile, OutputMode::kReplace, "", "new"},
      {There::kFile, OutputMode::kAppend, "", "old\nnew"},
      {There::kLinkToVictim, OutputMode::kNew, "it is a symbolic link", nullptr},
      {There::kLinkToVictim, OutputMode::kReplace, "it is a symbolic link", nullptr},
      {There::kLinkToVictim, OutputMode::kAppend, "it is a symbolic link", nullptr},
      {There::kDanglingLink, OutputMode::kReplace, "it is a symbolic link", nullptr},
      {There::kDanglingLink, OutputMode::kNew, "it is a symbolic link", nullptr},
      {There::kFifo, OutputMode::kReplace, "it is a FIFO, not a regular file", nullptr},
      {There::kFifo, OutputMode::kAppend, "it is a FIFO, not a regular file", nullptr},
      {There::kDirectory, OutputMode::kReplace, "it is a directory", nullptr},
      {There::kDevice, OutputMode::kReplace, "it is a device, not a regular file", nullptr},
      {There::kDevice, OutputMode::kAppend, "it is a device, not a regular file", nullptr},
  };
  const std::string dir = ::testing::TempDir() + "output_file_test";
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(index++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string victim = dir + "/victim";
    Put(victim, "precious");
    std::string path = dir + "/out";
    switch (c.there) {
      case There::kNothing:
        break;
      case There::kFile:
        Put(path, "old\n");
        break;
      case There::kLinkToVictim:
        ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
        break;
      case There::kDanglingLink:
        ASSERT_EQ(symlink((dir + "/made-through-the-link").c_str(), path.c_str()), 0);
        break;
      case There::kFifo:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // nobody reads it
        break;
      case There::kDirectory:
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        break;
      case There::kDevice:
        path = "/dev/null";
        break;
    }
    std::string why = "unchanged";
    const int fd = OpenOutputFile(path, c.mode, &why);
    if (*c.why == '\0') {
      ASSERT_GE(fd, 0) << why;
      ASSERT_EQ(write(fd, "new", 3), 3);
      close(fd);
      EXPECT_EQ(Contents(path), c.contents);
    } else {
      EXPECT_EQ(fd, -1);
      if (fd >= 0) close(fd);
      EXPECT_EQ(why, c.why);
    }
    EXPECT_EQ(Contents(victim), "precious");
    EXPECT_FALSE(std::filesystem::exists(dir + "/made-through-the-link"));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
