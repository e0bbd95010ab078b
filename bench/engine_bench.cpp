// Throughput of the engine's hot paths: the keystream one byte at a time and in bulk, the
// stored container loop through ProcessFile, and the codec on generated corpora. Build them
// with the release preset; bench/compare.sh measures the command-line tool on real files.
#include <benchmark/benchmark.h>

#include <cstring>

#include "codec.h"
#include "container.h"
#include "corpus.h"
#include "file_system.h"
#include "keystream.h"
#include "memory_file_system.h"
#include "settings_record.h"

namespace vexlor {
namespace bench {
namespace {

constexpr size_t kTransferSize = 100000;  // the container's buffer: one bulk call per chunk
constexpr size_t kStoredFileSize = 64 << 20;
constexpr size_t kCodecCorpusSize = 2 << 20;
const uint64_t kKey = static_cast<uint64_t>(DerivePasswordKey("benchmark password"));

void KeystreamNextByte(benchmark::State& state) {
  g_keystream.Seed(kKey);
  uint8_t sum = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < kTransferSize; ++i) sum = static_cast<uint8_t>(sum + g_keystream.NextByte());
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}
BENCHMARK(KeystreamNextByte);

// The generator written as one compare, one multiply or divide and one nibble sum per byte:
// the speed the bulk path is measured against.
void KeystreamPlainLoop(benchmark::State& state) {
  static uint8_t buffer[kTransferSize];
  uint64_t s = kKey;
  for (auto _ : state) {
    for (size_t i = 0; i < kTransferSize; ++i) {
      s = s > kKeystreamThreshold ? s / 29 : s * 23;
      uint64_t digits = (s & 0x0F0F0F0F0F0F0F0FULL) + ((s >> 4) & 0x0F0F0F0F0F0F0F0FULL);
      buffer[i] = static_cast<uint8_t>(buffer[i] + ((digits * 0x0101010101010101ULL) >> 56));
    }
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}
BENCHMARK(KeystreamPlainLoop);

void KeystreamEncipher(benchmark::State& state) {
  static uint8_t buffer[kTransferSize];
  g_keystream.Seed(kKey);
  for (auto _ : state) {
    g_keystream.Encipher(buffer, kTransferSize);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}
BENCHMARK(KeystreamEncipher);

void KeystreamDecipher(benchmark::State& state) {
  static uint8_t buffer[kTransferSize];
  g_keystream.Seed(kKey);
  for (auto _ : state) {
    g_keystream.Decipher(buffer, kTransferSize);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}
BENCHMARK(KeystreamDecipher);

// Both stored benchmarks convert one in-memory file back and forth. A converted file's
// storage stays allocated when the engine deletes it, so every round starts by marking the
// source present again, without copying.
const char kPlainPath[] = "C:\\bench\\data.bin";
const char kContainerPath[] = "C:\\bench\\data_bin.vxl";

void PrepareStoredFiles(MemoryFileSystem* files) {
  Bytes& plain = files->File(kPlainPath);
  plain.resize(kStoredFileSize);
  CorpusGenerator(CorpusRandom, 1).Fill(plain.data(), plain.size());
  g_settings.needCompression = 0;
  g_keystream.Seed(kKey);
  ProcessFile(kPlainPath, Encrypt, 0x20);  // leaves the container, storage of both kept
}

void StoredEncrypt(benchmark::State& state) {
  MemoryFileSystem files;
  UseFileSystem(&files);
  PrepareStoredFiles(&files);
  for (auto _ : state) {
    files.File(kPlainPath);
    g_keystream.Seed(kKey);
    if (ProcessFile(kPlainPath, Encrypt, 0x20) != FileDone) state.SkipWithError("encrypting failed");
  }
  UseFileSystem(nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStoredFileSize));
}
BENCHMARK(StoredEncrypt)->Unit(benchmark::kMillisecond);

void StoredDecrypt(benchmark::State& state) {
  MemoryFileSystem files;
  UseFileSystem(&files);
  PrepareStoredFiles(&files);
  Bytes expected(kStoredFileSize);
  CorpusGenerator(CorpusRandom, 1).Fill(expected.data(), expected.size());
  for (auto _ : state) {
    files.File(kContainerPath);
    g_keystream.Seed(kKey);
    if (ProcessFile(kContainerPath, Decrypt, 0x20) != FileDone) state.SkipWithError("decrypting failed");
  }
  if (files.File(kPlainPath) != expected) state.SkipWithError("decrypting gave other bytes");
  UseFileSystem(nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStoredFileSize));
}
BENCHMARK(StoredDecrypt)->Unit(benchmark::kMillisecond);

const Bytes& Corpus(CorpusKind kind) {
  static Bytes corpora[kCorpusKindCount];
  Bytes& corpus = corpora[kind];
  if (corpus.empty()) {
    corpus.resize(kCodecCorpusSize);
    CorpusGenerator(kind, 7).Fill(corpus.data(), corpus.size());
  }
  return corpus;
}

void Compress(benchmark::State& state) {
  CorpusKind kind = static_cast<CorpusKind>(state.range(0));
  state.SetLabel(CorpusName(kind));
  const Bytes& corpus = Corpus(kind);
  Bytes packed;
  packed.reserve(corpus.size() + corpus.size() / 4 + 64);
  for (auto _ : state) {
    MemoryReadStream source(corpus);
    MemoryWriteStream target(&packed);
    g_keystream.Seed(kKey);
    if (CompressFile(source, target) != 0) {
      state.SkipWithError("CompressFile failed (codec not linked?)");
      break;
    }
  }
  state.counters["payload_ratio"] = static_cast<double>(packed.size()) / static_cast<double>(corpus.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.size()));
}
BENCHMARK(Compress)->DenseRange(0, kCorpusKindCount - 1)->Unit(benchmark::kMillisecond);

void Expand(benchmark::State& state) {
  CorpusKind kind = static_cast<CorpusKind>(state.range(0));
  state.SetLabel(CorpusName(kind));
  const Bytes& corpus = Corpus(kind);
  Bytes packed;
  {
    MemoryReadStream source(corpus);
    MemoryWriteStream target(&packed);
    g_keystream.Seed(kKey);
    if (CompressFile(source, target) != 0) {
      state.SkipWithError("CompressFile failed (codec not linked?)");
      return;
    }
  }
  Bytes unpacked;
  unpacked.reserve(corpus.size());
  for (auto _ : state) {
    MemoryReadStream source(packed);
    MemoryWriteStream target(&unpacked);
    g_keystream.Seed(kKey);
    if (ExpandFile(source, target) != 0) {
      state.SkipWithError("ExpandFile failed");
      break;
    }
  }
  if (unpacked != corpus) state.SkipWithError("expanding gave other bytes");
  // Counted in plain bytes produced, as the decrypt rate of a compressed container is quoted.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.size()));
}
BENCHMARK(Expand)->DenseRange(0, kCorpusKindCount - 1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
}  // namespace vexlor

BENCHMARK_MAIN();
