#include "settings_record.h"

namespace vexlor {

// Defaults until the settings store reads the registry: no compression, no default password.
Settings g_settings;

}  // namespace vexlor
