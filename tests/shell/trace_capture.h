// Collects this process's debugger-output lines (the library's trace) while it is alive.
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C before anything else; a vectored handler sees
// it first and lets it pass on.
#pragma once

#include <string>
#include <vector>

namespace vexlor_test {

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // The lines seen so far, each with its line feed, and forgets them.
  std::vector<std::string> Take();

 private:
  void* handler_;
};

}  // namespace vexlor_test
