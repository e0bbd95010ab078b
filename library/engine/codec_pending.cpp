// Stand-in for the compression codec until codec.cpp is linked in its place. With it, encrypting
// writes stored payloads even when compression is asked for, and a compressed container fails
// to decrypt with a file error (its source is kept).
#include "codec.h"

namespace vexlor {

extern const bool kCodecAvailable = false;

int CompressFile(ByteStream&, ByteStream&) { return 3; }

int ExpandFile(ByteStream&, ByteStream&) { return 3; }

}  // namespace vexlor
