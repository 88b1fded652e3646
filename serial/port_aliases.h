// Port aliases: the directory of symbolic links through which a COM name
// stands for a device that the fixed table (port_names.h) does not know, such
// as a simulator's pseudo-terminal. POSIX only.
//
// The alias directory holds a symbolic link named COM<n> (upper case, as
// RegisterPortAlias writes it) whose target is the device path; a relative
// target is relative to the directory. The directory is $VELMORA_PORTS when
// that is set and not empty, else $XDG_RUNTIME_DIR/velmora/ports when
// XDG_RUNTIME_DIR is set and not empty, else /tmp/velmora-<uid>/ports.
//
// Because the programmer writes firmware into whatever an alias names, the
// directory is checked and then used through one open descriptor, so that
// what was checked is what is read. It is ignored, and one line on
// standard error says so (once per directory and process), unless it is a
// directory and no symbolic link, belongs to the effective user and its
// group and others may not write to it, and its parent is no symbolic link
// either and belongs to the user or to root, and others may not write to
// it unless it is sticky (as /tmp is: there only an entry's owner may
// rename it). A missing directory simply holds no aliases.
//
// A simulator's alias (LivePortAlias) has a lock file beside it,
// COM<n>.lock, which the simulator keeps locked while it runs and which
// names the simulator's process and terminal. When that file is there,
// nobody holds its lock, and it names the alias's own target, the
// simulator has ended without removing its alias (it was killed): the
// alias is not followed, as if it were not there, because its terminal
// may by now belong to another program. An alias made by hand has no lock
// file and is always followed.
//
// Threads: any. The environment and the alias directory are read anew on
// every call.
#ifndef VELMORA_SERIAL_PORT_ALIASES_H_
#define VELMORA_SERIAL_PORT_ALIASES_H_

#include <string>
#include <vector>

// The alias directory named by the environment, as described above, whether
// or not it exists or is safe to use.
std::string PortAliasDirectory();

// One alias: COM<number> stands for `target`.
struct PortAlias {
  int number;
  std::string target;
};

// What the alias directory says of COM<number>, for DevicePathForPort: the
// device path its alias stands for (empty when there is none, when the
// directory is missing or ignored as unsafe, and when the alias was left by a
// simulator that has ended), the directory's path, and whether such a
// left-over alias is there.
struct PortAliasLookup {
  std::string target;
  std::string directory;
  bool leftByEndedSimulator = false;
};
PortAliasLookup LookUpPortAlias(int number);

// Every alias in the alias directory, in number order. Empty when the
// directory is missing or ignored as unsafe. Entries that are not symbolic
// links named COM1 to COM256 are passed over.
std::vector<PortAlias> ListPortAliases();

// Makes COM<number> stand for `target` (an absolute path), replacing any alias
// it had, and the lock file of a simulator that has ended. Creates the
// directory (and missing parents) with mode 0700 when it is missing. Returns
// false, with a one-line reason in `why` when given, when the number or
// target is invalid, the directory is unsafe, a running simulator holds the
// number, or the link cannot be made.
bool RegisterPortAlias(int number, const std::string& target, std::string* why);

// Removes the alias of COM<number>. True when no such alias remains (also
// when there was none); false with a reason when it could not be removed.
bool RemovePortAlias(int number, std::string* why);

// The alias of a program that serves a terminal, velmora-sim: COM<number>
// stands for the terminal for as long as the program holds this object, and
// not a moment longer. claim() takes the number's lock file and keeps it
// locked through a descriptor that no child program inherits, so the lock
// ends with the process however it ends; release() (and the destructor)
// removes the alias if it still names the terminal, and then the lock file.
// Every file is reached through the directory's descriptor taken at claim().
//
// Threads: one object is used from one thread at a time.
class LivePortAlias {
 public:
  LivePortAlias() = default;
  ~LivePortAlias();
  LivePortAlias(const LivePortAlias&) = delete;
  LivePortAlias& operator=(const LivePortAlias&) = delete;

  // Makes COM<number> stand for `target` (an absolute path) as
  // RegisterPortAlias does, and holds it. Refuses a number that another
  // running program holds: false with the reason, such as "COM200 belongs to
  // a running simulator (process 4242)". At most one claim per object.
  bool claim(int number, const std::string& target, std::string* why);

  // Gives the number up. True when nothing is left behind (also when nothing
  // was claimed); false with a reason when a file could not be removed.
  bool release(std::string* why);

  bool claimed() const { return lockFd_ >= 0; }

 private:
  int dirFd_ = -1;
  int lockFd_ = -1;
  std::string name_;    // COM<n>
  std::string target_;  // the terminal
};

#endif  // VELMORA_SERIAL_PORT_ALIASES_H_
