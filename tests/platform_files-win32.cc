#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <random>

#include "tests/platform_files.h"

std::string MakeScratchDirectory() {
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = temp / ("velmora-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) return dir.string();
  }
  return "";
}

NonImageFiles::NonImageFiles(const std::string&) {
  // A named pipe whose server waits for a client that never writes.
  const std::string name = "\\\\.\\pipe\\velmora-test-" + std::to_string(GetCurrentProcessId());
  const HANDLE pipe =
      CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
  EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
  pipe_ = pipe;
  paths_ = {"NUL", name};
}

NonImageFiles::~NonImageFiles() {
  if (pipe_ && pipe_ != INVALID_HANDLE_VALUE) CloseHandle(static_cast<HANDLE>(pipe_));
}
