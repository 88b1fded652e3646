#include <windows.h>

#include "ui/terminal.h"

bool StandardOutputIsTerminal() {
  // A window program has no console of its own: its standard output goes
  // somewhere only when whoever started it gave it one (a file, a pipe or a
  // console), and the run is then echoed there.
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  return GetFileType(out) != FILE_TYPE_UNKNOWN;
}
