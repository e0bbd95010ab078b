// Reproducible input data for the benchmarks: the same kind, seed and size always give the
// same bytes, on every machine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexlor {
namespace bench {

enum CorpusKind : int {
  CorpusText = 0,    // English-like prose: words, punctuation, lines and paragraphs
  CorpusBinary = 1,  // table-like records: counters, small numbers, padding, repeated tags
  CorpusRandom = 2,  // uniformly random bytes
  CorpusRuns = 3,    // runs of one byte value, a few to a few hundred bytes long
};

constexpr int kCorpusKindCount = 4;

const char* CorpusName(CorpusKind kind);
// Parses "text", "binary", "random" or "runs"; false for anything else.
bool ParseCorpusKind(const char* name, CorpusKind* kind);

// Fills out[0, size) with the corpus. Generating in pieces gives the same bytes as in one go
// only from the same generator, so callers keep one CorpusGenerator per corpus.
class CorpusGenerator {
 public:
  CorpusGenerator(CorpusKind kind, uint64_t seed);
  void Fill(uint8_t* out, size_t size);

 private:
  uint64_t NextRandom();
  void Refill();  // produces the next piece of the corpus into pending_

  size_t PickWordRank();

  CorpusKind kind_;
  uint64_t random_;
  bool sentenceStart_ = true;  // text: capitalise the next word
  // text: the ranks of recent words, from which phrases are repeated as in real prose
  uint16_t history_[4096] = {};
  size_t historyCount_ = 0;
  size_t phraseFrom_ = 0;
  int phraseLeft_ = 0;
  uint64_t record_ = 0;  // binary: record number
  int column_ = 0;       // text: characters on the current line
  uint8_t pending_[512];
  size_t pendingLength_ = 0;
  size_t pendingAt_ = 0;
};

}  // namespace bench
}  // namespace vexlor
