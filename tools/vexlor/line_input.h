// Reading one text line into a fixed buffer.
#pragma once

#include <cstddef>
#include <cstdio>

namespace vexlor {

enum LineStatus { LineRead, LineTooLong, NoLine };

// Reads a line and removes its line ending (LF or CR LF). NoLine: the input had ended before
// the first character. LineTooLong: the line did not fit (size includes the NUL); the rest
// of it has been consumed.
LineStatus ReadLine(FILE* input, char* line, size_t size);

}  // namespace vexlor
