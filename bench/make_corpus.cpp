// Writes a generated corpus file for bench/compare.sh: make_corpus KIND SIZE PATH, where KIND
// is text, binary, random or runs and SIZE is a byte count with an optional K, M or G suffix.
#include <cstdio>
#include <cstdlib>

#include "corpus.h"

int main(int argc, char** argv) {
  using namespace vexlor::bench;
  CorpusKind kind;
  if (argc != 4 || !ParseCorpusKind(argv[1], &kind)) {
    fprintf(stderr, "usage: make_corpus text|binary|random|runs SIZE[K|M|G] PATH\n");
    return 2;
  }
  char* end = nullptr;
  unsigned long long size = strtoull(argv[2], &end, 10);
  switch (*end) {
    case 'K': size <<= 10; break;
    case 'M': size <<= 20; break;
    case 'G': size <<= 30; break;
    case '\0': break;
    default:
      fprintf(stderr, "make_corpus: bad size %s\n", argv[2]);
      return 2;
  }
  FILE* out = fopen(argv[3], "wb");
  if (out == nullptr) {
    perror(argv[3]);
    return 1;
  }
  static uint8_t buffer[1 << 20];
  CorpusGenerator generator(kind, 7);
  for (unsigned long long left = size; left > 0;) {
    size_t piece = left < sizeof(buffer) ? static_cast<size_t>(left) : sizeof(buffer);
    generator.Fill(buffer, piece);
    if (fwrite(buffer, 1, piece, out) != piece) {
      perror(argv[3]);
      fclose(out);
      return 1;
    }
    left -= piece;
  }
  if (fclose(out) != 0) {
    perror(argv[3]);
    return 1;
  }
  return 0;
}
