// The file-system seam on Windows: the ANSI file API, byte for byte, no text translation.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

#include "file_system.h"

namespace vexlor {

namespace {

// ReadFile and WriteFile take 32-bit counts; larger requests are split.
constexpr size_t kLargestTransfer = 0x40000000;

class Win32ByteStream : public ByteStream {
 public:
  explicit Win32ByteStream(HANDLE file) : file_(file) {}
  ~Win32ByteStream() override { Close(); }

  size_t Read(uint8_t* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      DWORD asked = static_cast<DWORD>(size - done < kLargestTransfer ? size - done : kLargestTransfer);
      DWORD got = 0;
      if (!ReadFile(file_, buffer + done, asked, &got, nullptr)) {
        readFailed_ = true;
        break;
      }
      if (got == 0) break;  // end of the file
      done += got;
    }
    return done;
  }

  size_t Write(const uint8_t* data, size_t size) override {
    size_t done = 0;
    while (done < size) {
      DWORD asked = static_cast<DWORD>(size - done < kLargestTransfer ? size - done : kLargestTransfer);
      DWORD put = 0;
      if (!WriteFile(file_, data + done, asked, &put, nullptr) || put == 0) break;
      done += put;
    }
    return done;
  }

  bool Seek(uint64_t offset) override {
    LONG high = static_cast<LONG>(offset >> 32);
    DWORD low = SetFilePointer(file_, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
  }

  bool ReadFailed() const override { return readFailed_; }

  bool Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return true;
    BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE file_;
  bool readFailed_ = false;
};

class Win32DirectoryListing : public DirectoryListing {
 public:
  Win32DirectoryListing(HANDLE search, const WIN32_FIND_DATAA& first)
      : search_(search), entry_(first) {}
  ~Win32DirectoryListing() override { FindClose(search_); }

  bool Next(char* name, size_t size) override {
    // FindFirstFileA has already delivered the first entry.
    while (havePending_ || FindNextFileA(search_, &entry_)) {
      havePending_ = false;
      size_t length = strlen(entry_.cFileName);
      if (length < size) {
        memcpy(name, entry_.cFileName, length + 1);
        return true;
      }
    }
    return false;
  }

 private:
  HANDLE search_;
  WIN32_FIND_DATAA entry_;
  bool havePending_ = true;
};

class Win32FileSystem : public FileSystem {
 public:
  char Separator() const override { return '\\'; }

  std::unique_ptr<ByteStream> OpenRead(const char* path) override {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32ByteStream>(file);
  }

  std::unique_ptr<ByteStream> CreateWrite(const char* path) override {
    // Windows refuses to overwrite a hidden or system file unless the same bits are asked for.
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    DWORD existing = GetFileAttributesA(path);
    if (existing != INVALID_FILE_ATTRIBUTES) {
      DWORD kept = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      if (kept != 0) flags = kept;
    }
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32ByteStream>(file);
  }

  bool ReadAttributes(const char* path, uint32_t* attributes) override {
    DWORD found = GetFileAttributesA(path);
    if (found == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = found;
    return true;
  }

  bool ReadSize(const char* path, uint64_t* size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
  }

  bool WriteAttributes(const char* path, uint32_t attributes) override {
    return SetFileAttributesA(path, attributes) != 0;
  }

  bool RemoveFile(const char* path) override { return DeleteFileA(path) != 0; }

  std::unique_ptr<DirectoryListing> OpenListing(const char* folder) override {
    char pattern[MAX_PATH * 2];
    size_t length = strlen(folder);
    if (length + 3 > sizeof pattern) return nullptr;
    memcpy(pattern, folder, length);
    memcpy(pattern + length, "\\*", 3);
    WIN32_FIND_DATAA first;
    HANDLE search = FindFirstFileA(pattern, &first);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32DirectoryListing>(search, first);
  }
};

Win32FileSystem g_win32FileSystem;

}  // namespace

FileSystem& PlatformFileSystem() { return g_win32FileSystem; }

}  // namespace vexlor
