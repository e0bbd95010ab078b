// The entry points of the compression codec: the compress and expand loops with their bit
// writer and bit reader. Code bytes pass through the keystream (added on writing, subtracted
// on reading); the 4-byte plain length in front does not.
#include "codec.h"

#include <cstring>

#include "codec_internal.h"
#include "job_reporter.h"
#include "keystream.h"

namespace vexlor {

namespace codec {
int g_longestCodeBits;
}  // namespace codec

using namespace codec;

namespace {

constexpr int kCodecFailed = 3;
constexpr size_t kBufferSize = 1 << 16;

// Process-wide transfer buffers of the codec: source bytes in, code or plain bytes out.
uint8_t g_input[kBufferSize];
uint8_t g_output[kBufferSize];

// ---- Compressing ---------------------------------------------------------------------------

// Hands out the source bytes one at a time from g_input, never more than the length that was
// written in front of the code, and reports each byte after the initial lookahead as done.
struct SourceReader {
  ByteStream* stream;
  uint64_t remaining;  // bytes the length still promises
  size_t position;
  size_t end;
  uint64_t delivered;  // bytes handed out so far
  uint64_t reported;   // bytes of those already added to bytesDone
  bool reporting;      // off while the initial lookahead is read: it counts as 60 in all

  bool Next(uint8_t* byte) {
    if (position == end && !Refill()) return false;
    *byte = g_input[position++];
    ++delivered;
    return true;
  }

  bool Refill() {
    ReportProgress();
    if (remaining == 0) return false;
    const size_t want = remaining < kBufferSize ? static_cast<size_t>(remaining) : kBufferSize;
    end = stream->Read(g_input, want);
    position = 0;
    remaining -= end;
    return end > 0;
  }

  void ReportProgress() {
    if (!reporting) return;
    if (delivered > reported) CurrentReporter().AddBytesDone(delivered - reported);
    reported = delivered;
  }
};

// Packs code bits most significant first and enciphers each finished byte. A failed write
// is remembered and checked once per coded symbol.
struct BitWriter {
  ByteStream* stream;
  uint64_t pending;  // bits waiting to form bytes, at the top
  int pendingBits;   // 0 to 7 between calls
  size_t used;       // bytes of g_output filled
  bool failed;

  // Appends the top `count` bits (1 to 32) of `code`.
  void Put(int count, uint32_t code) {
    pending |= static_cast<uint64_t>(code) << (32 - pendingBits);
    pendingBits += count;
    while (pendingBits >= 8) {
      g_output[used++] = static_cast<uint8_t>(pending >> 56);
      pending <<= 8;
      pendingBits -= 8;
    }
    if (used > kBufferSize - 8) Drain();
  }

  void Drain() {
    g_keystream.Encipher(g_output, used);
    if (!failed && stream->Write(g_output, used) != used) failed = true;
    used = 0;
  }

  // Sends the pending bits, padded with zero bits to a whole byte, and drains the buffer.
  void Flush() {
    if (pendingBits > 0) {
      g_output[used++] = static_cast<uint8_t>(pending >> 56);
      pending = 0;
      pendingBits = 0;
    }
    Drain();
  }
};

BitWriter g_writer;

// The code of a symbol is its path from the root to its leaf, one bit per edge: the parity
// of the node entered. The path is walked from the leaf up, so each bit goes in at the top.
void EncodeSymbol(int symbol) {
  uint32_t code = 0;
  int bits = 0;
  int node = g_model.parent[symbol + kNodes];
  do {
    code = (code >> 1) | (static_cast<uint32_t>(node & 1) << 31);
    ++bits;
    node = g_model.parent[node];
  } while (node != kRoot);
  g_writer.Put(bits, code);
  if (bits > g_longestCodeBits) g_longestCodeBits = bits;
  UpdateModel(symbol);
}

// The prefix code of the upper six bits, then the lower six bits as they are.
void EncodePosition(int position) {
  const int upper = position >> 6;
  const int bits = kPositionTables.codeBits[upper] + 6;
  const uint32_t code = (static_cast<uint32_t>(kPositionTables.code[upper]) << 6) |
                        static_cast<uint32_t>(position & 63);
  g_writer.Put(bits, code << (32 - bits));
}

// ---- Expanding -----------------------------------------------------------------------------

// Keeps enough deciphered code bits at the top of a 64-bit buffer for one symbol and its
// position. Past the last stored byte it supplies zero bits; whether decoding actually used
// any of them is judged from the bits consumed, never from how far it looked ahead.
struct BitReader {
  ByteStream* stream;
  uint64_t bits;        // the next code bits, at the top
  int count;            // valid bits in `bits`
  uint64_t loadedBits;  // bits ever put into `bits`, padding included
  uint64_t realBits;    // bits the source actually held; known once it ended
  bool ended;
  size_t position;
  size_t end;
  uint64_t reportedBytes;

  uint64_t ConsumedBits() const { return loadedBits - static_cast<uint64_t>(count); }
  bool UsedMissingBits() const { return ended && ConsumedBits() > realBits; }

  // Tops the buffer up to at least 57 bits: the longest code word (under 24 bits, as the
  // root count never reaches 0xF000 plus one) and a position (at most 14 bits) fit in that.
  void Refill() {
    while (count <= 56) {
      uint8_t byte = 0;
      if (position < end || Fetch()) byte = g_input[position++];
      bits |= static_cast<uint64_t>(byte) << (56 - count);
      count += 8;
      loadedBits += 8;
    }
  }

  bool Fetch() {
    if (ended) return false;
    ReportProgress();
    end = stream->Read(g_input, kBufferSize);
    position = 0;
    if (end == 0) {
      ended = true;
      realBits = loadedBits;
      return false;
    }
    g_keystream.Decipher(g_input, end);
    return true;
  }

  // Progress counts the fetches of a byte-at-a-time reader that fetches whenever it holds 8
  // bits or fewer; this one reads ahead in blocks, so report as far as the bits consumed show.
  void ReportProgress() {
    const uint64_t done = ConsumedBits() / 8;
    if (done > reportedBytes) CurrentReporter().AddBytesDone(done - reportedBytes);
    reportedBytes = done;
  }

  // After the last symbol a byte-at-a-time reader has fetched one byte beyond every byte
  // whose bits were consumed, end of stream or not.
  void ReportFinalFetches() {
    const uint64_t fetches = 1 + (ConsumedBits() + 7) / 8;
    if (fetches > reportedBytes) CurrentReporter().AddBytesDone(fetches - reportedBytes);
    reportedBytes = fetches;
  }

  int TakeBits(int n) {
    const int value = static_cast<int>(bits >> (64 - n));
    bits <<= n;
    count -= n;
    return value;
  }
};

BitReader g_reader;

int DecodeSymbol() {
  int node = g_model.child[kRoot];
  while (node < kNodes) {
    node += static_cast<int>(g_reader.bits >> 63);
    g_reader.bits <<= 1;
    --g_reader.count;
    node = g_model.child[node];
  }
  const int symbol = node - kNodes;
  UpdateModel(symbol);
  return symbol;
}

int DecodePosition() {
  const int pattern = static_cast<int>(g_reader.bits >> 56);
  const int upper = kPositionTables.decodeValue[pattern];
  const int lower = g_reader.TakeBits(kPositionTables.decodeBits[pattern] + 6) & 63;
  return (upper << 6) | lower;
}

bool WriteOutput(ByteStream& target, size_t count) {
  return target.Write(g_output, count) == count;
}

}  // namespace

int CompressFile(ByteStream& source, ByteStream& target) {
  g_writer = BitWriter{&target, 0, 0, 0, false};
  g_longestCodeBits = 0;

  // The length goes in front, so the source is measured first, from its start whatever
  // position it was left at.
  if (!source.Seek(0)) return kCodecFailed;
  uint64_t length = 0;
  for (size_t n; (n = source.Read(g_input, kBufferSize)) > 0;) length += n;
  if (source.ReadFailed() || length >= kCompressedSizeLimit) return kCodecFailed;
  const uint8_t lengthBytes[4] = {
      static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
      static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
  if (target.Write(lengthBytes, 4) != 4) return kCodecFailed;
  if (length == 0) return 0;
  if (!source.Seek(0)) return kCodecFailed;

  StartModel();
  ResetSearchTrees();
  ResetRing();
  SourceReader reader{&source, length, 0, 0, 0, 0, false};
  int s = 0;
  int r = kFirstWrite;

  int len = 0;
  for (uint8_t byte; len < kLookahead && reader.Next(&byte); ++len) g_ring[r + len] = byte;
  CurrentReporter().AddBytesDone(kLookahead);
  reader.reported = reader.delivered;
  reader.reporting = true;

  for (int i = 1; i <= kLookahead; ++i) InsertString(r - i);
  InsertString(r);
  do {
    int matchLength = g_matchLength;
    if (matchLength > len) matchLength = len;
    if (matchLength <= kThreshold) {
      matchLength = 1;
      EncodeSymbol(g_ring[r]);
    } else {
      EncodeSymbol(matchLength + 256 - kThreshold - 1);
      EncodePosition(g_matchPosition);
    }
    if (g_writer.failed) return kCodecFailed;

    int i = 0;
    for (uint8_t byte; i < matchLength && reader.Next(&byte); ++i) {
      DeleteString(s);
      g_ring[s] = byte;
      if (s < kLookahead - 1) g_ring[s + kRingSize] = byte;
      s = (s + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      InsertString(r);
    }
    for (; i < matchLength; ++i) {
      DeleteString(s);
      s = (s + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      if (--len > 0) InsertString(r);
    }
  } while (len > 0);

  reader.ReportProgress();
  // A source that delivered less than it measured would leave a stream that cannot expand.
  if (reader.delivered != length) return kCodecFailed;
  g_writer.Flush();
  return g_writer.failed ? kCodecFailed : 0;
}

int ExpandFile(ByteStream& source, ByteStream& target) {
  g_reader = BitReader{&source, 0, 0, 0, 0, false, 0, 0, 0};

  // The length is read with the first block; the code bytes behind it are deciphered.
  size_t first = 0;
  while (first < 4) {
    const size_t count = source.Read(g_input + first, kBufferSize - first);
    if (count == 0) return kCodecFailed;
    first += count;
  }
  const uint64_t length = static_cast<uint64_t>(g_input[0]) |
                          static_cast<uint64_t>(g_input[1]) << 8 |
                          static_cast<uint64_t>(g_input[2]) << 16 |
                          static_cast<uint64_t>(g_input[3]) << 24;
  CurrentReporter().AddBytesDone(2);
  if (length == 0) return 0;
  g_keystream.Decipher(g_input + 4, first - 4);
  g_reader.position = 4;
  g_reader.end = first;

  StartModel();
  ResetRing();
  int r = kFirstWrite;
  size_t used = 0;
  uint64_t written = 0;
  while (written < length) {
    if (g_reader.count < 40) g_reader.Refill();
    if (used > kBufferSize - kLookahead) {
      if (!WriteOutput(target, used)) return kCodecFailed;
      used = 0;
    }
    const int symbol = DecodeSymbol();
    if (symbol < 256) {
      if (g_reader.UsedMissingBits()) return kCodecFailed;
      const uint8_t byte = static_cast<uint8_t>(symbol);
      g_output[used++] = byte;
      g_ring[r] = byte;
      r = (r + 1) & kRingMask;
      ++written;
    } else {
      const int position = DecodePosition();
      if (g_reader.UsedMissingBits()) return kCodecFailed;
      const int from = r - position - 1;
      const int count = symbol - (256 - kThreshold - 1);
      // The copy always finishes the match, even past the stated length.
      for (int k = 0; k < count; ++k) {
        const uint8_t byte = g_ring[(from + k) & kRingMask];
        g_output[used++] = byte;
        g_ring[r] = byte;
        r = (r + 1) & kRingMask;
      }
      written += static_cast<uint64_t>(count);
    }
  }
  if (!WriteOutput(target, used)) return kCodecFailed;
  g_reader.ReportFinalFetches();
  return 0;
}

}  // namespace vexlor
