#include "machine_key_redirect.h"

#include <cstdio>

namespace vexlor_test {
namespace {

const char kSettingsPath[] = "SOFTWARE\\Norvak\\Vexlor\\2.0";

}  // namespace

MachineKeyRedirect::MachineKeyRedirect() {
  static unsigned long instances = 0;
  char name[64];
  std::snprintf(name, sizeof(name), "Software\\VexlorTestMachine\\%lu-%lu",
                GetCurrentProcessId(), ++instances);
  scratchName_ = name;
  RegDeleteTreeA(HKEY_CURRENT_USER, scratchName_.c_str());
  if (RegCreateKeyExA(HKEY_CURRENT_USER, scratchName_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &scratch_, nullptr) == ERROR_SUCCESS) {
    active_ = RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch_) == ERROR_SUCCESS;
  }
}

MachineKeyRedirect::~MachineKeyRedirect() {
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  if (scratch_ != nullptr) RegCloseKey(scratch_);
  RegDeleteTreeA(HKEY_CURRENT_USER, scratchName_.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VexlorTestMachine");  // only when empty
}

void MachineKeyRedirect::CreateSettingsKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(scratch_, kSettingsPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    RegCloseKey(key);
  }
}

bool MachineKeyRedirect::SettingsKeyExists() const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(scratch_, kSettingsPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void MachineKeyRedirect::SetValue(const char* name, DWORD type, const std::vector<uint8_t>& data) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(scratch_, kSettingsPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}

void MachineKeyRedirect::SetDword(const char* name, uint32_t value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  SetValue(name, REG_DWORD, std::vector<uint8_t>(bytes, bytes + sizeof(value)));
}

std::vector<uint8_t> MachineKeyRedirect::Value(const char* name, DWORD* type) const {
  std::vector<uint8_t> data(512);
  DWORD size = static_cast<DWORD>(data.size());
  *type = REG_NONE;
  HKEY key = nullptr;
  if (RegOpenKeyExA(scratch_, kSettingsPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  LONG status = RegQueryValueExA(key, name, nullptr, type, data.data(), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return {};
  data.resize(size);
  return data;
}

}  // namespace vexlor_test
