// Whether the dialog tool echoes the programmer's output on its standard
// output. On Linux: when that is a terminal. On Windows, where a window
// program has no console of its own: when it was given a standard output at
// all (redirected to a file or a pipe, or a console it inherited).
//
// Threads: any.
#ifndef VELMORA_UI_TERMINAL_H_
#define VELMORA_UI_TERMINAL_H_

bool StandardOutputIsTerminal();

#endif  // VELMORA_UI_TERMINAL_H_
