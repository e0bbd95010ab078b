// In-memory streams and sample data for the codec tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codec.h"
#include "file_system.h"
#include "keystream.h"

namespace vexlor {

using Bytes = std::vector<uint8_t>;

// A byte stream over a vector. Reads hand out at most `chunk` bytes at a time (to exercise
// refills); writes fall short once `writeLimit` bytes have been written.
class BufferStream : public ByteStream {
 public:
  explicit BufferStream(Bytes initial = {}, size_t chunk = SIZE_MAX)
      : bytes(std::move(initial)), chunk_(chunk) {}

  size_t Read(uint8_t* buffer, size_t size) override {
    const size_t available = position_ < bytes.size() ? bytes.size() - position_ : 0;
    const size_t count = std::min({size, available, chunk_});
    if (count > 0) std::memcpy(buffer, bytes.data() + position_, count);
    position_ += count;
    return count;
  }

  size_t Write(const uint8_t* data, size_t size) override {
    const size_t room = writeLimit > bytes.size() ? writeLimit - bytes.size() : 0;
    const size_t count = std::min(size, room);
    bytes.insert(bytes.end(), data, data + count);
    return count;
  }

  bool Seek(uint64_t offset) override {
    position_ = static_cast<size_t>(offset);
    return true;
  }

  bool ReadFailed() const override { return false; }

  Bytes bytes;
  size_t writeLimit = SIZE_MAX;

 private:
  size_t chunk_;
  size_t position_ = 0;
};

struct CodecRun {
  int result;
  Bytes output;
};

// Seeds the process-wide keystream with the key, as the walker does per file, and runs the
// codec over the input.
inline CodecRun Compress(const Bytes& plain, PasswordKey key, size_t chunk = SIZE_MAX) {
  BufferStream source(plain, chunk);
  BufferStream target;
  g_keystream.Seed(static_cast<uint64_t>(key));
  const int result = CompressFile(source, target);
  return {result, target.bytes};
}

inline CodecRun Expand(const Bytes& payload, PasswordKey key, size_t chunk = SIZE_MAX) {
  BufferStream source(payload, chunk);
  BufferStream target;
  g_keystream.Seed(static_cast<uint64_t>(key));
  const int result = ExpandFile(source, target);
  return {result, target.bytes};
}

// A small xorshift generator, so that every run sees the same data.
class SampleRandom {
 public:
  explicit SampleRandom(uint64_t seed) : state_(seed | 1) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }

 private:
  uint64_t state_;
};

inline Bytes RandomBytes(size_t size, uint64_t seed) {
  SampleRandom random(seed);
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = random.Byte();
  return bytes;
}

// Words of a small vocabulary with a skewed choice, spaces and line ends: compresses well,
// with matches of every length and distance.
inline Bytes TextLikeBytes(size_t size, uint64_t seed) {
  static const char* const kWords[] = {"the",    "container", "of",     "a",      "keystream",
                                       "byte",   "ring",      "match",  "tree",   "symbol",
                                       "length", "position",  "encrypt", "folder", "Vexlor"};
  SampleRandom random(seed);
  std::string text;
  while (text.size() < size) {
    const uint64_t pick = random.Next();
    const size_t word = (pick % 4 == 0) ? (pick >> 8) % 15 : (pick >> 8) % 4;
    text += kWords[word];
    text += (pick >> 40) % 11 == 0 ? ".\r\n" : " ";
  }
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

// Runs of varying byte values and lengths, some longer than the lookahead.
inline Bytes RunBytes(size_t size, uint64_t seed) {
  SampleRandom random(seed);
  Bytes bytes;
  while (bytes.size() < size) {
    const uint8_t value = random.Byte() & 0x0F;
    const size_t run = 1 + random.Next() % 150;
    bytes.insert(bytes.end(), std::min(run, size - bytes.size()), value);
  }
  return bytes;
}

inline Bytes SpaceBytes(size_t size, uint64_t) { return Bytes(size, 0x20); }

struct Content {
  const char* name;
  Bytes (*make)(size_t size, uint64_t seed);
};

}  // namespace vexlor
