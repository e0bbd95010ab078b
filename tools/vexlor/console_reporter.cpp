#include "console_reporter.h"

#include <cstdio>

#include "console.h"

namespace vexlor {

namespace {

constexpr int kBarWidth = 40;
// "[" bar "] 100%"
constexpr int kLineWidth = kBarWidth + 7;

}  // namespace

void ConsoleReporter::Start(uint64_t bytesTotal, bool showBar) {
  bytesTotal_ = bytesTotal > 0 ? bytesTotal : 1;
  bytesDone_ = 0;
  shownPercent_ = -1;
  showBar_ = showBar;
  DrawBar();
}

void ConsoleReporter::Stop() {
  if (showBar_ && shownPercent_ >= 0) fputc('\n', stderr);
  showBar_ = false;
}

void ConsoleReporter::AddBytesDone(uint64_t count) {
  bytesDone_ += count;
  DrawBar();
}

bool ConsoleReporter::CancelRequested() { return InterruptRequested(); }

void ConsoleReporter::ShowMessage(const char* text) {
  EraseBar();
  fprintf(stderr, "%s\n", text);
  DrawBar();
}

void ConsoleReporter::DrawBar() {
  if (!showBar_) return;
  // Headers count as work on decrypt, so the bytes done can run slightly past the measure.
  uint64_t done = bytesDone_ < bytesTotal_ ? bytesDone_ : bytesTotal_;
  int percent = static_cast<int>(done * 100 / bytesTotal_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  int filled = percent * kBarWidth / 100;
  char line[kLineWidth + 1];
  int at = 0;
  line[at++] = '[';
  for (int i = 0; i < kBarWidth; ++i) line[at++] = i < filled ? '#' : '.';
  line[at] = '\0';
  fprintf(stderr, "\r%s] %3d%%", line, percent);
  fflush(stderr);
}

void ConsoleReporter::EraseBar() {
  if (!showBar_ || shownPercent_ < 0) return;
  fprintf(stderr, "\r%*s\r", kLineWidth, "");
  shownPercent_ = -1;  // drawn again after the message
}

}  // namespace vexlor
