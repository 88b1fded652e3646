// Image files on Windows: opened for reading with others allowed to read too,
// then taken only when the handle is a disk file (not a console, a device
// such as NUL or COM1, or a pipe). The name (UTF-8) goes to the wide calls,
// so any letters and any length open (utf8-win32.h).
#include <windows.h>

#include <algorithm>
#include <limits>
#include <new>

#include "engine/image_file.h"
#include "engine/utf8-win32.h"

namespace {

// Reads up to `count` bytes, in pieces a single ReadFile can take; the number
// read, which is less than `count` only at the end of the file or on an error.
size_t ReadFully(HANDLE file, uint8_t* into, size_t count) {
  size_t got = 0;
  while (got < count) {
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(count - got, 1u << 30));
    DWORD n = 0;
    if (!ReadFile(file, into + got, ask, &n, nullptr) || n == 0) break;
    got += n;
  }
  return got;
}

ImageFileStatus ReadOpenFile(HANDLE file, std::unique_ptr<uint8_t[]>* data, int32_t* length) {
  if (GetFileType(file) != FILE_TYPE_DISK) return ImageFileStatus::kUnreadable;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return ImageFileStatus::kUnreadable;
  if (size.QuadPart > std::numeric_limits<int32_t>::max()) return ImageFileStatus::kTooLarge;
  const auto bytes = static_cast<size_t>(size.QuadPart);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes > 0 ? bytes : 1]);
  if (!buffer) return ImageFileStatus::kTooLarge;
  // Exactly its length, and then nothing more.
  uint8_t beyond;
  if (ReadFully(file, buffer.get(), bytes) != bytes || ReadFully(file, &beyond, 1) != 0)
    return ImageFileStatus::kUnreadable;
  *data = std::move(buffer);
  *length = static_cast<int32_t>(bytes);
  return ImageFileStatus::kRead;
}

}  // namespace

ImageFileStatus ReadImageFile(const char* path, std::unique_ptr<uint8_t[]>* data, int32_t* length) {
  // A directory is no image, like a file that is not there. (Devices and
  // pipes may have no attributes at all; they are found out once open.)
  const std::wstring name = WideFilePath(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return ImageFileStatus::kNotFound;
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ImageFileStatus::kNotFound;
  const ImageFileStatus status = ReadOpenFile(file, data, length);
  CloseHandle(file);
  return status;
}
