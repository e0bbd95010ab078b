// The walk over one selected path: depth-first through folders, every file converted by
// ProcessFile with a freshly seeded keystream, failures shown one by one and counted.
#include "walker.h"

#include <cstdio>
#include <cstring>

#include "container.h"
#include "file_system.h"
#include "job_reporter.h"

namespace vexlor {

namespace {

constexpr int kFolderFailureLimit = 5;

constexpr char kInternalError[] = "Fail on the file %s: internal error";
constexpr char kFileError[] = "Fail on the file %s: file error";
constexpr char kInvalidPassword[] = "Fail to decrypt the file %s: invalid password";

// Kept off the recursion's stack frames: only one message is shown at a time.
char g_messageText[1024];

void ShowFailure(const char* format, const char* path) {
  snprintf(g_messageText, sizeof g_messageText, format, path);
  CurrentReporter().ShowMessage(g_messageText);
}

int ReportResult(const char* path, FileResult result) {
  switch (result) {
    case FileDone:
    case FileOpenFailed:
      return 0;
    case FileNameTooLong:
      ShowFailure(kInternalError, path);
      return 1;
    case FileIoError:
      ShowFailure(kFileError, path);
      return 1;
    case FileBadPassword:
      ShowFailure(kInvalidPassword, path);
      return 1;
  }
  ShowFailure(kInternalError, path);
  return 1;
}

// Composes folder, separator and entry name into child; false when that does not fit.
bool ComposeChildPath(char* child, const char* folder, char separator, const char* name) {
  size_t folderLength = strlen(folder);
  size_t nameLength = strlen(name);
  if (folderLength + 1 + nameLength + 1 > kChildPathSize) return false;
  memcpy(child, folder, folderLength);
  child[folderLength] = separator;
  memcpy(child + folderLength + 1, name, nameLength + 1);
  return true;
}

// An entry whose path does not fit the child buffer cannot be converted; it counts as one
// failure so that the user learns it was left as it is.
int ReportOverlongChild(const char* folder, char separator, const char* name) {
  char separatorText[2] = {separator, '\0'};
  snprintf(g_messageText, sizeof g_messageText, "Fail on the file %s%s%s: internal error", folder,
           separatorText, name);
  CurrentReporter().ShowMessage(g_messageText);
  return 1;
}

int WalkFolder(const char* folder, PasswordKey key, int direction) {
  FileSystem& fileSystem = CurrentFileSystem();
  std::unique_ptr<DirectoryListing> listing = fileSystem.OpenListing(folder);
  if (!listing) return 1;

  char separator = fileSystem.Separator();
  char name[kEntryNameSize];
  char child[kChildPathSize];
  int count = 0;
  while (listing->Next(name, sizeof name)) {
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    int result = ComposeChildPath(child, folder, separator, name)
                     ? WalkPath(child, key, direction)
                     : ReportOverlongChild(folder, separator, name);
    if (result == WalkCancelled) return WalkCancelled;
    count += result;
    if (count >= kFolderFailureLimit) return count;
  }
  return count;
}

}  // namespace

int WalkPath(const char* path, PasswordKey key, int direction) {
  uint32_t attributes = 0;
  if (!CurrentFileSystem().ReadAttributes(path, &attributes)) return 0;
  if ((attributes & kAttributeDirectory) != 0) return WalkFolder(path, key, direction);

  g_keystream.Seed(static_cast<uint64_t>(key));
  FileResult result = ProcessFile(path, direction, attributes);
  // Observed only once the file is finished, so nothing is ever left half converted.
  if (CurrentReporter().CancelRequested()) return WalkCancelled;
  return ReportResult(path, result);
}

}  // namespace vexlor
