#include <unistd.h>

#include "ui/terminal.h"

bool StandardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}
