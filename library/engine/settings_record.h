// The persistent settings of a process. The settings store fills it from the registry when
// the library is loaded; the engine only reads needCompression.
#pragma once

#include <cstdint>

namespace vexlor {

constexpr int kPasswordBufferSize = 100;

struct Settings {
  uint32_t useDefaultPassword = 0;  // nonzero = on; all 32 bits count
  uint8_t needCompression = 0;
  uint8_t protectEncryptedFiles = 0;
  char encryptPassword[kPasswordBufferSize] = {};
  char decryptPassword[kPasswordBufferSize] = {};
};

extern Settings g_settings;

}  // namespace vexlor
