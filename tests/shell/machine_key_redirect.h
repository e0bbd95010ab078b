// Points HKEY_LOCAL_MACHINE of this process at a scratch key, so that settings tests read and
// write their own tree instead of the machine's.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vexlor_test {

class MachineKeyRedirect {
 public:
  MachineKeyRedirect();
  ~MachineKeyRedirect();
  MachineKeyRedirect(const MachineKeyRedirect&) = delete;
  MachineKeyRedirect& operator=(const MachineKeyRedirect&) = delete;

  bool active() const { return active_; }

  // The settings key inside the scratch tree, created on request.
  void CreateSettingsKey();
  bool SettingsKeyExists() const;

  void SetValue(const char* name, DWORD type, const std::vector<uint8_t>& data);
  void SetDword(const char* name, uint32_t value);
  // The raw data of a value of the settings key; `type` receives its registry type. Empty when
  // the value is missing.
  std::vector<uint8_t> Value(const char* name, DWORD* type) const;

 private:
  std::string scratchName_;
  HKEY scratch_ = nullptr;
  bool active_ = false;
};

}  // namespace vexlor_test
