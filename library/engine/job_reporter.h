// The reporting seam: what the engine tells the running job (progress text, bytes done,
// messages) and asks of it (has the user cancelled).
#pragma once

#include <cstdint>

namespace vexlor {

class JobReporter {
 public:
  virtual ~JobReporter() = default;
  // The full path of the file being worked on (item 1024 of the progress window).
  virtual void ShowCurrentPath(const char* path) = 0;
  virtual void AddBytesDone(uint64_t count) = 0;
  virtual bool CancelRequested() = 0;
  // Shows a message box with the caption "Vexlor" and an OK button; returns when it is closed.
  virtual void ShowMessage(const char* text) = 0;
};

// The reporter the engine uses; a silent one unless the job or a tool installs another.
JobReporter& CurrentReporter();
void UseReporter(JobReporter* reporter);  // null restores the silent one

}  // namespace vexlor
