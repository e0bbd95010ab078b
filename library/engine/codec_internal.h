// Shared pieces of the compression codec: the sliding ring with its match finder, and the
// adaptive Huffman model with the position prefix tables. Each has one process-wide instance,
// re-initialised by every CompressFile or ExpandFile call.
#pragma once

#include <cstdint>

namespace vexlor {
namespace codec {

constexpr int kRingSize = 4096;            // positions are taken modulo this
constexpr int kLookahead = 60;             // longest match
constexpr int kThreshold = 2;              // matches this long or shorter are sent as literals
constexpr int kFirstWrite = kRingSize - kLookahead;  // 4036: r starts here, 0..4035 hold the fill
constexpr uint8_t kFillByte = 0x20;
constexpr int kRingMask = kRingSize - 1;

constexpr int kSymbols = 256 + kLookahead - kThreshold;  // 314: bytes, then lengths 3..60
constexpr int kNodes = 2 * kSymbols - 1;                 // 627
constexpr int kRoot = kNodes - 1;                        // 626
constexpr uint16_t kRebuildFrequency = 0xF000;

// ---- Ring and match finder -------------------------------------------------------------

// The ring holds kRingSize bytes plus a mirror of its first kLookahead - 1 bytes, so that a
// comparison starting near the end reads on without wrapping; a few spare bytes after the
// mirror let the comparison load whole machine words.
constexpr int kRingMirrored = kRingSize + kLookahead - 1;  // 4155
constexpr int kRingAllocated = kRingMirrored + 16;
extern uint8_t g_ring[kRingAllocated];

// The result of the latest InsertString: the longest match (0 when none of 3 bytes or more
// was met) and its position value, the distance back minus one.
extern int g_matchLength;
extern int g_matchPosition;

// Fills 0..4035 with the fill byte and zeroes the rest, mirror included, so that nothing of a
// previous call can steer the match finder.
void ResetRing();
// Empties every search tree.
void ResetSearchTrees();
// Inserts the string starting at ring position r and leaves the best match in g_match*.
void InsertString(int r);
// Removes the string starting at ring position p, if it is in a tree.
void DeleteString(int p);

// ---- Adaptive Huffman model --------------------------------------------------------------

struct HuffmanModel {
  uint16_t frequency[kNodes + 1];        // [kNodes] is the sentinel 0xFFFF
  uint16_t child[kNodes];                // inner node: first child; leaf: symbol + kNodes
  uint16_t parent[kNodes + kSymbols];    // [symbol + kNodes]: the node holding that leaf
};
extern HuffmanModel g_model;

// How often the tree was rebuilt since the latest StartModel; the tests watch it.
extern int g_treeRebuilds;

void StartModel();
// Counts one more occurrence of the symbol, rebuilding the tree first at the limit.
void UpdateModel(int symbol);

// ---- Position prefix code ----------------------------------------------------------------

// The upper six bits v of a position value are sent with a canonical prefix code: 3 bits for
// 0, 4 for 1-3, 5 for 4-11, 6 for 12-23, 7 for 24-47, 8 for 48-63, codes handed out in
// increasing numeric order.
constexpr int PositionPrefixLength(int v) {
  return v < 1 ? 3 : v < 4 ? 4 : v < 12 ? 5 : v < 24 ? 6 : v < 48 ? 7 : 8;
}

struct PositionTables {
  uint8_t code[64];          // code bits, right-aligned
  uint8_t codeBits[64];
  uint8_t decodeValue[256];  // for every 8-bit pattern: the v whose code it starts with
  uint8_t decodeBits[256];   // and that code's length
};

constexpr PositionTables MakePositionTables() {
  PositionTables t{};
  int code = 0;
  for (int v = 0; v < 64; ++v) {
    const int bits = PositionPrefixLength(v);
    if (v > 0) code = (code + 1) << (bits - PositionPrefixLength(v - 1));
    t.code[v] = static_cast<uint8_t>(code);
    t.codeBits[v] = static_cast<uint8_t>(bits);
    const int first = code << (8 - bits);
    for (int pattern = first; pattern < first + (1 << (8 - bits)); ++pattern) {
      t.decodeValue[pattern] = static_cast<uint8_t>(v);
      t.decodeBits[pattern] = static_cast<uint8_t>(bits);
    }
  }
  return t;
}

inline constexpr PositionTables kPositionTables = MakePositionTables();

// The longest Huffman code word, in bits, that the latest CompressFile sent; the tests watch it.
extern int g_longestCodeBits;

}  // namespace codec
}  // namespace vexlor
