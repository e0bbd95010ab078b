// The paths the user selected, in the order the shell's drop list delivers them. Filled by the
// context-menu handler's Initialize, read by the worker thread of a running command.
#pragma once

#include <cstdint>

namespace vexlor {

constexpr uint32_t kSelectionInlineEntries = 200;
constexpr uint32_t kPathBufferSize = 260;  // MAX_PATH: at most 259 characters and the NUL

using PathEntry = char[kPathBufferSize];

struct SelectionList {
  uint32_t count;
  PathEntry entries[kSelectionInlineEntries];  // paths 1 to 200
  PathEntry* overflow;  // paths 201 to count, exactly count - 200 entries; none up to 200
};

// One per process. Written only while g_fCommandBusy is clear, so a running command's worker
// never sees it change and its overflow is never freed under it.
extern SelectionList g_selectionList;

// Entry i (from 0) of the list; i must be below count.
char* SelectionEntry(uint32_t index);

// Frees the overflow of an earlier selection and allocates one for a selection of `count`
// paths (none when count is at most 200). Returns false when the memory is not there; the list
// then has no overflow.
bool ResizeSelectionOverflow(uint32_t count);

}  // namespace vexlor
