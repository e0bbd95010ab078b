// The file-system seam on POSIX systems: the native build of the engine, its tests and tools.
// Windows attributes are mapped onto what POSIX has: a folder is 0x10, a file without the
// owner's write permission is read-only (1); every other bit reads as 0 and is ignored on write.
#include "file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexlor {

namespace {

class PosixByteStream : public ByteStream {
 public:
  explicit PosixByteStream(int descriptor) : descriptor_(descriptor) {}
  ~PosixByteStream() override { Close(); }

  size_t Read(uint8_t* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      ssize_t got = read(descriptor_, buffer + done, size - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        readFailed_ = true;
        break;
      }
      if (got == 0) break;  // end of the file
      done += static_cast<size_t>(got);
    }
    return done;
  }

  size_t Write(const uint8_t* data, size_t size) override {
    size_t done = 0;
    while (done < size) {
      ssize_t put = write(descriptor_, data + done, size - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    return done;
  }

  bool Seek(uint64_t offset) override {
    return lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
  }

  bool ReadFailed() const override { return readFailed_; }

  bool Close() override {
    if (descriptor_ < 0) return true;
    int result = close(descriptor_);
    descriptor_ = -1;
    return result == 0;
  }

 private:
  int descriptor_;
  bool readFailed_ = false;
};

class PosixDirectoryListing : public DirectoryListing {
 public:
  explicit PosixDirectoryListing(DIR* directory) : directory_(directory) {}
  ~PosixDirectoryListing() override { closedir(directory_); }

  // Symbolic links are passed over: followed, they would take the walk, which deletes what it
  // converts, out of the selected folder (a link to the home folder, say) or round in a loop.
  bool Next(char* name, size_t size) override {
    while (const dirent* entry = readdir(directory_)) {
      if (IsSymbolicLink(*entry)) continue;
      size_t length = strlen(entry->d_name);
      if (length < size) {
        memcpy(name, entry->d_name, length + 1);
        return true;
      }
    }
    return false;
  }

 private:
  bool IsSymbolicLink(const dirent& entry) const {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_LNK;
    struct stat status;
    return fstatat(dirfd(directory_), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(status.st_mode);
  }

  DIR* directory_;
};

class PosixFileSystem : public FileSystem {
 public:
  char Separator() const override { return '/'; }

  std::unique_ptr<ByteStream> OpenRead(const char* path) override {
    // Only regular files are converted. Opening without blocking keeps a named pipe in a
    // selected folder from stopping the walk until some writer appears; a device would never end.
    int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return nullptr;
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
      close(descriptor);
      return nullptr;
    }
    return std::make_unique<PosixByteStream>(descriptor);
  }

  std::unique_ptr<ByteStream> CreateWrite(const char* path) override {
    // A symbolic link in the target's place could lead back to the source itself; it is not followed.
    int descriptor = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (descriptor < 0) return nullptr;
    return std::make_unique<PosixByteStream>(descriptor);
  }

  bool ReadAttributes(const char* path, uint32_t* attributes) override {
    struct stat status;
    if (stat(path, &status) != 0) return false;
    *attributes = 0;
    if (S_ISDIR(status.st_mode)) *attributes |= kAttributeDirectory;
    if ((status.st_mode & S_IWUSR) == 0) *attributes |= kAttributeReadOnly;
    return true;
  }

  bool ReadSize(const char* path, uint64_t* size) override {
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    *size = static_cast<uint64_t>(status.st_size);
    return true;
  }

  bool WriteAttributes(const char* path, uint32_t attributes) override {
    struct stat status;
    if (stat(path, &status) != 0) return false;
    mode_t mode = status.st_mode & 07777;
    if ((attributes & kAttributeReadOnly) != 0) {
      mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    } else {
      mode |= S_IWUSR;
    }
    return chmod(path, mode) == 0;
  }

  bool RemoveFile(const char* path) override { return unlink(path) == 0; }

  std::unique_ptr<DirectoryListing> OpenListing(const char* folder) override {
    DIR* directory = opendir(folder);
    if (directory == nullptr) return nullptr;
    return std::make_unique<PosixDirectoryListing>(directory);
  }
};

PosixFileSystem g_posixFileSystem;

}  // namespace

FileSystem& PlatformFileSystem() { return g_posixFileSystem; }

}  // namespace vexlor
