#include "engine/trace_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/trace_frames.h"

bool PrintTraceFrames(const std::string& path, std::ostream& out, std::string* why) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             std::fclose);
  struct stat st;
  if (!file || ::fstat(::fileno(file.get()), &st) != 0) {
    *why = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *why = path + " is a directory";
    return false;
  }
  TraceFrames frames([&out](const std::string& line) { out << line << '\n'; });
  const auto fail = [&](const std::string& text) {
    frames.finish();
    out.flush();
    *why = text;
    return false;
  };
  std::string line;
  long number = 1;
  char buffer[64 * 1024];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
    for (size_t at = 0; at < n;) {
      const char* end = static_cast<const char*>(std::memchr(buffer + at, '\n', n - at));
      const size_t take = (end ? static_cast<size_t>(end - buffer) : n) - at;
      if (line.size() + take > kMaxTraceRecordBytes) {
        return fail(path + ":" + std::to_string(number) + ": a record longer than " +
                    std::to_string(kMaxTraceRecordBytes) + " bytes");
      }
      line.append(buffer + at, take);
      at += take;
      if (!end) break;
      ++at;  // the line end
      if (!frames.addLine(line))
        return fail(path + ":" + std::to_string(number) + ": not a trace record");
      line.clear();
      ++number;
    }
  }
  if (std::ferror(file.get())) return fail("cannot read " + path + ": " + std::strerror(errno));
  // A last line without its line end is a record all the same.
  if (!line.empty() && !frames.addLine(line))
    return fail(path + ":" + std::to_string(number) + ": not a trace record");
  frames.finish();
  out.flush();
  return true;
}
