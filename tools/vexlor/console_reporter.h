// How the vexlor tool shows a job: messages on stderr and, when stderr is a terminal, a
// progress bar of the bytes done over the bytes measured before the walk.
#pragma once

#include <cstdint>

#include "job_reporter.h"

namespace vexlor {

class ConsoleReporter : public JobReporter {
 public:
  void Start(uint64_t bytesTotal, bool showBar);
  // Ends the bar's line so that what follows starts on a fresh one.
  void Stop();

  void ShowCurrentPath(const char*) override {}
  void AddBytesDone(uint64_t count) override;
  bool CancelRequested() override;
  void ShowMessage(const char* text) override;

 private:
  void DrawBar();
  void EraseBar();

  uint64_t bytesTotal_ = 1;
  uint64_t bytesDone_ = 0;
  int shownPercent_ = -1;
  bool showBar_ = false;
};

}  // namespace vexlor
