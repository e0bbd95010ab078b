// The console services of the vexlor tool that differ between Windows and POSIX.
#pragma once

#include <cstddef>

#include "line_input.h"

namespace vexlor {

// Shows the prompt on stderr and reads one line from standard input (see ReadLine) with echo
// switched off when it is a terminal.
LineStatus ReadHiddenLine(const char* prompt, char* line, size_t size);

bool ErrorOutputIsTerminal();

// From now on the first interrupt (Ctrl+C) only raises the flag read by InterruptRequested,
// so the file in progress can be finished; a second one ends the program as usual.
void CatchInterrupt();
bool InterruptRequested();

}  // namespace vexlor
