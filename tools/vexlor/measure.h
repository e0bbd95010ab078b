// Measuring the work of an operation before it starts: the sizes of the files it converts.
#pragma once

#include <cstdint>

namespace vexlor {

// The total size of the files at or below the path that the direction converts: containers
// for Decrypt, every other file for Encrypt (the suffix rule of the container).
uint64_t MeasurePath(const char* path, int direction);

}  // namespace vexlor
