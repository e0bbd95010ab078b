#include "corpus.h"

#include <cstdio>
#include <cstring>

namespace vexlor {
namespace bench {

namespace {

// Common English words, most frequent first; the text corpus draws early ones more often.
const char* const kWords[] = {
    "the",      "of",       "and",     "to",      "a",        "in",       "is",      "it",
    "that",     "was",      "for",     "on",      "are",      "with",     "as",      "his",
    "they",     "be",       "at",      "one",     "have",     "this",     "from",    "or",
    "had",      "by",       "word",    "but",     "what",     "some",     "we",      "can",
    "out",      "other",    "were",    "all",     "there",    "when",     "up",      "use",
    "your",     "how",      "said",    "each",    "she",      "which",    "their",   "time",
    "will",     "way",      "about",   "many",    "then",     "them",     "would",   "write",
    "like",     "so",       "these",   "her",     "long",     "make",     "thing",   "see",
    "him",      "two",      "has",     "look",    "more",     "day",      "could",   "go",
    "come",     "did",      "number",  "sound",   "no",       "most",     "people",  "my",
    "over",     "know",     "water",   "than",    "call",     "first",    "who",     "may",
    "down",     "side",     "been",    "now",     "find",     "any",      "new",     "work",
    "part",     "take",     "get",     "place",   "made",     "live",     "where",   "after",
    "back",     "little",   "only",    "round",   "man",      "year",     "came",    "show",
    "every",    "good",     "me",      "give",    "our",      "under",    "name",    "very",
    "through",  "just",     "form",    "sentence", "great",   "think",    "say",     "help",
    "low",      "line",     "differ",  "turn",    "cause",    "much",     "mean",    "before",
    "move",     "right",    "boy",     "old",     "too",      "same",     "tell",    "does",
    "set",      "three",    "want",    "air",     "well",     "also",     "play",    "small",
    "end",      "put",      "home",    "read",    "hand",     "port",     "large",   "spell",
    "add",      "even",     "land",    "here",    "must",     "big",      "high",    "such",
    "follow",   "act",      "why",     "ask",     "men",      "change",   "went",    "light",
    "kind",     "off",      "need",    "house",   "picture",  "try",      "us",      "again",
    "animal",   "point",    "mother",  "world",   "near",     "build",    "self",    "earth",
    "father",   "head",     "stand",   "own",     "page",     "should",   "country", "found",
    "answer",   "school",   "grow",    "study",   "still",    "learn",    "plant",   "cover",
    "food",     "sun",      "four",    "between", "state",    "keep",     "eye",     "never",
    "last",     "let",      "thought", "city",    "tree",     "cross",    "farm",    "hard",
    "start",    "might",    "story",   "saw",     "far",      "sea",      "draw",    "left",
    "late",     "run",      "while",   "press",   "close",    "night",    "real",    "life",
    "few",      "north",    "open",    "seem",    "together", "next",     "white",   "children",
    "begin",    "got",      "walk",    "example", "ease",     "paper",    "group",   "always",
};
constexpr size_t kCommonWordCount = sizeof(kWords) / sizeof(kWords[0]);
constexpr int kLineLength = 72;

// The text corpus draws from a vocabulary of the common words followed by made-up words built
// from syllables, with a Zipf-like rank distribution (rank r weighs 1 / (r + 1)), so that its
// word statistics and compressibility are close to those of real prose.
constexpr size_t kVocabularySize = 8192;
constexpr size_t kLongestWord = 16;

struct Vocabulary {
  char words[kVocabularySize][kLongestWord + 1];
  uint64_t cumulativeWeight[kVocabularySize];  // integer weights: the same on every machine
};

const Vocabulary& TheVocabulary() {
  static Vocabulary vocabulary;
  static bool built = false;
  if (built) return vocabulary;
  static const char* const kOnsets[] = {"b", "c", "d", "f", "g", "h", "l", "m", "n", "p", "r",
                                        "s", "t", "v", "w", "st", "tr", "ch", "sh", "pr"};
  static const char* const kNuclei[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai"};
  static const char* const kCodas[] = {"", "", "n", "r", "s", "t", "l", "nd", "ng", "st"};
  uint64_t x = 0x853C49E6748FEA9BULL;
  uint64_t total = 0;
  for (size_t rank = 0; rank < kVocabularySize; ++rank) {
    char* word = vocabulary.words[rank];
    if (rank < kCommonWordCount) {
      strcpy(word, kWords[rank]);
    } else {
      word[0] = '\0';
      x = x * 6364136223846793005ULL + 1442695040888963407ULL;
      int syllables = 1 + static_cast<int>((x >> 60) % 3);
      for (int k = 0; k < syllables; ++k) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        const char* parts[] = {kOnsets[(x >> 33) % 20], kNuclei[(x >> 41) % 8], kCodas[(x >> 49) % 10]};
        for (const char* part : parts) {
          if (strlen(word) + strlen(part) <= kLongestWord) strcat(word, part);
        }
      }
    }
    total += (1ULL << 32) / (rank + 1);
    vocabulary.cumulativeWeight[rank] = total;
  }
  built = true;
  return vocabulary;
}

}  // namespace

const char* CorpusName(CorpusKind kind) {
  switch (kind) {
    case CorpusText:
      return "text";
    case CorpusBinary:
      return "binary";
    case CorpusRandom:
      return "random";
    case CorpusRuns:
      return "runs";
  }
  return "?";
}

bool ParseCorpusKind(const char* name, CorpusKind* kind) {
  for (int k = 0; k < kCorpusKindCount; ++k) {
    if (strcmp(name, CorpusName(static_cast<CorpusKind>(k))) == 0) {
      *kind = static_cast<CorpusKind>(k);
      return true;
    }
  }
  return false;
}

CorpusGenerator::CorpusGenerator(CorpusKind kind, uint64_t seed)
    : kind_(kind), random_(seed * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL) {}

size_t CorpusGenerator::PickWordRank() {
  const Vocabulary& vocabulary = TheVocabulary();
  uint64_t pick = NextRandom() % vocabulary.cumulativeWeight[kVocabularySize - 1];
  size_t low = 0;
  size_t high = kVocabularySize - 1;
  while (low < high) {  // the first rank whose cumulative weight exceeds the pick
    size_t middle = (low + high) / 2;
    if (vocabulary.cumulativeWeight[middle] > pick) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

uint64_t CorpusGenerator::NextRandom() {
  // xorshift64*: fast, and the same sequence everywhere.
  random_ ^= random_ >> 12;
  random_ ^= random_ << 25;
  random_ ^= random_ >> 27;
  return random_ * 0x2545F4914F6CDD1DULL;
}

void CorpusGenerator::Refill() {
  pendingLength_ = 0;
  pendingAt_ = 0;
  switch (kind_) {
    case CorpusText: {
      // A word, capitalised at the start of a sentence, then a space or a line end, with
      // punctuation and now and then a number.
      uint64_t r = NextRandom();
      constexpr size_t kHistory = sizeof(history_) / sizeof(history_[0]);
      if (phraseLeft_ == 0 && historyCount_ > 64 && ((r >> 56) & 3) == 0) {
        // Repeat a phrase of 2 to 9 words from the recent text.
        phraseLeft_ = 2 + static_cast<int>((r >> 20) & 7);
        size_t reach = historyCount_ < kHistory ? historyCount_ : kHistory;
        phraseFrom_ = historyCount_ - 1 - static_cast<size_t>((r >> 24) % (reach - 16));
      }
      size_t rank;
      if (phraseLeft_ > 0) {
        rank = history_[phraseFrom_++ % kHistory];
        --phraseLeft_;
      } else {
        rank = PickWordRank();
      }
      history_[historyCount_++ % kHistory] = static_cast<uint16_t>(rank);
      const char* word = TheVocabulary().words[rank];
      size_t length = strlen(word);
      memcpy(pending_, word, length);
      if (sentenceStart_ && pending_[0] >= 'a' && pending_[0] <= 'z') pending_[0] = static_cast<char>(pending_[0] - 32);
      sentenceStart_ = false;
      pendingLength_ = length;
      if ((r & 63) == 0) {
        pendingLength_ += static_cast<size_t>(snprintf(reinterpret_cast<char*>(pending_) + pendingLength_, 16, " %u", static_cast<unsigned>((r >> 8) % 2000)));
      }
      if (((r >> 40) & 15) == 0) {
        pending_[pendingLength_++] = ',';
      } else if (((r >> 44) & 15) == 0) {
        pending_[pendingLength_++] = '.';
        sentenceStart_ = true;
      }
      column_ += static_cast<int>(pendingLength_) + 1;
      if (column_ >= kLineLength) {
        pending_[pendingLength_++] = '\n';
        if (sentenceStart_ && ((r >> 50) & 3) == 0) pending_[pendingLength_++] = '\n';  // paragraph
        column_ = 0;
      } else {
        pending_[pendingLength_++] = ' ';
      }
      break;
    }
    case CorpusBinary: {
      // A 32-byte record: tag, record number, a small measurement, a flag word and padding.
      uint64_t r = NextRandom();
      uint8_t* p = pending_;
      memcpy(p, "REC1", 4);
      for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(record_ >> (8 * i));
      uint32_t measurement = 1000 + static_cast<uint32_t>(r % 97);
      for (int i = 0; i < 4; ++i) p[8 + i] = static_cast<uint8_t>(measurement >> (8 * i));
      p[12] = static_cast<uint8_t>((r >> 20) & 3);
      memset(p + 13, 0, 11);
      for (int i = 0; i < 8; ++i) p[24 + i] = static_cast<uint8_t>(r >> (8 * i));
      if ((r >> 60) != 0) memset(p + 24, 0, 8);  // most records carry no payload bytes
      pendingLength_ = 32;
      ++record_;
      break;
    }
    case CorpusRandom: {
      for (size_t i = 0; i < sizeof(pending_); i += 8) {
        uint64_t r = NextRandom();
        memcpy(pending_ + i, &r, 8);
      }
      pendingLength_ = sizeof(pending_);
      break;
    }
    case CorpusRuns: {
      uint64_t r = NextRandom();
      size_t length = 1 + static_cast<size_t>(r % 300);
      static const uint8_t kValues[] = {0x00, 0x20, 0xFF, 0x41, 0x0A, 0x7F, 0x80, 0x33};
      memset(pending_, kValues[(r >> 32) & 7], length);
      pendingLength_ = length;
      break;
    }
  }
}

void CorpusGenerator::Fill(uint8_t* out, size_t size) {
  while (size > 0) {
    if (pendingAt_ == pendingLength_) Refill();
    size_t take = pendingLength_ - pendingAt_;
    if (take > size) take = size;
    memcpy(out, pending_ + pendingAt_, take);
    pendingAt_ += take;
    out += take;
    size -= take;
  }
}

}  // namespace bench
}  // namespace vexlor
