// The bulk keystream (Encipher/Decipher) must produce exactly the bytes of the plain one-step
// generator, from any state and however bulk and single calls are mixed.
#include "keystream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vexlor {
namespace {

constexpr uint64_t kThreshold = 400000000000000000ULL;

// The generator as first described: one compare, one multiply or divide, one nibble sum.
struct ReferenceKeystream {
  uint64_t state;

  uint8_t NextByte() {
    state = state > kThreshold ? state / 29 : state * 23;
    unsigned sum = 0;
    for (int nibble = 0; nibble < 16; ++nibble) sum += (state >> (4 * nibble)) & 0x0F;
    return static_cast<uint8_t>(sum);
  }
};

// Deterministic pseudo-random numbers for data, seeds and call lengths.
uint64_t NextRandom(uint64_t* x) {
  *x ^= *x << 13;
  *x ^= *x >> 7;
  *x ^= *x << 17;
  return *x;
}

std::vector<uint8_t> RandomData(size_t size, uint64_t seed) {
  std::vector<uint8_t> data(size);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(NextRandom(&seed) >> 24);
  return data;
}

TEST(ReferenceKeystream, MatchesHandComputedBytes) {
  struct Case {
    uint64_t seed;
    uint8_t bytes[6];
    uint64_t state_after;
  };
  const Case cases[] = {
      {kThreshold, {110, 102, 81, 102, 81, 108}, 0x2C4F0BCC13F8148ULL},
      {kThreshold + 1, {67, 101, 88, 101, 88, 107}, 0x2C4F0BCC13F8147ULL},
      {~0ULL, {128, 94, 92, 128, 124, 83}, 0x3104430F807ECCULL},
      {1, {8, 4, 32, 16, 38, 49}, 0x8D2D931ULL},
  };
  for (const Case& c : cases) {
    ReferenceKeystream reference{c.seed};
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(reference.NextByte(), c.bytes[i]) << "seed " << c.seed << " byte " << i;
    }
    EXPECT_EQ(reference.state, c.state_after) << "seed " << c.seed;
  }
}

// Seeds at every boundary the bulk path decides on, seeds above the threshold, negative keys,
// zero, tiny states that climb for many steps, and the all-ones state.
std::vector<uint64_t> EdgeSeeds() {
  return {
      0,
      1,
      2,
      kThreshold - 1,
      kThreshold,
      kThreshold + 1,
      kThreshold / 23,
      kThreshold / 23 + 1,
      kThreshold / 529,
      kThreshold / 529 + 1,
      kThreshold / 29,
      ~0ULL,
      1ULL << 63,
      static_cast<uint64_t>(DerivePasswordKey("")),
      static_cast<uint64_t>(DerivePasswordKey("A")),
      static_cast<uint64_t>(DerivePasswordKey("secret")),
      static_cast<uint64_t>(DerivePasswordKey("\xff")),      // negative key
      static_cast<uint64_t>(DerivePasswordKey("\x80pass")),  // negative key
      static_cast<uint64_t>(static_cast<int64_t>(-1)),
  };
}

// Enciphers `size` bytes in calls of the given length and compares bytes and final state.
void ExpectBulkMatchesReference(uint64_t seed, size_t size, size_t call_length) {
  std::vector<uint8_t> plain = RandomData(size, seed ^ 0x9E3779B97F4A7C15ULL);
  std::vector<uint8_t> expected = plain;
  ReferenceKeystream reference{seed};
  for (uint8_t& byte : expected) byte = static_cast<uint8_t>(byte + reference.NextByte());

  std::vector<uint8_t> actual = plain;
  Keystream keystream;
  keystream.Seed(seed);
  for (size_t done = 0; done < size; done += call_length) {
    keystream.Encipher(actual.data() + done, std::min(call_length, size - done));
  }
  size_t first_difference = 0;
  while (first_difference < size && actual[first_difference] == expected[first_difference]) {
    ++first_difference;
  }
  EXPECT_EQ(first_difference, size) << "seed " << seed << ", calls of " << call_length;
  EXPECT_EQ(keystream.State(), reference.state) << "seed " << seed << ", calls of " << call_length;

  keystream.Seed(seed);
  for (size_t done = 0; done < size; done += call_length) {
    keystream.Decipher(actual.data() + done, std::min(call_length, size - done));
  }
  EXPECT_TRUE(actual == plain) << "deciphering did not restore, seed " << seed;
}

// Runs the body once with each nibble-sum level this processor and build offer, then goes back
// to the best one.
template <typename Body>
void ForEachSumLevel(Body body) {
  for (int level = 0; level <= BestKeystreamSumLevel(); ++level) {
    if (!SelectKeystreamSumLevel(level)) continue;
    SCOPED_TRACE(testing::Message() << "nibble-sum level " << level);
    body();
  }
  ASSERT_TRUE(SelectKeystreamSumLevel(BestKeystreamSumLevel()));
}

TEST(KeystreamBulk, MatchesReferenceFromEdgeSeeds) {
  // The transfer buffer's length, plus lengths that end inside a block and on odd counts.
  const size_t call_lengths[] = {100000, 1, 2, 3, 7, 63, 64, 65, 4099};
  ForEachSumLevel([&] {
    for (uint64_t seed : EdgeSeeds()) {
      for (size_t call_length : call_lengths) {
        ExpectBulkMatchesReference(seed, call_length == 100000 ? 1000000 : 20000, call_length);
      }
    }
  });
}

TEST(KeystreamBulk, MatchesReferenceFromRandomSeeds) {
  ForEachSumLevel([] {
    uint64_t x = 0x243F6A8885A308D3ULL;
    for (int i = 0; i < 64; ++i) {
      uint64_t seed = NextRandom(&x);
      // Half the seeds within the threshold, as password keys are, half anywhere.
      if (i % 2 == 0) seed %= kThreshold + 1;
      ExpectBulkMatchesReference(seed, 200000, 100000);
    }
  });
}

TEST(KeystreamBulk, UnknownSumLevelsAreRefused) {
  EXPECT_FALSE(SelectKeystreamSumLevel(-1));
  EXPECT_FALSE(SelectKeystreamSumLevel(3));
  EXPECT_TRUE(SelectKeystreamSumLevel(0));
  ASSERT_TRUE(SelectKeystreamSumLevel(BestKeystreamSumLevel()));
}

TEST(KeystreamBulk, MixedCallsContinueOneStream) {
  const std::vector<uint64_t> seeds = EdgeSeeds();
  for (uint64_t seed : seeds) {
    ReferenceKeystream reference{seed};
    Keystream keystream;
    keystream.Seed(seed);
    uint64_t x = seed * 2654435761ULL + 1;
    for (int call = 0; call < 400; ++call) {
      uint64_t r = NextRandom(&x);
      size_t length = static_cast<size_t>((r >> 8) % 700);  // zero-length calls included
      std::vector<uint8_t> data = RandomData(length, r);
      std::vector<uint8_t> expected = data;
      switch (r % 16) {
        case 0:
        case 1:
        case 2:
        case 3:
          ASSERT_EQ(keystream.NextByte(), reference.NextByte()) << "seed " << seed << " call " << call;
          break;
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
          for (uint8_t& byte : expected) byte = static_cast<uint8_t>(byte - reference.NextByte());
          keystream.Decipher(data.data(), length);
          ASSERT_TRUE(data == expected) << "seed " << seed << " call " << call;
          break;
        case 15: {
          // Starting over, as the walker does before every file, from any state.
          uint64_t again = seeds[(r >> 32) % seeds.size()];
          keystream.Seed(again);
          reference.state = again;
          break;
        }
        default:
          for (uint8_t& byte : expected) byte = static_cast<uint8_t>(byte + reference.NextByte());
          keystream.Encipher(data.data(), length);
          ASSERT_TRUE(data == expected) << "seed " << seed << " call " << call;
          break;
      }
      ASSERT_EQ(keystream.State(), reference.state) << "seed " << seed << " call " << call;
    }
  }
}

TEST(KeystreamBulk, ZeroKeyLeavesDataUnchanged) {
  std::vector<uint8_t> data = RandomData(100000, 7);
  std::vector<uint8_t> before = data;
  Keystream keystream;
  keystream.Seed(0);
  keystream.Encipher(data.data(), data.size());
  EXPECT_TRUE(data == before);
  EXPECT_EQ(keystream.State(), 0u);
  EXPECT_EQ(keystream.NextByte(), 0);
}

}  // namespace
}  // namespace vexlor
