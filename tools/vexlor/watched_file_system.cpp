#include "watched_file_system.h"

#include <cstdio>

namespace vexlor {

std::unique_ptr<ByteStream> WatchedFileSystem::OpenRead(const char* path) {
  std::unique_ptr<ByteStream> stream = inner_.OpenRead(path);
  if (!stream) Report("vexlor: cannot open %s; it is left as it is", path);
  return stream;
}

std::unique_ptr<ByteStream> WatchedFileSystem::CreateWrite(const char* path) {
  std::unique_ptr<ByteStream> stream = inner_.CreateWrite(path);
  if (!stream) Report("vexlor: cannot create %s; the file it comes from is left as it is", path);
  return stream;
}

void WatchedFileSystem::Report(const char* format, const char* path) {
  ++openFailures;
  char text[1024];
  snprintf(text, sizeof text, format, path);
  reporter_.ShowMessage(text);
}

}  // namespace vexlor
