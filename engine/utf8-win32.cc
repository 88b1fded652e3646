#include "engine/utf8-win32.h"

#include <windows.h>

namespace {

std::wstring Wide(UINT codePage, DWORD flags, std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
  return wide;
}

std::string Narrow(UINT codePage, std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

bool Ascii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

std::string Utf8FromWide(std::wstring_view wide) {
  return Narrow(CP_UTF8, wide);
}

std::wstring WideFromUtf8(std::string_view utf8) {
  return Wide(CP_UTF8, 0, utf8);
}

std::string AnsiFromUtf8(std::string_view utf8) {
  if (Ascii(utf8)) return std::string(utf8);
  const std::wstring wide = Wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
  if (wide.empty()) return std::string(utf8);
  return Narrow(CP_ACP, wide);
}

std::wstring WideFilePath(std::string_view path) {
  const std::wstring wide = WideFromUtf8(path);
  if (wide.empty() || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return wide;
  full.resize(got);
  if (full.size() < MAX_PATH) return wide;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}
