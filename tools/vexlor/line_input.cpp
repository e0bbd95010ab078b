#include "line_input.h"

namespace vexlor {

LineStatus ReadLine(FILE* input, char* line, size_t size) {
  size_t length = 0;
  bool fits = true;
  int c = fgetc(input);
  if (c == EOF) return NoLine;
  for (; c != EOF && c != '\n'; c = fgetc(input)) {
    if (c == '\r') {
      int next = fgetc(input);
      if (next == '\n' || next == EOF) break;
      ungetc(next, input);
    }
    if (length + 1 < size) {
      line[length++] = static_cast<char>(c);
    } else {
      fits = false;
    }
  }
  line[length] = '\0';
  return fits ? LineRead : LineTooLong;
}

}  // namespace vexlor
