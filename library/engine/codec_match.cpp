// The sliding ring and its match finder: one ordered binary search tree of ring positions per
// first byte, ordered by the 60 bytes that start at each position.
#include <cstring>

#include "codec_internal.h"

namespace vexlor {
namespace codec {

uint8_t g_ring[kRingAllocated];
int g_matchLength;
int g_matchPosition;

namespace {

constexpr uint16_t kNoNode = kRingSize;
constexpr int kFirstRoot = kRingSize + 1;  // the tree of first byte b hangs right of kFirstRoot + b
constexpr int kLinkCount = kFirstRoot + 256;
constexpr int kLeft = 0;
constexpr int kRight = 1;

uint16_t g_parent[kLinkCount];
uint16_t g_child[kLinkCount][2];  // [kLeft], [kRight]
// Bytes 1 to 8 of the string at each position in the tree, big-endian, so that one number
// comparison orders two strings by those bytes. A string's bytes stay put while it is in a
// tree: the ring is overwritten only behind the oldest string, which leaves first.
uint64_t g_head[kRingSize];

inline uint64_t LoadHead(const uint8_t* bytes) {
  uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  return __builtin_bswap64(value);
}

// Compares two strings that agree in bytes 0 to 8, from byte 9 up to the full lookahead, a
// word at a time (the ring's spare bytes make the last load safe). Returns the common length
// (9 to 60); below 60, *goRight tells whether the key's byte at the first difference is the
// greater.
int CommonTail(const uint8_t* key, const uint8_t* node, int* goRight) {
  for (int i = 9; i < kLookahead; i += 8) {
    const uint64_t a = LoadHead(key + i);
    const uint64_t b = LoadHead(node + i);
    if (a != b) {
      const int at = i + __builtin_clzll(a ^ b) / 8;
      if (at >= kLookahead) return kLookahead;
      *goRight = a > b;
      return at;
    }
  }
  return kLookahead;
}

}  // namespace

void ResetRing() {
  std::memset(g_ring, kFillByte, kFirstWrite);
  std::memset(g_ring + kFirstWrite, 0, sizeof g_ring - kFirstWrite);
}

void ResetSearchTrees() {
  for (int i = kFirstRoot; i < kLinkCount; ++i) g_child[i][kRight] = kNoNode;
  for (int i = 0; i < kRingSize; ++i) g_parent[i] = kNoNode;
}

// Descends from the first byte's root, right on greater or equal and left on less, and
// hangs the string where the link is empty. Every node passed is a candidate match.
void InsertString(int r) {
  const uint8_t* key = &g_ring[r];
  const uint64_t keyHead = LoadHead(key + 1);
  g_head[r] = keyHead;
  g_child[r][kLeft] = g_child[r][kRight] = kNoNode;
  // Each candidate scores its length above the complement of its position value, so the
  // highest score is the longest match and, among equally long ones, the nearest.
  int bestScore = 0;
  int p = kFirstRoot + key[0];
  int goRight = 1;
  int length = 0;
  int next = g_child[p][kRight];
  while (next != kNoNode) {
    p = next;
    // Both children are loaded before the comparison decides between them, and the choice
    // and the score are computed without branches: the direction is unpredictable.
    const int left = g_child[p][kLeft];
    const int right = g_child[p][kRight];
    const uint64_t nodeHead = g_head[p];
    if (nodeHead != keyHead) {
      length = 1 + __builtin_clzll(nodeHead ^ keyHead) / 8;
      goRight = keyHead > nodeHead;
    } else {
      length = CommonTail(key, &g_ring[p], &goRight);
    }
    const int position = ((r - p) & kRingMask) - 1;
    const int score = -static_cast<int>(length > kThreshold) & ((length << 12) | (kRingMask - position));
    bestScore = score > bestScore ? score : bestScore;
    if (length >= kLookahead) break;
    next = left ^ ((left ^ right) & -goRight);
  }
  if (length < kLookahead) {
    g_child[p][goRight] = static_cast<uint16_t>(r);
    g_parent[r] = static_cast<uint16_t>(p);
  }
  g_matchLength = bestScore >> 12;
  g_matchPosition = kRingMask - (bestScore & kRingMask);
  if (length < kLookahead) return;

  // A full-length match: the new string takes p's place, and p leaves the tree.
  const int left = g_child[p][kLeft];
  const int right = g_child[p][kRight];
  const int up = g_parent[p];
  g_parent[r] = static_cast<uint16_t>(up);
  g_child[r][kLeft] = static_cast<uint16_t>(left);
  g_child[r][kRight] = static_cast<uint16_t>(right);
  g_parent[left] = static_cast<uint16_t>(r);
  g_parent[right] = static_cast<uint16_t>(r);
  g_child[up][g_child[up][kRight] == p ? kRight : kLeft] = static_cast<uint16_t>(r);
  g_parent[p] = kNoNode;
}

void DeleteString(int p) {
  if (g_parent[p] == kNoNode) return;
  int q;
  if (g_child[p][kRight] == kNoNode) {
    q = g_child[p][kLeft];
  } else if (g_child[p][kLeft] == kNoNode) {
    q = g_child[p][kRight];
  } else {
    // Two children: the rightmost node of the left subtree takes p's place.
    q = g_child[p][kLeft];
    if (g_child[q][kRight] != kNoNode) {
      do {
        q = g_child[q][kRight];
      } while (g_child[q][kRight] != kNoNode);
      g_child[g_parent[q]][kRight] = g_child[q][kLeft];
      g_parent[g_child[q][kLeft]] = g_parent[q];
      g_child[q][kLeft] = g_child[p][kLeft];
      g_parent[g_child[p][kLeft]] = static_cast<uint16_t>(q);
    }
    g_child[q][kRight] = g_child[p][kRight];
    g_parent[g_child[p][kRight]] = static_cast<uint16_t>(q);
  }
  const int up = g_parent[p];
  g_parent[q] = static_cast<uint16_t>(up);
  g_child[up][g_child[up][kRight] == p ? kRight : kLeft] = static_cast<uint16_t>(q);
  g_parent[p] = kNoNode;
}

}  // namespace codec
}  // namespace vexlor
