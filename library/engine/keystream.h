// The one cipher of the engine: a byte generator over a 64-bit state.
// Enciphering adds a keystream byte (mod 256), deciphering subtracts it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexlor {

// Signed 64-bit key derived from a password; never above kKeystreamThreshold.
using PasswordKey = int64_t;

constexpr uint64_t kKeystreamThreshold = 400000000000000000ULL;

PasswordKey DerivePasswordKey(const char* password);

class Keystream {
 public:
  // Sets the state to the bit pattern of the value (a negative key lands above 2^63).
  void Seed(uint64_t value) { state_ = value; }

  // Advances the state one step and returns the nibble sum of the new state (0 to 240).
  uint8_t NextByte();

  // Adds (Encipher) or subtracts (Decipher) one keystream byte per data byte, in order.
  void Encipher(uint8_t* data, size_t count);
  void Decipher(uint8_t* data, size_t count);

  uint64_t State() const { return state_; }

 private:
  uint64_t state_ = 0;
};

// The process-wide generator shared by the engine and the settings store. Its users never
// overlap: one operation at a time per process, and settings are scrambled outside operations.
extern Keystream g_keystream;

// The bulk calls sum nibbles with the widest vector instructions the processor offers. Tests
// check every level the machine has: 0 plain integer code, 1 SSE2, 2 AVX-512. Returns false,
// changing nothing, when the processor or the build lacks the level.
bool SelectKeystreamSumLevel(int level);
int BestKeystreamSumLevel();

}  // namespace vexlor
