// Opening a file that a program writes a record into: a trace or a log.
//
// The programs run as root on production lines and write where the user
// points them, so a file is opened only when it is what it claims to be:
//   - a final symbolic link is never followed (O_NOFOLLOW): a link put where
//     the trace goes cannot make it overwrite the file the link names;
//   - it must be a regular file: a FIFO, a device, a socket or a directory is
//     refused at once, before anything is written and without waiting for a
//     FIFO's reader (the name is looked at first, and the open itself does not
//     block; the descriptor handed out blocks as usual);
//   - kNew creates the file and refuses one that is already there (O_EXCL),
//     for a file that belongs to one run; kReplace creates it or empties an
//     existing regular file; kAppend creates it or appends to it.
// Directories above the file are followed as the user wrote them.
//
// The descriptor is closed on exec. The file is created with mode 0644 less
// the umask.
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_SERIAL_OUTPUT_FILE_H_
#define VELMORA_SERIAL_OUTPUT_FILE_H_

#include <string>

enum class OutputMode { kNew, kReplace, kAppend };

// Opens `path` for writing as described above. Returns the descriptor, or -1
// with `why` set to the reason for the user, without the path and without a
// line end: "it is a symbolic link", "it is a FIFO, not a regular file",
// "it is a device, not a regular file", "it is a directory", "it already
// exists", or the system's text ("No such file or directory").
int OpenOutputFile(const std::string& path, OutputMode mode, std::string* why);

#endif  // VELMORA_SERIAL_OUTPUT_FILE_H_
