// The adaptive Huffman model of literals and match lengths.
#include <cstring>

#include "codec_internal.h"

namespace vexlor {
namespace codec {

HuffmanModel g_model;
int g_treeRebuilds;

void StartModel() {
  HuffmanModel& m = g_model;
  for (int k = 0; k < kSymbols; ++k) {
    m.frequency[k] = 1;
    m.child[k] = static_cast<uint16_t>(k + kNodes);
    m.parent[k + kNodes] = static_cast<uint16_t>(k);
  }
  for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
    m.frequency[j] = static_cast<uint16_t>(m.frequency[i] + m.frequency[i + 1]);
    m.child[j] = static_cast<uint16_t>(i);
    m.parent[i] = m.parent[i + 1] = static_cast<uint16_t>(j);
  }
  m.frequency[kNodes] = 0xFFFF;
  m.parent[kRoot] = 0;
  g_treeRebuilds = 0;
}

// Halves every leaf count and builds the tree again from the leaves, keeping the nodes
// ordered by frequency.
static void RebuildTree() {
  HuffmanModel& m = g_model;
  ++g_treeRebuilds;
  int j = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (m.child[i] >= kNodes) {
      m.frequency[j] = static_cast<uint16_t>((m.frequency[i] + 1) / 2);
      m.child[j] = m.child[i];
      ++j;
    }
  }
  for (int i = 0, node = kSymbols; node < kNodes; i += 2, ++node) {
    const uint16_t f = static_cast<uint16_t>(m.frequency[i] + m.frequency[i + 1]);
    int k = node - 1;
    while (f < m.frequency[k]) --k;
    ++k;
    const size_t moved = static_cast<size_t>(node - k) * sizeof(uint16_t);
    std::memmove(&m.frequency[k + 1], &m.frequency[k], moved);
    m.frequency[k] = f;
    std::memmove(&m.child[k + 1], &m.child[k], moved);
    m.child[k] = static_cast<uint16_t>(i);
  }
  for (int i = 0; i < kNodes; ++i) {
    const int k = m.child[i];
    if (k >= kNodes) {
      m.parent[k] = static_cast<uint16_t>(i);
    } else {
      m.parent[k] = m.parent[k + 1] = static_cast<uint16_t>(i);
    }
  }
}

void UpdateModel(int symbol) {
  HuffmanModel& m = g_model;
  if (m.frequency[kRoot] == kRebuildFrequency) RebuildTree();
  int c = m.parent[symbol + kNodes];
  do {
    const uint16_t k = ++m.frequency[c];
    int l = c + 1;
    if (k > m.frequency[l]) {
      // Move the node past every node that now counts less; the sentinel stops the root.
      while (k > m.frequency[++l]) {
      }
      --l;
      m.frequency[c] = m.frequency[l];
      m.frequency[l] = k;

      const int i = m.child[c];
      m.parent[i] = static_cast<uint16_t>(l);
      if (i < kNodes) m.parent[i + 1] = static_cast<uint16_t>(l);

      const int j = m.child[l];
      m.child[l] = static_cast<uint16_t>(i);
      m.parent[j] = static_cast<uint16_t>(c);
      if (j < kNodes) m.parent[j + 1] = static_cast<uint16_t>(c);
      m.child[c] = static_cast<uint16_t>(j);

      c = l;
    }
    c = m.parent[c];
  } while (c != 0);
}

}  // namespace codec
}  // namespace vexlor
