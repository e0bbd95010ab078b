// The match finder's rules on hand-made ring contents, and the position prefix code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codec_internal.h"

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
