#include "measure.h"

#include <cstring>

#include "container.h"
#include "file_system.h"
#include "walker.h"

namespace vexlor {

namespace {

bool IsContainerName(const char* path) {
  size_t length = strlen(path);
  return length > 4 && memcmp(path + length - 4, ".vxl", 4) == 0;
}

}  // namespace

uint64_t MeasurePath(const char* path, int direction) {
  FileSystem& fileSystem = CurrentFileSystem();
  uint32_t attributes = 0;
  if (!fileSystem.ReadAttributes(path, &attributes)) return 0;

  if ((attributes & kAttributeDirectory) == 0) {
    uint64_t size = 0;
    bool converted = IsContainerName(path) == (direction == Decrypt);
    return converted && fileSystem.ReadSize(path, &size) ? size : 0;
  }

  std::unique_ptr<DirectoryListing> listing = fileSystem.OpenListing(path);
  if (!listing) return 0;
  size_t folderLength = strlen(path);
  char name[kEntryNameSize];
  char child[kChildPathSize];
  uint64_t total = 0;
  while (listing->Next(name, sizeof name)) {
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    size_t nameLength = strlen(name);
    // The walk does not convert what does not fit its own path buffer either.
    if (folderLength + 1 + nameLength + 1 > kChildPathSize) continue;
    memcpy(child, path, folderLength);
    child[folderLength] = fileSystem.Separator();
    memcpy(child + folderLength + 1, name, nameLength + 1);
    total += MeasurePath(child, direction);
  }
  return total;
}

}  // namespace vexlor
