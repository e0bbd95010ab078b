#include "file_system.h"

namespace vexlor {

// Installed by tests and tools; the platform's file system otherwise.
static FileSystem* g_installedFileSystem = nullptr;

FileSystem& CurrentFileSystem() {
  return g_installedFileSystem != nullptr ? *g_installedFileSystem : PlatformFileSystem();
}

void UseFileSystem(FileSystem* file_system) { g_installedFileSystem = file_system; }

}  // namespace vexlor
