// Reading a trace file (serial/trace.h) as the protocol's frames (trace_frames.h):
// what velmora-trace does with its one argument.
//
// The file is read record by record, one line each. A trace's records are
// short (the longest, one read or write of the link, holds a few kilobytes),
// so a line longer than kMaxTraceRecordBytes is refused instead of being read
// without bound: a file that is no trace (/dev/zero, a binary) ends with a
// message rather than taking the machine's memory. Reading takes time in
// proportion to the file's length, however long its records.
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_ENGINE_TRACE_FILE_H_
#define VELMORA_ENGINE_TRACE_FILE_H_

#include <cstddef>
#include <ostream>
#include <string>

inline constexpr size_t kMaxTraceRecordBytes = 1024 * 1024;

// Reads the trace at `path` and writes its frames to `out`, one line each.
// True when the whole trace was read. Otherwise false, after writing the
// frames of the records before the fault, with one line for the user in
// `why` (no line end): "PATH is a directory", "cannot read PATH: REASON",
// "PATH:N: not a trace record" or "PATH:N: a record longer than 1048576
// bytes", N counting lines from 1.
bool PrintTraceFrames(const std::string& path, std::ostream& out, std::string* why);

#endif  // VELMORA_ENGINE_TRACE_FILE_H_
