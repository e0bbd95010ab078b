// The encrypted file container: turns a plain file into a ".vxl" container or back.
#pragma once

#include <cstdint>

namespace vexlor {

enum Direction : int { Decrypt = 0, Encrypt = 1 };

enum FileResult : int {
  FileDone = 0,         // converted, or skipped because it is not of the direction's kind
  FileNameTooLong = 1,  // the path is longer than kMaxContainerPath characters
  FileOpenFailed = 2,   // the source could not be opened or the target not created
  FileIoError = 3,      // a read or write fell short, or the codec failed
  FileBadPassword = 4,  // the header did not decipher to the magic text
};

constexpr int kMaxContainerPath = 502;

// Converts one file in the given direction (any non-zero direction encrypts) and deletes the
// file it started from. The keystream must have just been seeded with the operation's key.
// attributes: the file's attribute word as read just before the call.
FileResult ProcessFile(const char* path, int direction, uint32_t attributes);

}  // namespace vexlor
