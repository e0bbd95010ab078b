#include "keystream.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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

namespace {

// The bulk path works on whole "blocks": from a state s at or below the threshold the chain
// multiplies once (23s above the threshold) or twice (s <= kOneMultiplyFloor, 529s above the
// threshold) and then divides once, which brings it back to or below the threshold. A block
// therefore ends where it began, at a state that is next multiplied, and its last state is
// floor(23x / 29) with x = s or x = 23s, both at most the threshold.
constexpr uint64_t kOneMultiplyFloor = kKeystreamThreshold / 23;
// Below this, 529s stays under the threshold and the chain multiplies three times or more; such
// states occur only after seeding with a small key and are stepped one at a time.
constexpr uint64_t kTwoMultiplyFloor = kKeystreamThreshold / 529;

// States produced per round of the bulk loop; the buffer holds two more for a block's overrun.
// A short round lets the processor overlap one round's nibble sums with the next one's chain.
constexpr size_t kRoundStates = 64;

uint64_t Step(uint64_t state) {
  return state > kKeystreamThreshold ? state / 29 : state * 23;
}

// floor(23x / 29) for x <= kKeystreamThreshold, the multiplication and division of one block.
uint64_t MultiplyThenDivide(uint64_t x) {
#if defined(__SIZEOF_INT128__)
  // One multiply-high by ceil(23 * 2^64 / 29). The reciprocal's excess over the exact value
  // adds less than x / 2^64 < 1/29 to the quotient, which never carries past the floor because
  // the exact quotient's fraction is at most 28/29.
  constexpr uint64_t kReciprocal = 0xCB08D3DCB08D3DCCULL;
  return static_cast<uint64_t>((static_cast<unsigned __int128>(x) * kReciprocal) >> 64);
#else
  return x * 23 / 29;  // 23x stays below 2^64 for x at or below the threshold
#endif
}

uint8_t NibbleSum(uint64_t state) {
  uint64_t low = state & 0x0F0F0F0F0F0F0F0FULL;
  uint64_t high = (state >> 4) & 0x0F0F0F0F0F0F0F0FULL;
  // Each byte of low + high is at most 30; multiplying by 0x0101... sums all eight into the top byte.
  return static_cast<uint8_t>(((low + high) * 0x0101010101010101ULL) >> 56);
}

// Writes the next `count` states after *state into states[0, count) and leaves *state at the
// last of them. states must have room for count + 2 entries (a block may run two past the end).
void NextStates(uint64_t* state, uint64_t* states, size_t count) {
  uint64_t s = *state;
  size_t i = 0;
  // A state above the threshold, or one small enough to need three multiplications, is stepped
  // singly until it reaches a block start. The zero state never does and stays zero.
  while (i < count && (s <= kTwoMultiplyFloor || s > kKeystreamThreshold)) {
    s = Step(s);
    states[i++] = s;
  }
  while (i < count) {
    uint64_t once = s * 23;
    states[i] = once;
    if (s > kOneMultiplyFloor) {
      s = MultiplyThenDivide(s);
      states[i + 1] = s;
      i += 2;
    } else {
      states[i + 1] = once * 23;
      s = MultiplyThenDivide(once);
      states[i + 2] = s;
      i += 3;
    }
  }
  *state = states[count - 1];
}

// Each level writes the nibble sum of each of `count` states to bytes[0, count).
using NibbleSumsFunction = void (*)(const uint64_t* states, uint8_t* bytes, size_t count);

void PlainNibbleSums(const uint64_t* states, uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = NibbleSum(states[i]);
}

#if defined(__SSE2__)
void Sse2NibbleSums(const uint64_t* states, uint8_t* bytes, size_t count) {
  const __m128i nibble_mask = _mm_set1_epi8(0x0F);
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i sums[8];
    for (int pair = 0; pair < 8; ++pair) {
      __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(states + i + 2 * pair));
      __m128i digits = _mm_add_epi8(_mm_and_si128(two, nibble_mask),
                                    _mm_and_si128(_mm_srli_epi64(two, 4), nibble_mask));
      // Sums the eight bytes of each state into the low 16 bits of its 64-bit lane.
      sums[pair] = _mm_sad_epu8(digits, zero);
    }
    // Each 32-bit lane holds one sum or zero; two signed packs gather the sixteen sums in order
    // into 16-bit lanes (no sum exceeds 240, so nothing saturates), the unsigned pack into bytes.
    __m128i quarter0 = _mm_packs_epi32(sums[0], sums[1]);
    __m128i quarter1 = _mm_packs_epi32(sums[2], sums[3]);
    __m128i quarter2 = _mm_packs_epi32(sums[4], sums[5]);
    __m128i quarter3 = _mm_packs_epi32(sums[6], sums[7]);
    __m128i half0 = _mm_packs_epi32(quarter0, quarter1);
    __m128i half1 = _mm_packs_epi32(quarter2, quarter3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i), _mm_packus_epi16(half0, half1));
  }
  PlainNibbleSums(states + i, bytes + i, count - i);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define VEXLOR_KEYSTREAM_AVX512 1
__attribute__((target("avx512f,avx512bw"))) void Avx512NibbleSums(const uint64_t* states,
                                                                   uint8_t* bytes, size_t count) {
  const __m512i nibble_mask = _mm512_set1_epi8(0x0F);
  const __m512i zero = _mm512_setzero_si512();
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m512i eight = _mm512_loadu_si512(states + i);
    // The zero-masking forms with a full mask are the plain instructions; GCC 12 warns about
    // the unmasked intrinsics' undefined pass-through operand.
    __m512i high = _mm512_maskz_srli_epi64(0xFF, eight, 4);
    __m512i digits = _mm512_add_epi8(_mm512_and_si512(eight, nibble_mask),
                                     _mm512_and_si512(high, nibble_mask));
    // One sum per 64-bit lane, then each lane narrowed to its low byte.
    __m128i sums = _mm512_maskz_cvtepi64_epi8(0xFF, _mm512_sad_epu8(digits, zero));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + i), sums);
  }
  PlainNibbleSums(states + i, bytes + i, count - i);
}
#endif

NibbleSumsFunction SumsForLevel(int level) {
  switch (level) {
    case 0:
      return PlainNibbleSums;
#if defined(__SSE2__)
    case 1:
      return Sse2NibbleSums;
#endif
#if defined(VEXLOR_KEYSTREAM_AVX512)
    case 2:
      __builtin_cpu_init();
      if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) return Avx512NibbleSums;
      return nullptr;
#endif
    default:
      return nullptr;
  }
}

// Chosen on first use rather than by a static initialiser, which could run after another
// file's initialiser has already enciphered something.
NibbleSumsFunction g_nibbleSums = nullptr;

// Adds (or subtracts) the next `count` keystream bytes to data, advancing *state past them.
void Combine(uint64_t* state, uint8_t* data, size_t count, bool subtract) {
  if (g_nibbleSums == nullptr) g_nibbleSums = SumsForLevel(BestKeystreamSumLevel());
  uint64_t states[kRoundStates + 2];
  uint8_t bytes[kRoundStates];
  while (count > 0) {
    size_t round = count < kRoundStates ? count : kRoundStates;
    if (*state == 0) return;  // the zero state stays zero and adds nothing
    NextStates(state, states, round);
    g_nibbleSums(states, bytes, round);
    if (subtract) {
      for (size_t i = 0; i < round; ++i) data[i] = static_cast<uint8_t>(data[i] - bytes[i]);
    } else {
      for (size_t i = 0; i < round; ++i) data[i] = static_cast<uint8_t>(data[i] + bytes[i]);
    }
    data += round;
    count -= round;
  }
}

}  // namespace

uint8_t Keystream::NextByte() {
  state_ = Step(state_);
  return NibbleSum(state_);
}

void Keystream::Encipher(uint8_t* data, size_t count) { Combine(&state_, data, count, false); }

void Keystream::Decipher(uint8_t* data, size_t count) { Combine(&state_, data, count, true); }

bool SelectKeystreamSumLevel(int level) {
  NibbleSumsFunction sums = SumsForLevel(level);
  if (sums == nullptr) return false;
  g_nibbleSums = sums;
  return true;
}

int BestKeystreamSumLevel() {
  for (int level = 2; level > 0; --level) {
    if (SumsForLevel(level) != nullptr) return level;
  }
  return 0;
}

}  // namespace vexlor
