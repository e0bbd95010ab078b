#include "job_reporter.h"

namespace vexlor {

namespace {

// Reports nothing and never cancels: the engine's behaviour when no job is watching.
class SilentReporter : public JobReporter {
 public:
  void ShowCurrentPath(const char*) override {}
  void AddBytesDone(uint64_t) override {}
  bool CancelRequested() override { return false; }
  void ShowMessage(const char*) override {}
};

SilentReporter g_silentReporter;
JobReporter* g_installedReporter = nullptr;

}  // namespace

JobReporter& CurrentReporter() {
  return g_installedReporter != nullptr ? *g_installedReporter : g_silentReporter;
}

void UseReporter(JobReporter* reporter) { g_installedReporter = reporter; }

}  // namespace vexlor
