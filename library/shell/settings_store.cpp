#include "settings_store.h"

#include <windows.h>

#include <cstring>

#include "keystream.h"
#include "settings_record.h"

namespace vexlor {
namespace {

const char kSettingsKey[] = "SOFTWARE\\Norvak\\Vexlor\\2.0";

// Reads a 32-bit value; a missing value or one larger than 4 bytes gives `fallback`. The type
// is not checked: whatever fits the 4 bytes is taken as raw bytes.
uint32_t QueryFlag(HKEY key, const char* name, uint32_t fallback) {
  uint32_t value = 0;
  DWORD size = sizeof(value);
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
      ERROR_SUCCESS) {
    return fallback;
  }
  return value;
}

void UseBuiltInPassword() {
  std::memcpy(g_settings.encryptPassword, kBuiltInPassword, sizeof(kBuiltInPassword));
}

// Unscrambles the stored default password. A missing or short image cannot give back a
// password, so the whole buffer then holds the built-in one.
void LoadStoredPassword(HKEY key) {
  uint8_t image[kPasswordBufferSize] = {};
  DWORD size = sizeof(image);
  if (RegQueryValueExA(key, "passwd", nullptr, nullptr, image, &size) != ERROR_SUCCESS ||
      size < sizeof(image)) {
    std::memset(g_settings.encryptPassword, 0, sizeof(g_settings.encryptPassword));
    UseBuiltInPassword();
    return;
  }
  g_keystream.Seed(kPasswordScrambleSeed);
  for (int i = 0; i < kPasswordBufferSize; ++i) {
    g_settings.encryptPassword[i] = static_cast<char>(image[i] - g_keystream.NextByte());
  }
  // A damaged image may hold no NUL; the password is read as a C string everywhere.
  if (std::memchr(g_settings.encryptPassword, '\0', kPasswordBufferSize) == nullptr) {
    g_settings.encryptPassword[kPasswordBufferSize - 1] = '\0';
  }
}

}  // namespace

void LoadSettings() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    g_settings.useDefaultPassword = 0;
    g_settings.needCompression = 0;
    g_settings.protectEncryptedFiles = 1;
    UseBuiltInPassword();
    return;
  }
  g_settings.useDefaultPassword = QueryFlag(key, "useDefaultPassword", 0);
  // Only the low byte of the two flags counts.
  g_settings.needCompression = static_cast<uint8_t>(QueryFlag(key, "needCompression", 0));
  g_settings.protectEncryptedFiles =
      static_cast<uint8_t>(QueryFlag(key, "protectEncryptedFiles", 1));
  if (g_settings.useDefaultPassword != 0) {
    LoadStoredPassword(key);
  } else {
    UseBuiltInPassword();  // the rest of the buffer stays as it is
  }
  RegCloseKey(key);
}

void SaveSettings() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return;
  }
  DWORD useDefault = g_settings.useDefaultPassword;
  DWORD compression = g_settings.needCompression;
  DWORD protect = g_settings.protectEncryptedFiles;
  RegSetValueExA(key, "useDefaultPassword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&useDefault),
                 sizeof(DWORD));
  RegSetValueExA(key, "needCompression", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&compression),
                 sizeof(DWORD));
  RegSetValueExA(key, "protectEncryptedFiles", 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&protect), sizeof(DWORD));

  // The whole buffer is scrambled, NUL and whatever follows it included.
  uint8_t image[kPasswordBufferSize];
  g_keystream.Seed(kPasswordScrambleSeed);
  for (int i = 0; i < kPasswordBufferSize; ++i) {
    image[i] = static_cast<uint8_t>(static_cast<uint8_t>(g_settings.encryptPassword[i]) +
                                    g_keystream.NextByte());
  }
  RegSetValueExA(key, "passwd", 0, REG_BINARY, image, sizeof(image));
  RegCloseKey(key);
}

}  // namespace vexlor
