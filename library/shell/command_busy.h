// Keeps one command at a time per process.
#pragma once

#include <cstdint>

namespace vexlor {

// Set when a menu command is accepted, cleared when it has ended. While it is set the context
// menu adds no items and leaves the selection alone. Per process, not shared.
extern volatile uint8_t g_fCommandBusy;

}  // namespace vexlor
