#include "command_busy.h"

namespace vexlor {

volatile uint8_t g_fCommandBusy = 0;

}  // namespace vexlor
