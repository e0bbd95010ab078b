#include "trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace vexlor {

void Trace(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(line, sizeof(line) - 1, format, args);
  va_end(args);
  if (length < 0) length = 0;
  if (length > static_cast<int>(sizeof(line)) - 2) length = sizeof(line) - 2;  // cut, keep room
  line[length] = '\n';
  line[length + 1] = '\0';
  OutputDebugStringA(line);
}

}  // namespace vexlor
