#include "password.h"

#include <cstdio>
#include <cstring>

#include "console.h"
#include "line_input.h"
#include "settings_record.h"

namespace vexlor {

namespace {

constexpr char kTooLong[] = "vexlor: a password has at most 99 characters\n";

}  // namespace

bool ReadPasswordFile(const char* fileName, char* password) {
  FILE* file = fopen(fileName, "rb");
  if (file == nullptr) {
    fprintf(stderr, "vexlor: cannot read the password file %s\n", fileName);
    return false;
  }
  LineStatus status = ReadLine(file, password, kPasswordBufferSize);
  // A read error (a folder given as the file, say) looks like the end of the file to
  // ReadLine; taken as such it would encrypt with the empty password.
  bool readFailed = ferror(file) != 0;
  fclose(file);
  if (readFailed) {
    memset(password, 0, kPasswordBufferSize);
    fprintf(stderr, "vexlor: cannot read the password file %s\n", fileName);
    return false;
  }
  if (status == LineTooLong) {
    fputs(kTooLong, stderr);
    return false;
  }
  if (status == NoLine) password[0] = '\0';  // an empty file holds the empty password
  return true;
}

bool PromptPassword(bool verify, char* password) {
  char again[kPasswordBufferSize];
  for (;;) {
    LineStatus status = ReadHiddenLine("Password: ", password, kPasswordBufferSize);
    if (status == LineTooLong) {
      fputs(kTooLong, stderr);
      continue;
    }
    if (status == NoLine) break;
    if (!verify) return true;
    status = ReadHiddenLine("Verify: ", again, sizeof again);
    if (status == NoLine) break;
    bool same = status == LineRead && strcmp(password, again) == 0;
    memset(again, 0, sizeof again);
    if (same) return true;
    fputs("Please verify your password\n", stderr);
  }
  memset(password, 0, kPasswordBufferSize);
  fputs("vexlor: no password given\n", stderr);
  return false;
}

}  // namespace vexlor
