// The walk over one selected path: a file, or a folder with everything below it.
#pragma once

#include <cstddef>

#include "keystream.h"

namespace vexlor {

constexpr int WalkCancelled = 100;

// Room for a folder path, a separator, an entry name and the terminating NUL; an entry whose
// path does not fit is not converted.
constexpr size_t kChildPathSize = 496;

// Applies the direction to every file at or below the path. Returns the number of failures
// counted (a folder stops at 5), or WalkCancelled when the user cancelled during the walk.
int WalkPath(const char* path, PasswordKey key, int direction);

}  // namespace vexlor
