// The compressed payload format: sizes and code bytes the model dictates, keystream use,
// round trips, tree rebuilds, long code words, truncated payloads, progress and failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "codec_internal.h"
#include "codec_test_support.h"
#include "job_reporter.h"

namespace vexlor {
namespace {

const PasswordKey kKeys[] = {
    0,                              // a keystream of zero bytes: the payload shows the raw code
    DerivePasswordKey("\xff"),      // negative
    DerivePasswordKey("password"),  // positive
};

std::string Hex(const Bytes& bytes, size_t count = 16) {
  std::string text;
  char cell[4];
  for (size_t i = 0; i < bytes.size() && i < count; ++i) {
    std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
    text += cell;
  }
  return text;
}

Bytes Repeat(size_t count, uint8_t value) { return Bytes(count, value); }

TEST(CodecPayloadTest, SizesFollowTheModel) {
  struct Case {
    const char* name;
    Bytes plain;
    size_t payload;
  };
  const Case cases[] = {
      {"200 bytes of 0x20", Repeat(200, 0x20), 13},
      {"5000 bytes of 0x61", Repeat(5000, 0x61), 138},
      {"empty", {}, 4},
      // Symbols 0x74 to 313 start with 8-bit codes, 0 to 0x73 with 9-bit codes.
      {"one byte 0x74", {0x74}, 5},
      {"one byte 0xFF", {0xFF}, 5},
      {"one byte 0x73", {0x73}, 6},
      {"one byte 0x00", {0x00}, 6},
  };
  for (const Case& c : cases) {
    for (PasswordKey key : kKeys) {
      SCOPED_TRACE(std::string(c.name) + ", key " + std::to_string(key));
      const CodecRun compressed = Compress(c.plain, key);
      ASSERT_EQ(compressed.result, 0);
      EXPECT_EQ(compressed.output.size(), c.payload) << Hex(compressed.output);
      // The plain length, little-endian and never enciphered.
      const size_t n = c.plain.size();
      const Bytes length = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0, 0};
      EXPECT_EQ(Bytes(compressed.output.begin(), compressed.output.begin() + 4), length);
      const CodecRun expanded = Expand(compressed.output, key);
      EXPECT_EQ(expanded.result, 0);
      EXPECT_TRUE(expanded.output == c.plain);
    }
  }
}

// The first code bytes, worked out by hand from the initial tree (leaf k in node k, node j
// under node 314 + j / 2, each bit the parity of the node entered) and the position code.
TEST(CodecPayloadTest, CodeBytesFollowTheInitialTreeAndPositionCode) {
  struct Case {
    const char* name;
    Bytes plain;
    Bytes code;  // the leading code bytes before enciphering
  };
  const Case cases[] = {
      {"0x74: nodes 624 620 612 596 564 500 372 116", {0x74}, {0x00}},
      {"0x75: as 0x74 but the odd leaf", {0x75}, {0x01}},
      {"0xFF: nodes 625 622 616 604 581 534 441 255", {0xFF}, {0x8B}},
      {"0x00: nine bits 110001100, padded", {0x00}, {0xC6, 0x00}},
      // The first string matches the fill at full length: the strings inserted before it
      // replaced each other down to 3976, so the match is 60 bytes at position value 59:
      // symbol 313 (11000101), then prefix 000 and 111011.
      {"200 bytes of 0x20", Repeat(200, 0x20), {0xC5, 0x1D}},
  };
  for (const Case& c : cases) {
    for (PasswordKey key : kKeys) {
      SCOPED_TRACE(std::string(c.name) + ", key " + std::to_string(key));
      const CodecRun compressed = Compress(c.plain, key);
      ASSERT_EQ(compressed.result, 0);
      ASSERT_GE(compressed.output.size(), 4 + c.code.size());
      Keystream keystream;
      keystream.Seed(static_cast<uint64_t>(key));
      Bytes expected;
      for (uint8_t b : c.code) expected.push_back(static_cast<uint8_t>(b + keystream.NextByte()));
      const Bytes actual(compressed.output.begin() + 4,
                         compressed.output.begin() + 4 + static_cast<std::ptrdiff_t>(c.code.size()));
      EXPECT_EQ(Hex(actual), Hex(expected));
    }
  }
}

TEST(CodecPayloadTest, OneKeystreamBytePerCodeByte) {
  const PasswordKey key = DerivePasswordKey("\xff");
  const Bytes plain = TextLikeBytes(20000, 3);
  const CodecRun compressed = Compress(plain, key);
  ASSERT_EQ(compressed.result, 0);
  Keystream reference;
  reference.Seed(static_cast<uint64_t>(key));
  for (size_t i = 4; i < compressed.output.size(); ++i) reference.NextByte();
  EXPECT_EQ(g_keystream.State(), reference.State()) << "after compressing";

  const CodecRun expanded = Expand(compressed.output, key);
  ASSERT_EQ(expanded.result, 0);
  EXPECT_EQ(g_keystream.State(), reference.State()) << "after expanding";
}

const Content kContents[] = {
    {"text", TextLikeBytes},
    {"random", RandomBytes},
    {"runs", RunBytes},
    {"spaces", SpaceBytes},
};

TEST(CodecRoundTripTest, SizesContentsAndKeys) {
  const size_t sizes[] = {0, 1, 59, 60, 61, 4095, 4096, 4097, 300000};
  for (size_t size : sizes) {
    for (const Content& content : kContents) {
      for (PasswordKey key : kKeys) {
        SCOPED_TRACE(std::string(content.name) + ", " + std::to_string(size) + " bytes, key " +
                     std::to_string(key));
        const Bytes plain = content.make(size, size + 17);
        const CodecRun compressed = Compress(plain, key);
        ASSERT_EQ(compressed.result, 0);
        const CodecRun expanded = Expand(compressed.output, key);
        ASSERT_EQ(expanded.result, 0);
        ASSERT_EQ(expanded.output.size(), plain.size());
        ASSERT_TRUE(expanded.output == plain);
      }
    }
  }
}

TEST(CodecRoundTripTest, ShortReadsGiveTheSameStream) {
  // Sources that deliver a few bytes per read must not change what is coded or decoded.
  const Bytes plain = TextLikeBytes(70000, 9);
  const PasswordKey key = DerivePasswordKey("password");
  const CodecRun whole = Compress(plain, key);
  ASSERT_EQ(whole.result, 0);
  for (size_t chunk : {1, 7, 4096}) {
    SCOPED_TRACE("reads of " + std::to_string(chunk));
    const CodecRun pieces = Compress(plain, key, chunk);
    ASSERT_EQ(pieces.result, 0);
    EXPECT_TRUE(pieces.output == whole.output);
    const CodecRun expanded = Expand(whole.output, key, chunk);
    ASSERT_EQ(expanded.result, 0);
    EXPECT_TRUE(expanded.output == plain);
  }
}

TEST(CodecRoundTripTest, FirstRebuildWhenTheRootCountReaches0xF000) {
  // The root starts at 314 and counts every symbol, so the first rebuild comes with symbol
  // 61127. Random bytes code as literals but for a rare 3-byte match.
  struct Case {
    size_t size;
    int rebuilds;
  };
  for (const Case& c : {Case{61000, 0}, Case{62000, 1}}) {
    SCOPED_TRACE(std::to_string(c.size) + " random bytes");
    const Bytes plain = RandomBytes(c.size, 21);
    const CodecRun compressed = Compress(plain, 0);
    ASSERT_EQ(compressed.result, 0);
    EXPECT_EQ(codec::g_treeRebuilds, c.rebuilds);
    ASSERT_EQ(Expand(compressed.output, 0).result, 0);
    EXPECT_EQ(codec::g_treeRebuilds, c.rebuilds);
  }
}

TEST(CodecRoundTripTest, TreeRebuildsAtTheSameSymbolOnBothSides) {
  // Random bytes code as literals: one symbol per byte, so the root count passes 0xF000
  // several times.
  const Bytes plain = RandomBytes(200000, 5);
  const PasswordKey key = DerivePasswordKey("password");
  const CodecRun compressed = Compress(plain, key);
  ASSERT_EQ(compressed.result, 0);
  const int compressRebuilds = codec::g_treeRebuilds;
  EXPECT_GE(compressRebuilds, 3);
  const CodecRun expanded = Expand(compressed.output, key);
  ASSERT_EQ(expanded.result, 0);
  EXPECT_EQ(codec::g_treeRebuilds, compressRebuilds);
  EXPECT_TRUE(expanded.output == plain);
}

// Runs of 60 + t bytes: each codes as one 60-byte match and one match of the tail t, since
// the run byte steps through 13 values so that no two neighbouring run bytes repeat within the
// window. The tails follow Fibonacci proportions, which stacks their symbols into a chain
// eight deep above the ~300 symbols never used; the byte at the end is one of those.
Bytes SkewedRuns() {
  const int kTails = 8;
  const double kScale = 400;
  double target[kTails];
  double total = 0;
  for (int k = 0, a = 1, b = 1; k < kTails; ++k) {
    target[k] = a * kScale;
    total += target[k];
    const int next = a + b;
    a = b;
    b = next;
  }
  const int runs = static_cast<int>(total);
  double given[kTails] = {};
  Bytes bytes;
  int value = 0;
  for (int i = 0; i < runs; ++i) {
    // Hand out the tails evenly over the stream, in their proportions.
    int pick = 0;
    double largest = -1e9;
    for (int k = 0; k < kTails; ++k) {
      const double deficit = target[k] * (i + 1) / runs - given[k];
      if (deficit > largest) {
        largest = deficit;
        pick = k;
      }
    }
    given[pick] += 1;
    bytes.insert(bytes.end(), static_cast<size_t>(60 + 3 + pick), static_cast<uint8_t>('A' + value));
    value = (value + 1 + (i / 13) % 12) % 13;
  }
  bytes.push_back(0x01);
  return bytes;
}

TEST(CodecRoundTripTest, CodeWordsLongerThan16Bits) {
  const Bytes plain = SkewedRuns();
  const PasswordKey key = DerivePasswordKey("\xff");
  const CodecRun compressed = Compress(plain, key);
  ASSERT_EQ(compressed.result, 0);
  EXPECT_GT(codec::g_longestCodeBits, 16);
  const CodecRun expanded = Expand(compressed.output, key);
  ASSERT_EQ(expanded.result, 0);
  EXPECT_TRUE(expanded.output == plain);
}

TEST(CodecRoundTripTest, OutputDoesNotDependOnThePreviousCall) {
  // A short file leaves part of the lookahead and of the ring's mirror unwritten; the match
  // finder compares them all the same, so they must not keep what the previous call left.
  const PasswordKey key = DerivePasswordKey("password");
  for (const Content& content : {kContents[0], kContents[3]}) {
    for (size_t size : {3, 10, 30, 118}) {
      SCOPED_TRACE(std::string(content.name) + ", " + std::to_string(size) + " bytes");
      const Bytes shortFile = content.make(size, 1);
      const CodecRun fresh = Compress(shortFile, key);
      ASSERT_EQ(Compress(RandomBytes(10000, 2), key).result, 0);
      const CodecRun afterRandom = Compress(shortFile, key);
      ASSERT_EQ(Compress(Repeat(10000, 0x20), key).result, 0);
      const CodecRun afterSpaces = Compress(shortFile, key);
      EXPECT_EQ(Hex(afterRandom.output, 200), Hex(fresh.output, 200));
      EXPECT_EQ(Hex(afterSpaces.output, 200), Hex(fresh.output, 200));
    }
  }
}

TEST(CodecTruncationTest, PayloadEndingBeforeItsLengthFails) {
  const PasswordKey key = DerivePasswordKey("password");
  const Bytes plain = TextLikeBytes(30000, 4);
  const CodecRun compressed = Compress(plain, key);
  ASSERT_EQ(compressed.result, 0);
  const size_t full = compressed.output.size();
  struct Cut {
    const char* name;
    size_t keep;
  };
  const Cut cuts[] = {
      {"last code byte missing", full - 1},
      {"half the code", 4 + (full - 4) / 2},
      {"one code byte", 5},
      {"only the length", 4},
      {"length cut short", 3},
      {"nothing", 0},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.name);
    const Bytes truncated(compressed.output.begin(),
                          compressed.output.begin() + static_cast<std::ptrdiff_t>(cut.keep));
    EXPECT_EQ(Expand(truncated, key).result, 3);
  }
}

TEST(CodecTruncationTest, LookingAheadPastAWholeStreamIsNoError) {
  // One symbol whose code ends exactly at a byte boundary: the reader still looks ahead.
  for (const Bytes& plain : {Bytes{0x74}, Repeat(200, 0x20), RandomBytes(5000, 8)}) {
    const CodecRun compressed = Compress(plain, 0);
    ASSERT_EQ(compressed.result, 0);
    const CodecRun expanded = Expand(compressed.output, 0);
    EXPECT_EQ(expanded.result, 0);
    EXPECT_TRUE(expanded.output == plain);
  }
}

TEST(CodecTruncationTest, CorruptPayloadsStayWithinBounds) {
  // Whatever the code bytes hold, decoding ends: at the stated length (a last match may run
  // up to 59 bytes past it) or with 3 once it needs bits the payload does not have.
  SampleRandom random(41);
  for (int trial = 0; trial < 40; ++trial) {
    const uint32_t length = static_cast<uint32_t>(random.Next() % (trial < 20 ? 5000 : 0x7FFFFFFF));
    Bytes payload = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                     static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    const Bytes code = RandomBytes(random.Next() % 3000, random.Next());
    payload.insert(payload.end(), code.begin(), code.end());
    SCOPED_TRACE("length " + std::to_string(length) + ", " + std::to_string(code.size()) + " code bytes");
    const CodecRun expanded = Expand(payload, DerivePasswordKey("x"));
    if (expanded.result == 0) {
      EXPECT_GE(expanded.output.size(), length);
      EXPECT_LT(expanded.output.size(), size_t{length} + 60);
    } else {
      EXPECT_EQ(expanded.result, 3);
      EXPECT_LT(expanded.output.size(), size_t{length} + 60);
    }
  }
}

class CountingReporter : public JobReporter {
 public:
  CountingReporter() { UseReporter(this); }
  ~CountingReporter() override { UseReporter(nullptr); }
  void ShowCurrentPath(const char*) override {}
  void AddBytesDone(uint64_t count) override { bytesDone += count; }
  bool CancelRequested() override { return false; }
  void ShowMessage(const char*) override {}
  uint64_t bytesDone = 0;
};

TEST(CodecProgressTest, BytesDoneAdditions) {
  // Compressing: 60 for the initial lookahead however much it got, then 1 per further byte.
  // Expanding: 2 for the length, then 1 per fetch of the reader, which runs one byte ahead of
  // the last byte it used: payload length - 4 + 1.
  struct Case {
    size_t size;
    uint64_t compressDone;
    bool empty;
  };
  const Case cases[] = {{0, 0, true}, {1, 60, false}, {60, 60, false}, {61, 61, false}, {5000, 5000, false}};
  for (const Case& c : cases) {
    for (size_t chunk : {SIZE_MAX, size_t{3}}) {
      SCOPED_TRACE(std::to_string(c.size) + " bytes, reads of " + std::to_string(chunk));
      const Bytes plain = TextLikeBytes(c.size, 6);
      CountingReporter reporter;
      const CodecRun compressed = Compress(plain, 0, chunk);
      ASSERT_EQ(compressed.result, 0);
      EXPECT_EQ(reporter.bytesDone, c.compressDone);
      reporter.bytesDone = 0;
      ASSERT_EQ(Expand(compressed.output, 0, chunk).result, 0);
      EXPECT_EQ(reporter.bytesDone, c.empty ? 2 : 2 + compressed.output.size() - 4 + 1);
    }
  }
}

TEST(CodecFailureTest, FailedWritesReturn3) {
  const Bytes plain = TextLikeBytes(300000, 7);
  const CodecRun whole = Compress(plain, 0);
  ASSERT_EQ(whole.result, 0);
  struct Case {
    const char* name;
    size_t writeLimit;
  };
  const Case cases[] = {
      {"the length", 2},
      {"the first code bytes", 10},
      {"a later block of code", whole.output.size() / 2},
      {"the flush byte", whole.output.size() - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BufferStream source(plain);
    BufferStream target;
    target.writeLimit = c.writeLimit;
    g_keystream.Seed(0);
    EXPECT_EQ(CompressFile(source, target), 3);
  }

  for (size_t limit : {size_t{0}, plain.size() / 2, plain.size() - 1}) {
    SCOPED_TRACE("expanding with room for " + std::to_string(limit) + " bytes");
    BufferStream source(whole.output);
    BufferStream target;
    target.writeLimit = limit;
    g_keystream.Seed(0);
    EXPECT_EQ(ExpandFile(source, target), 3);
  }
}

}  // namespace
}  // namespace vexlor
