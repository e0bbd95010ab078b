// The match finder's rules on hand-made ring contents, and the position prefix code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codec_internal.h"
#include "codec_test_support.h"

namespace vexlor {
namespace {

using namespace codec;

struct Placed {
  int position;
  const char* text;  // the rest of the 60 bytes is the 0x20 fill
};

struct Found {
  int length;
  int position;  // position value: distance back minus one
};

// Places the strings in a freshly filled ring and inserts them in order.
void Prepare(const std::vector<Placed>& strings) {
  ResetRing();
  ResetSearchTrees();
  for (const Placed& s : strings) std::memcpy(&g_ring[s.position], s.text, std::strlen(s.text));
  for (const Placed& s : strings) InsertString(s.position);
}

Found InsertKey(int position, const char* text) {
  std::memcpy(&g_ring[position], text, std::strlen(text));
  InsertString(position);
  return {g_matchLength, g_matchPosition};
}

TEST(MatchFinderTest, LongestMatchAndTies) {
  struct Case {
    const char* name;
    std::vector<Placed> tree;
    Placed key;
    Found expected;
  };
  const Case cases[] = {
      {"the nearer of two equal matches", {{100, "abcX"}, {200, "abcY"}}, {300, "abcZ"}, {3, 99}},
      {"the nearer one inserted first", {{200, "abcY"}, {100, "abcX"}}, {300, "abcZ"}, {3, 99}},
      {"a longer match wins over a nearer one", {{100, "abcdX"}, {200, "abcY"}}, {300, "abcdZ"}, {4, 199}},
      {"two bytes are no match", {{100, "abX"}}, {300, "abY"}, {0, 0}},
      {"a match runs on into the fill", {{100, "qrs"}}, {300, "qrs!"}, {3, 199}},
      {"a full match is 60 bytes", {{100, "qrs"}}, {300, "qrs"}, {60, 199}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(c.tree);
    const Found found = InsertKey(c.key.position, c.key.text);
    EXPECT_EQ(found.length, c.expected.length);
    if (c.expected.length > 0) {
      EXPECT_EQ(found.position, c.expected.position);
    }
  }
}

TEST(MatchFinderTest, FullMatchReplacesTheOlderString) {
  Prepare({{100, "qrs"}});
  ASSERT_EQ(InsertKey(300, "qrs").length, 60);
  // 100 has left the tree: deleting it changes nothing, and the next equal string finds 300.
  DeleteString(100);
  const Found found = InsertKey(500, "qrs");
  EXPECT_EQ(found.length, 60);
  EXPECT_EQ(found.position, 199);
}

TEST(MatchFinderTest, DeletedStringsAreNotFound) {
  struct Case {
    const char* name;
    std::vector<Placed> tree;
    std::vector<int> deleted;
  };
  // All strings share the first byte, so they form one tree: "km" at the root, "kf" and "kt"
  // below it, "kg" and "kd" under "kf", "kh" under "kg".
  const std::vector<Placed> tree = {{100, "km"}, {200, "kf"}, {300, "kt"}, {400, "kg"},
                                    {500, "kd"}, {600, "kh"}};
  const Case cases[] = {
      {"a leaf", tree, {500}},
      {"a node with one child", tree, {400}},
      {"the root with two children", tree, {100}},
      {"an inner node with two children", tree, {200}},
      {"several, root last", tree, {300, 200, 100}},
      {"every string", tree, {100, 200, 300, 400, 500, 600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(c.tree);
    for (int p : c.deleted) DeleteString(p);
    // Every string still in the tree is found at full length by an equal key; a deleted one
    // is not. Each key goes to a fresh position and takes the place of the string it finds,
    // so the tree keeps the same strings.
    int keyPosition = 1000;
    for (const Placed& s : c.tree) {
      const bool gone = std::find(c.deleted.begin(), c.deleted.end(), s.position) != c.deleted.end();
      SCOPED_TRACE(std::string("string ") + s.text);
      const Found found = InsertKey(keyPosition, s.text);
      if (gone) {
        EXPECT_LT(found.length, 60);
      } else {
        EXPECT_EQ(found.length, 60);
        EXPECT_EQ(found.position, keyPosition - s.position - 1);
      }
      keyPosition += 100;
    }
  }
}

// The insertion and deletion rules transcribed plainly, byte by byte, on links of their own
// over the same ring: the match finder must agree with it on every insertion.
class ReferenceTrees {
 public:
  void Reset() {
    for (int i = kRoots; i < kLinks; ++i) right_[i] = kNone;
    for (int i = 0; i < kRingSize; ++i) parent_[i] = kNone;
  }

  void Insert(int r) {
    const uint8_t* key = &g_ring[r];
    int difference = 1;
    int p = kRoots + key[0];
    right_[r] = left_[r] = kNone;
    length = 0;
    for (;;) {
      int* link = difference >= 0 ? &right_[p] : &left_[p];
      if (*link == kNone) {
        *link = r;
        parent_[r] = p;
        return;
      }
      p = *link;
      int i = 1;
      for (; i < kLookahead; ++i) {
        difference = key[i] - g_ring[p + i];
        if (difference != 0) break;
      }
      if (i > kThreshold) {
        const int candidate = ((r - p) & kRingMask) - 1;
        if (i > length) {
          position = candidate;
          length = i;
          if (i >= kLookahead) break;
        } else if (i == length && candidate < position) {
          position = candidate;
        }
      }
    }
    parent_[r] = parent_[p];
    left_[r] = left_[p];
    right_[r] = right_[p];
    parent_[left_[p]] = r;
    parent_[right_[p]] = r;
    (right_[parent_[p]] == p ? right_ : left_)[parent_[p]] = r;
    parent_[p] = kNone;
  }

  void Delete(int p) {
    if (parent_[p] == kNone) return;
    int q;
    if (right_[p] == kNone) {
      q = left_[p];
    } else if (left_[p] == kNone) {
      q = right_[p];
    } else {
      q = left_[p];
      if (right_[q] != kNone) {
        while (right_[q] != kNone) q = right_[q];
        right_[parent_[q]] = left_[q];
        parent_[left_[q]] = parent_[q];
        left_[q] = left_[p];
        parent_[left_[p]] = q;
      }
      right_[q] = right_[p];
      parent_[right_[p]] = q;
    }
    parent_[q] = parent_[p];
    (right_[parent_[p]] == p ? right_ : left_)[parent_[p]] = q;
    parent_[p] = kNone;
  }

  int length = 0;
  int position = 0;

 private:
  static constexpr int kNone = kRingSize;
  static constexpr int kRoots = kRingSize + 1;
  static constexpr int kLinks = kRoots + 256;
  int parent_[kLinks];
  int left_[kLinks];
  int right_[kLinks];
};

TEST(MatchFinderTest, AgreesWithThePlainRulesOverWholeFiles) {
  // The compressor's schedule: 60 strings before the first write position, then for every
  // byte one deletion at s, the byte stored at s (and its mirror), one insertion at r.
  static ReferenceTrees reference;
  const Content contents[] = {
      {"text", TextLikeBytes}, {"random", RandomBytes}, {"runs", RunBytes}, {"spaces", SpaceBytes}};
  for (const Content& content : contents) {
    SCOPED_TRACE(content.name);
    const Bytes data = content.make(200000, 31);
    ResetRing();
    ResetSearchTrees();
    reference.Reset();
    std::memcpy(&g_ring[kFirstWrite], data.data(), kLookahead);
    for (int i = 1; i <= kLookahead + 1; ++i) {
      const int at = i <= kLookahead ? kFirstWrite - i : kFirstWrite;
      InsertString(at);
      reference.Insert(at);
    }
    int s = 0;
    int r = kFirstWrite;
    for (size_t next = kLookahead; next < data.size(); ++next) {
      DeleteString(s);
      reference.Delete(s);
      g_ring[s] = data[next];
      if (s < kLookahead - 1) g_ring[s + kRingSize] = data[next];
      s = (s + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      InsertString(r);
      reference.Insert(r);
      ASSERT_EQ(g_matchLength, reference.length) << "inserting at byte " << next;
      if (reference.length > kThreshold) {
        ASSERT_EQ(g_matchPosition, reference.position) << "inserting at byte " << next;
      }
    }
  }
}

TEST(PositionCodeTest, CanonicalCodesAndTheirDecoding) {
  struct Case {
    int upper;
    int code;
    int bits;
  };
  const Case cases[] = {
      {0, 0b000, 3},     {1, 0b0010, 4},    {2, 0b0011, 4},      {3, 0b0100, 4},
      {4, 0b01010, 5},   {11, 0b10001, 5},  {12, 0b100100, 6},   {23, 0b101111, 6},
      {24, 0b1100000, 7}, {47, 0b1110111, 7}, {48, 0b11110000, 8}, {63, 0b11111111, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("upper bits " + std::to_string(c.upper));
    EXPECT_EQ(kPositionTables.code[c.upper], c.code);
    EXPECT_EQ(kPositionTables.codeBits[c.upper], c.bits);
    // Every 8-bit pattern that starts with the code decodes to it.
    const int first = c.code << (8 - c.bits);
    for (int pattern = first; pattern < first + (1 << (8 - c.bits)); ++pattern) {
      EXPECT_EQ(kPositionTables.decodeValue[pattern], c.upper) << "pattern " << pattern;
      EXPECT_EQ(kPositionTables.decodeBits[pattern], c.bits) << "pattern " << pattern;
    }
  }
}

}  // namespace
}  // namespace vexlor
