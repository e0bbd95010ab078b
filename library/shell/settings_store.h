// Loads and saves the process's Settings record (settings_record.h) in the registry key
// HKEY_LOCAL_MACHINE\SOFTWARE\Norvak\Vexlor\2.0. Both fail silently: loading falls back to
// defaults, saving to nothing.
#pragma once

#include <cstdint>

namespace vexlor {

// The Keystream seed that scrambles the stored default password.
constexpr uint64_t kPasswordScrambleSeed = 40286620;
// Used whenever no stored default password applies.
constexpr char kBuiltInPassword[] = "Kestal";

void LoadSettings();
void SaveSettings();

}  // namespace vexlor
