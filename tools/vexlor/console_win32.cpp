#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

#include <cstdio>

#include "console.h"
#include "line_input.h"

namespace vexlor {

namespace {

volatile LONG g_interrupts = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The first interrupt is ours; the next one goes to the default handler, which ends us.
  return InterlockedIncrement(&g_interrupts) == 1 ? TRUE : FALSE;
}

}  // namespace

LineStatus ReadHiddenLine(const char* prompt, char* line, size_t size) {
  fputs(prompt, stderr);
  fflush(stderr);
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  bool hidden = GetConsoleMode(input, &saved) != 0;
  if (hidden) SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  LineStatus status = ReadLine(stdin, line, size);
  if (hidden) {
    SetConsoleMode(input, saved);
    fputc('\n', stderr);  // the user's Enter was not echoed
  }
  return status;
}

bool ErrorOutputIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void CatchInterrupt() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool InterruptRequested() { return g_interrupts != 0; }

}  // namespace vexlor
