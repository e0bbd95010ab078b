#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vexlor {

namespace fs = std::filesystem;

std::string ExpectedContainer(const std::string& password, const std::string& extension,
                              const std::string& content, bool earlierLayout) {
  std::string plain = "Vexlor of Norvak0\r\n" + extension + "\r\n" + content;
  Keystream keystream;
  keystream.Seed(static_cast<uint64_t>(DerivePasswordKey(password.c_str())));
  std::string stored = plain;
  for (size_t i = earlierLayout ? 0 : 6; i < stored.size(); ++i) {
    stored[i] = static_cast<char>(static_cast<uint8_t>(plain[i]) + keystream.NextByte());
  }
  return stored;
}

static char PlatformSeparator() { return PlatformFileSystem().Separator(); }

TempFolder::TempFolder() {
  static int serial = 0;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("vexlor_engine_test_" + std::to_string(std::rand()) + "_" +
                                 std::to_string(++serial));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      break;
    }
    if (error) ADD_FAILURE() << "cannot create " << candidate.string() << ": " << error.message();
    if (error) break;
  }
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Read-only files cannot be deleted on Windows.
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(path_, error)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

std::string TempFolder::Path(const std::string& relative) const {
  std::string result = path_ + PlatformSeparator() + relative;
  std::replace(result.begin() + static_cast<std::ptrdiff_t>(path_.size()), result.end(), '/',
               PlatformSeparator());
  return result;
}

void TempFolder::MakeFolder(const std::string& relative) const {
  fs::create_directories(Path(relative));
}

std::vector<std::string> TempFolder::List(const std::string& relative) const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(relative.empty() ? path_ : Path(relative))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return fs::exists(path); }

void SetReadOnly(const std::string& path, bool readOnly) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

bool IsReadOnly(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

// ---------------------------------------------------------------------------------------------

namespace {

class MemoryStream : public ByteStream {
 public:
  MemoryStream(std::string* bytes, MemoryFileSystem::Faults faults)
      : bytes_(bytes), faults_(faults) {}

  size_t Read(uint8_t* buffer, size_t size) override {
    size_t available = position_ < bytes_->size() ? bytes_->size() - position_ : 0;
    size_t count = std::min(size, available);
    if (position_ + count > faults_.readFailsAt) {
      count = faults_.readFailsAt > position_ ? faults_.readFailsAt - position_ : 0;
      readFailed_ = true;
    }
    std::copy_n(bytes_->data() + position_, count, buffer);
    position_ += count;
    return count;
  }

  size_t Write(const uint8_t* data, size_t size) override {
    size_t count = std::min(size, faults_.writeLimit - std::min(faults_.writeLimit, written_));
    if (bytes_->size() < position_ + count) bytes_->resize(position_ + count);
    std::copy_n(data, count, &(*bytes_)[position_]);
    position_ += count;
    written_ += count;
    return count;
  }

  bool Seek(uint64_t offset) override {
    position_ = static_cast<size_t>(offset);
    return true;
  }

  bool ReadFailed() const override { return readFailed_; }

  bool Close() override { return !faults_.closeFails; }

 private:
  std::string* bytes_;
  MemoryFileSystem::Faults faults_;
  size_t position_ = 0;
  size_t written_ = 0;
  bool readFailed_ = false;
};

class MemoryListing : public DirectoryListing {
 public:
  explicit MemoryListing(std::vector<std::string> names) : names_(std::move(names)) {}
  bool Next(char* name, size_t size) override {
    while (next_ < names_.size()) {
      const std::string& entry = names_[next_++];
      if (entry.size() < size) {
        std::copy_n(entry.c_str(), entry.size() + 1, name);
        return true;
      }
    }
    return false;
  }

 private:
  std::vector<std::string> names_;
  size_t next_ = 0;
};

}  // namespace

void MemoryFileSystem::AddFile(const std::string& path, const std::string& bytes, uint32_t attributes) {
  if (!Has(path)) order_.push_back(path);
  entries_[path] = Entry{bytes, attributes};
}

void MemoryFileSystem::AddFolder(const std::string& path) {
  if (!Has(path)) order_.push_back(path);
  entries_[path] = Entry{"", kAttributeDirectory};
}

std::unique_ptr<ByteStream> MemoryFileSystem::OpenRead(const char* path) {
  auto found = entries_.find(path);
  if (found == entries_.end() || (found->second.attributes & kAttributeDirectory) != 0) return nullptr;
  return std::make_unique<MemoryStream>(&found->second.bytes, faults[path]);
}

std::unique_ptr<ByteStream> MemoryFileSystem::CreateWrite(const char* path) {
  auto found = entries_.find(path);
  if (found != entries_.end() && (found->second.attributes & (kAttributeDirectory | kAttributeReadOnly)) != 0) {
    return nullptr;
  }
  AddFile(path, "", 0);
  return std::make_unique<MemoryStream>(&entries_[path].bytes, faults[path]);
}

bool MemoryFileSystem::ReadAttributes(const char* path, uint32_t* attributes) {
  auto found = entries_.find(path);
  if (found == entries_.end()) return false;
  *attributes = found->second.attributes;
  return true;
}

bool MemoryFileSystem::ReadSize(const char* path, uint64_t* size) {
  auto found = entries_.find(path);
  if (found == entries_.end()) return false;
  *size = found->second.bytes.size();
  return true;
}

bool MemoryFileSystem::WriteAttributes(const char* path, uint32_t attributes) {
  auto found = entries_.find(path);
  if (found == entries_.end()) return false;
  found->second.attributes = attributes;
  return true;
}

bool MemoryFileSystem::RemoveFile(const char* path) {
  auto found = entries_.find(path);
  if (found == entries_.end() || (found->second.attributes & kAttributeReadOnly) != 0) return false;
  entries_.erase(found);
  order_.erase(std::find(order_.begin(), order_.end(), path));
  return true;
}

std::unique_ptr<DirectoryListing> MemoryFileSystem::OpenListing(const char* folder) {
  if (faults[folder].listingFails) return nullptr;
  std::string prefix = std::string(folder) + '\\';
  std::vector<std::string> names = {".", ".."};
  for (const std::string& path : order_) {
    if (path.compare(0, prefix.size(), prefix) == 0 && path.find('\\', prefix.size()) == std::string::npos) {
      names.push_back(path.substr(prefix.size()));
    }
  }
  return std::make_unique<MemoryListing>(names);
}

}  // namespace vexlor
