#include "keystream.h"

namespace vexlor {

Keystream g_keystream;

PasswordKey DerivePasswordKey(const char* password) {
  uint64_t k = 0x7FFFFFFFFFULL;  // 2^39 - 1
  for (const char* c = password; *c != '\0'; ++c) {
    // Each byte counts as a signed 8-bit number; the product wraps in 64 bits.
    k *= static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(*c)));
  }
  int64_t key = static_cast<int64_t>(k);
  while (key > static_cast<int64_t>(kKeystreamThreshold)) key /= 29;
  return key;
}

static uint8_t NibbleSum(uint64_t state) {
  uint64_t low = state & 0x0F0F0F0F0F0F0F0FULL;
  uint64_t high = (state >> 4) & 0x0F0F0F0F0F0F0F0FULL;
  // Each byte of low + high is at most 30; multiplying by 0x0101... sums all eight into the top byte.
  return static_cast<uint8_t>(((low + high) * 0x0101010101010101ULL) >> 56);
}

uint8_t Keystream::NextByte() {
  state_ = state_ > kKeystreamThreshold ? state_ / 29 : state_ * 23;
  return NibbleSum(state_);
}

void Keystream::Encipher(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(data[i] + NextByte());
}

void Keystream::Decipher(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(data[i] - NextByte());
}

}  // namespace vexlor
