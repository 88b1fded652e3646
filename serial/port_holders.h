// Who else has a serial device open.
//
// A port is in another's use when
//   - its exclusive mode (TIOCEXCL) is set: some other holder set it. The
//     kernel refuses an ordinary user's open then, but not root's, so this is
//     asked after the open;
//   - another descriptor holds its lock (flock), as every Velmora program's
//     open port does;
//   - /proc shows another descriptor on the same device: what finds the
//     programs that neither lock nor set the exclusive mode, such as a modem
//     manager probing a new adapter or a terminal program.
//
// What /proc shows: as root, the descriptors of every process in this PID
// namespace; as an ordinary user, only those of the user's own processes (the
// kernel keeps other users' descriptor tables closed). A descriptor held by a
// process in another container, or by another user's program that neither
// locks nor sets the exclusive mode, is not seen.
//
// The controlling side of a pseudo-terminal (what velmora-sim holds) is a
// different device from the terminal that programs open, so it never counts.
//
// A program about to open many ports at once (velmora-line, which starts a
// process per port) can read /proc once for all of them ahead of the opens,
// rather than once per open: FindPortHoldersAhead(). For kHoldersAheadMs from
// the start of that pass, FindPortHolder answers for its devices from it, in
// this process and in the processes it forks meanwhile, which inherit it;
// ForgetHoldersAhead() ends that at once. A program that opens one of the
// devices after the pass has begun is not seen by it, as one that opens a
// device while a scan of its own runs is not; the exclusive mode and the lock
// are asked at each open all the same.
//
// A killed program cannot clear the exclusive mode it set, and on a
// pseudo-terminal the mode outlives it for as long as the other side (the
// simulator) stays open. ClaimPort takes such a port, clearing the mode, when
// the mode is set but /proc shows no holder and every process's descriptors
// could be read (as root); otherwise the reason says that the mode may be
// left over, and how to clear it.
//
// Threads: any. Apart from the pass ahead, nothing is kept between calls; a
// scan reads /proc anew.
#ifndef VELMORA_SERIAL_PORT_HOLDERS_H_
#define VELMORA_SERIAL_PORT_HOLDERS_H_

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A process with a descriptor open on a device.
struct PortHolder {
  long pid = 0;
  std::string name;  // its command name from /proc/<pid>/comm; "?" when unreadable
};

// The first process, in process id order, that has a descriptor open on the
// character device `device` (a st_rdev value), leaving out descriptor `ownFd`
// of this process (-1 leaves out none). Another descriptor of this process
// counts: a second open by the same program is a second holder. A pass ahead
// that counts for `device` answers instead of /proc. `sawEveryProcess`, when
// given, tells whether the descriptors of every process could be read, so that
// no holder means none.
std::optional<PortHolder> FindPortHolder(dev_t device, int ownFd, bool* sawEveryProcess = nullptr);

// How long a pass ahead answers for its devices, milliseconds.
inline constexpr int64_t kHoldersAheadMs = 1000;

// Reads /proc once for the holders of all of `devices` (st_rdev values),
// descriptors of this process included, and answers from that pass from now
// on as described above. A later pass replaces it.
void FindPortHoldersAhead(const std::vector<dev_t>& devices);

// Ends the pass ahead: from now on every FindPortHolder reads /proc.
void ForgetHoldersAhead();

// The text after "<port> is busy: ": "held by 4242 (minicom)", or "another
// program has it open" when the holder is not known.
std::string BusyWith(const std::optional<PortHolder>& holder);

// The reason for the user when opening the device at `path` failed with
// EBUSY: "<label> is busy: " and the holder when /proc shows one; without one,
// that the exclusive mode may be left over and how to clear it.
std::string BusyReason(const std::string& path, const std::string& label);

// Checks that nobody else uses the terminal open on `fd` (the exclusive mode,
// the lock and /proc, as above) and takes its lock (flock, LOCK_EX). With
// `keepLock` the lock stays with `fd` for the caller, which must not set the
// exclusive mode before this call; otherwise it is let go again at once.
// A left-over exclusive mode (above) is cleared. Returns false with a
// one-line reason (no line end) that names `label`: "<label> is busy: held by
// 4242 (minicom)", or "cannot lock <label>: ...".
bool ClaimPort(int fd, const std::string& label, bool keepLock, std::string* why);

#endif  // VELMORA_SERIAL_PORT_HOLDERS_H_
