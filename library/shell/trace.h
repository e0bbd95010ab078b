// One line of trace output per COM method and entry point, sent to the system debugger output.
#pragma once

namespace vexlor {

// Formats into a 256-byte line, appends a line feed and passes it to OutputDebugStringA.
// Text that does not fit is cut; the line feed is always there.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vexlor
