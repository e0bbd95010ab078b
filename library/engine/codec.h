// The compression codec of compressed container payloads. Both entry points work on the
// streams as the container left them and draw one keystream byte per code byte.
#pragma once

#include <cstdint>

#include "file_system.h"

namespace vexlor {

// Plain files of this size or more are stored even when compression is on: the 4-byte length
// in front of a compressed payload is read as a signed 32-bit file position.
constexpr uint64_t kCompressedSizeLimit = 0x80000000;

// Reads the source to its end and writes the 4-byte plain length followed by the code bytes.
// Returns 0, or 3 on a failed read or write, or when the source reaches kCompressedSizeLimit
// or delivers fewer bytes on the coding pass than it measured.
int CompressFile(ByteStream& source, ByteStream& target);

// Reads a compressed payload and writes the plain bytes. Returns 0, or 3 on a failed write or
// a payload that ends before its stated length.
int ExpandFile(ByteStream& source, ByteStream& target);

}  // namespace vexlor
