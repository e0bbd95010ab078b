// Obtaining the operation's password: typed without echo, or the first line of a file.
#pragma once

namespace vexlor {

// Both fill a buffer of kPasswordBufferSize bytes, or print why not on stderr and return false.
// Passwords are limited to what the password dialogs take (99 characters), so every container
// made here can also be opened from the file manager.
bool ReadPasswordFile(const char* fileName, char* password);
// With verify, the password is asked twice until both entries match.
bool PromptPassword(bool verify, char* password);

}  // namespace vexlor
