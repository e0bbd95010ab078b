#include "memory_file_system.h"

#include <cstring>

namespace vexlor {
namespace bench {

size_t MemoryReadStream::Read(uint8_t* buffer, size_t size) {
  size_t left = bytes_.size() - position_;
  size_t count = size < left ? size : left;
  if (count > 0) memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  return count;
}

bool MemoryReadStream::Seek(uint64_t offset) {
  if (offset > bytes_.size()) return false;
  position_ = static_cast<size_t>(offset);
  return true;
}

size_t MemoryWriteStream::Write(const uint8_t* data, size_t size) {
  bytes_->insert(bytes_->end(), data, data + size);
  return size;
}

Bytes& MemoryFileSystem::File(const std::string& path) {
  Entry& entry = files_[path];
  entry.exists = true;
  return entry.bytes;
}

bool MemoryFileSystem::Has(const std::string& path) const {
  auto found = files_.find(path);
  return found != files_.end() && found->second.exists;
}

std::unique_ptr<ByteStream> MemoryFileSystem::OpenRead(const char* path) {
  if (!Has(path)) return nullptr;
  return std::make_unique<MemoryReadStream>(files_[path].bytes);
}

std::unique_ptr<ByteStream> MemoryFileSystem::CreateWrite(const char* path) {
  return std::make_unique<MemoryWriteStream>(&File(path));  // clears, keeps the capacity
}

bool MemoryFileSystem::ReadAttributes(const char* path, uint32_t* attributes) {
  if (!Has(path)) return false;
  *attributes = 0x20;
  return true;
}

bool MemoryFileSystem::ReadSize(const char* path, uint64_t* size) {
  if (!Has(path)) return false;
  *size = files_[path].bytes.size();
  return true;
}

bool MemoryFileSystem::WriteAttributes(const char* path, uint32_t) { return Has(path); }

bool MemoryFileSystem::RemoveFile(const char* path) {
  if (!Has(path)) return false;
  files_[path].exists = false;
  return true;
}

}  // namespace bench
}  // namespace vexlor
