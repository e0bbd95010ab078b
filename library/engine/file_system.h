// The file-system seam of the engine: byte streams, attributes, delete and folder listing.
// One implementation calls the Win32 ANSI API, the other POSIX; tests may install their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vexlor {

// Windows file attribute bits the engine looks at; other bits are carried through unchanged.
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;

// Room for one folder entry's name and its NUL (MAX_PATH on Windows).
constexpr size_t kEntryNameSize = 260;

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Returns the number of bytes read; fewer than asked at the end of the file or on an error.
  virtual size_t Read(uint8_t* buffer, size_t size) = 0;
  // Returns the number of bytes written; fewer than asked means the write failed.
  virtual size_t Write(const uint8_t* data, size_t size) = 0;
  // Positions the stream at an absolute offset.
  virtual bool Seek(uint64_t offset) = 0;
  // True once a read has failed; reaching the end of the file is not a failure.
  virtual bool ReadFailed() const = 0;
  // Closes the stream at once. False when the system reports, only now, that written data
  // could not be stored (a full quota on a network share, say). The destructor closes a
  // stream that is still open and ignores the outcome.
  virtual bool Close() { return true; }
};

class DirectoryListing {
 public:
  virtual ~DirectoryListing() = default;
  // Copies the next entry's name (including "." and "..", as the system lists them) and
  // returns true, or returns false when no entries are left. Entry names are at most 255
  // characters on both systems, so a buffer of kEntryNameSize always holds them; a name that
  // does not fit the given buffer is passed over rather than cut short.
  virtual bool Next(char* name, size_t size) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The character placed between a folder path and an entry name.
  virtual char Separator() const = 0;
  // Opens an existing file for reading, byte for byte; null on failure.
  virtual std::unique_ptr<ByteStream> OpenRead(const char* path) = 0;
  // Creates a file for writing, byte for byte, replacing any existing file; null on failure.
  virtual std::unique_ptr<ByteStream> CreateWrite(const char* path) = 0;
  virtual bool ReadAttributes(const char* path, uint32_t* attributes) = 0;
  // The size in bytes of an existing file (for measuring the work before a walk).
  virtual bool ReadSize(const char* path, uint64_t* size) = 0;
  virtual bool WriteAttributes(const char* path, uint32_t attributes) = 0;
  virtual bool RemoveFile(const char* path) = 0;
  // Starts listing every entry of a folder (the Win32 side searches "folder\*"); null on failure.
  virtual std::unique_ptr<DirectoryListing> OpenListing(const char* folder) = 0;
};

// The platform's own file system (Win32 on Windows, POSIX elsewhere).
FileSystem& PlatformFileSystem();

// The file system the engine uses; the platform's unless a test or tool installs another.
FileSystem& CurrentFileSystem();
void UseFileSystem(FileSystem* file_system);  // null restores the platform's

}  // namespace vexlor
