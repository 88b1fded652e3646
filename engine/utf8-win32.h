// Text encodings on Windows. Inside the programs every text is UTF-8: the
// command line arrives in UTF-16 and is kept as UTF-8, file names go to the
// system in UTF-16, and what the programs print goes out in the ANSI code
// page, as the C runtime's narrow output always has.
//
// Threads: any; plain functions.
#ifndef VELMORA_ENGINE_UTF8_WIN32_H_
#define VELMORA_ENGINE_UTF8_WIN32_H_

#include <string>
#include <string_view>

std::string Utf8FromWide(std::wstring_view wide);
std::wstring WideFromUtf8(std::string_view utf8);

// `utf8` in the ANSI code page, a character it lacks as "?"; text that is
// not UTF-8 unchanged. ASCII stays byte for byte.
std::string AnsiFromUtf8(std::string_view utf8);

// The name that opens `path` (UTF-8) with the wide file calls, whatever its
// length: an absolute path longer than the classic limit gets the "\\?\"
// prefix ("\\?\UNC\" for a share), which lifts the limit.
std::wstring WideFilePath(std::string_view path);

#endif  // VELMORA_ENGINE_UTF8_WIN32_H_
