// The ports velmora-line is given: "COM33,COM34,COM40-COM47".
//
// A list is comma-separated items, each a COM name (COM1 to COM256, "COM" in
// any letter case, the number in plain digits), a range of two COM names
// ("COM40-COM47", the first number not above the second; the names take the
// first one's letter case) or an absolute device path ("/dev/ttyUSB0"). No
// item may be empty and no port may be named twice (COM names compared
// without regard to letter case).
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_LINE_PORT_LIST_H_
#define VELMORA_LINE_PORT_LIST_H_

#include <string>
#include <string_view>
#include <vector>

// Fills `ports` with the list's ports in the order given and returns true;
// on a fault returns false with `error` saying which item is wrong and why
// (one line, no line end), and leaves `ports` empty.
bool ParsePortList(std::string_view text, std::vector<std::string>* ports, std::string* error);

#endif  // VELMORA_LINE_PORT_LIST_H_
