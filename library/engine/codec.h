// The compression codec of compressed container payloads. Both entry points work on the
// streams as the container left them and draw one keystream byte per code byte.
#pragma once

#include "file_system.h"

namespace vexlor {

// Reads the source to its end and writes the 4-byte plain length followed by the code bytes.
// Returns 0, or 3 on a failed read or write.
int CompressFile(ByteStream& source, ByteStream& target);

// Reads a compressed payload and writes the plain bytes. Returns 0, or 3 on a failed write or
// a payload that ends before its stated length.
int ExpandFile(ByteStream& source, ByteStream& target);

// True when the real codec is linked; while the stand-in codec_pending.cpp is, encrypting
// writes stored payloads even when compression is asked for. Defined next to the entry points.
extern const bool kCodecAvailable;

}  // namespace vexlor
