#include "selection_list.h"

#include <cstdlib>

namespace vexlor {

SelectionList g_selectionList;

char* SelectionEntry(uint32_t index) {
  if (index < kSelectionInlineEntries) return g_selectionList.entries[index];
  return g_selectionList.overflow[index - kSelectionInlineEntries];
}

bool ResizeSelectionOverflow(uint32_t count) {
  std::free(g_selectionList.overflow);
  g_selectionList.overflow = nullptr;
  if (count <= kSelectionInlineEntries) return true;
  // calloc refuses a size whose byte count does not fit, whatever count the drop list claims.
  g_selectionList.overflow =
      static_cast<PathEntry*>(std::calloc(count - kSelectionInlineEntries, sizeof(PathEntry)));
  return g_selectionList.overflow != nullptr;
}

}  // namespace vexlor
