#include "keystream.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexlor {
namespace {

struct KeyCase {
  const char* password;
  int64_t key;
  uint8_t firstBytes[4];  // the keystream right after seeding with the key
};

// Expected values computed independently with arbitrary-precision arithmetic.
const KeyCase kKeyCases[] = {
    {"", 549755813887LL, {146, 148, 134, 142}},
    {"A", 65 * 549755813887LL, {145, 140, 145, 84}},
    {"\x7f", 127 * 549755813887LL, {137, 136, 158, 102}},
    // 122^3 x (2^39 - 1) is above the threshold and is divided by 29 once.
    {"zzz", 34423206728795902LL, {131, 102, 81, 125}},
    // Bytes from 0x80 count as negative; a negative key seeds a state above the threshold.
    {"\x80", -70368744177536LL, {123, 114, 87, 87}},
    {"\xff\x01", -549755813887LL, {118, 103, 104, 125}},
    {"secret", -3245667502032022056LL, {106, 87, 111, 127}},
    // Eleven times 2^6: 66 factors of two push every bit out of the product.
    {"@@@@@@@@@@@", 0, {0, 0, 0, 0}},
};

TEST(DerivePasswordKey, KnownKeysAndTheirKeystreams) {
  for (const KeyCase& c : kKeyCases) {
    PasswordKey key = DerivePasswordKey(c.password);
    EXPECT_EQ(key, c.key) << "password \"" << c.password << "\"";
    Keystream keystream;
    keystream.Seed(static_cast<uint64_t>(key));
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(keystream.NextByte(), c.firstBytes[i]) << "password \"" << c.password << "\", byte " << i;
    }
  }
}

TEST(DerivePasswordKey, NeverAboveTheThreshold) {
  const char* passwords[] = {"zzzzzzzz", "~~~~~~~~~~~~~~~~~~~~", "\x7f\x7f\x7f\x7f\x7f", "\x80\x80\x80"};
  for (const char* password : passwords) {
    EXPECT_LE(DerivePasswordKey(password), static_cast<int64_t>(kKeystreamThreshold)) << password;
  }
}

TEST(Keystream, StepAtTheThreshold) {
  struct StepCase {
    uint64_t state;
    uint64_t next;
  };
  const StepCase cases[] = {
      {kKeystreamThreshold, 9200000000000000000ULL},     // multiplied by 23
      {kKeystreamThreshold + 1, 13793103448275862ULL},   // divided by 29
      {static_cast<uint64_t>(-70368744177536LL), 636092196722943933ULL},  // 0xFFFFC00000000080 / 29
      {0, 0},
  };
  for (const StepCase& c : cases) {
    Keystream keystream;
    keystream.Seed(c.state);
    keystream.NextByte();
    EXPECT_EQ(keystream.State(), c.next) << "from state " << c.state;
  }
}

TEST(Keystream, ByteIsTheNibbleSumOfTheNewState) {
  Keystream keystream;
  keystream.Seed(kKeystreamThreshold);
  // 9 200 000 000 000 000 000 is 0x7FACF7419D980000, whose nibbles add up to 110.
  EXPECT_EQ(keystream.NextByte(), 110);
  keystream.Seed(kKeystreamThreshold + 1);
  EXPECT_EQ(keystream.NextByte(), 67);
}

TEST(Keystream, BytesNeverExceed240) {
  const uint64_t seeds[] = {1, 549755813887ULL, kKeystreamThreshold, ~0ULL, 0xFFFFFFFFFFFFFFF0ULL,
                            0x8000000000000000ULL};
  for (uint64_t seed : seeds) {
    Keystream keystream;
    keystream.Seed(seed);
    for (int i = 0; i < 20000; ++i) {
      uint8_t byte = keystream.NextByte();
      ASSERT_LE(byte, 240) << "seed " << seed << ", step " << i;
    }
  }
}

TEST(Keystream, DecipherUndoesEncipher) {
  std::vector<uint8_t> data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> original = data;
  Keystream keystream;
  keystream.Seed(static_cast<uint64_t>(DerivePasswordKey("secret")));
  keystream.Encipher(data.data(), data.size());
  EXPECT_NE(data, original);
  keystream.Seed(static_cast<uint64_t>(DerivePasswordKey("secret")));
  keystream.Decipher(data.data(), data.size());
  EXPECT_EQ(data, original);
}

}  // namespace
}  // namespace vexlor
