#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "console.h"
#include "line_input.h"

namespace vexlor {

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

LineStatus ReadHiddenLine(const char* prompt, char* line, size_t size) {
  fputs(prompt, stderr);
  fflush(stderr);
  termios saved;
  bool hidden = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (hidden) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  LineStatus status = ReadLine(stdin, line, size);
  if (hidden) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputc('\n', stderr);  // the user's Enter was not echoed
  }
  return status;
}

bool ErrorOutputIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void CatchInterrupt() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;  // the second interrupt takes the default way out
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() { return g_interrupted != 0; }

}  // namespace vexlor
