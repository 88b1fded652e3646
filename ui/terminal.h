// Whether the program's standard output is a terminal: the dialog tool then
// echoes the programmer's output there.
//
// Threads: any.
#ifndef VELMORA_UI_TERMINAL_H_
#define VELMORA_UI_TERMINAL_H_

bool StandardOutputIsTerminal();

#endif  // VELMORA_UI_TERMINAL_H_
