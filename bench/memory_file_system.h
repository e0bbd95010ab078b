// In-memory files for the benchmarks, so that they time the engine and not the disk.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "file_system.h"

namespace vexlor {
namespace bench {

using Bytes = std::vector<uint8_t>;

// Reads a byte vector from its start; Seek may go anywhere up to its end.
class MemoryReadStream : public ByteStream {
 public:
  explicit MemoryReadStream(const Bytes& bytes) : bytes_(bytes) {}
  size_t Read(uint8_t* buffer, size_t size) override;
  size_t Write(const uint8_t*, size_t) override { return 0; }
  bool Seek(uint64_t offset) override;
  bool ReadFailed() const override { return false; }

 private:
  const Bytes& bytes_;
  size_t position_ = 0;
};

// Appends to a byte vector (cleared first); reading is not supported.
class MemoryWriteStream : public ByteStream {
 public:
  explicit MemoryWriteStream(Bytes* bytes) : bytes_(bytes) { bytes_->clear(); }
  size_t Read(uint8_t*, size_t) override { return 0; }
  size_t Write(const uint8_t* data, size_t size) override;
  bool Seek(uint64_t offset) override { return offset == bytes_->size(); }
  bool ReadFailed() const override { return false; }

 private:
  Bytes* bytes_;
};

// A flat map from path to file; folders and listings are not needed by the benchmarks. A removed
// file keeps its storage, so that recreating it inside a timed loop allocates nothing.
class MemoryFileSystem : public FileSystem {
 public:
  // Creates the file if needed; the caller fills the bytes.
  Bytes& File(const std::string& path);
  bool Has(const std::string& path) const;

  char Separator() const override { return '\\'; }
  std::unique_ptr<ByteStream> OpenRead(const char* path) override;
  std::unique_ptr<ByteStream> CreateWrite(const char* path) override;
  bool ReadAttributes(const char* path, uint32_t* attributes) override;
  bool ReadSize(const char* path, uint64_t* size) override;
  bool WriteAttributes(const char* path, uint32_t attributes) override;
  bool RemoveFile(const char* path) override;
  std::unique_ptr<DirectoryListing> OpenListing(const char*) override { return nullptr; }

 private:
  struct Entry {
    Bytes bytes;
    bool exists = false;
  };
  std::map<std::string, Entry> files_;
};

}  // namespace bench
}  // namespace vexlor
