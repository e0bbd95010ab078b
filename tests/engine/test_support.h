// Fixtures shared by the engine tests: a real temporary folder (with the platform's own
// separator, so Windows runs use backslash paths), an in-memory file system with injectable
// faults, and a reporter that records what the engine tells the job.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "file_system.h"
#include "job_reporter.h"
#include "keystream.h"

namespace vexlor {

// The container bytes the layout prescribes for a plain file, built from the layout table and
// the keystream alone. earlierLayout enciphers the leading "Vexlor" too.
std::string ExpectedContainer(const std::string& password, const std::string& extension,
                              const std::string& content, bool earlierLayout = false);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // The folder's path, the platform's separator and the relative name (whose '/' become
  // separators too).
  std::string Path(const std::string& relative) const;
  void MakeFolder(const std::string& relative) const;
  // Names directly in the folder (or a subfolder), sorted.
  std::vector<std::string> List(const std::string& relative = "") const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void SetReadOnly(const std::string& path, bool readOnly);
bool IsReadOnly(const std::string& path);

// Records every report; cancels once cancelAfterFiles files have been shown (0: never).
class RecordingReporter : public JobReporter {
 public:
  RecordingReporter() { UseReporter(this); }
  ~RecordingReporter() override { UseReporter(nullptr); }

  void ShowCurrentPath(const char* path) override { paths.push_back(path); }
  void AddBytesDone(uint64_t count) override { bytesDone += count; }
  bool CancelRequested() override { return cancelAfterFiles != 0 && paths.size() >= cancelAfterFiles; }
  void ShowMessage(const char* text) override { messages.push_back(text); }

  std::vector<std::string> paths;
  std::vector<std::string> messages;
  uint64_t bytesDone = 0;
  size_t cancelAfterFiles = 0;
};

// An in-memory file system with '\' as separator. Folders are entries with the directory bit;
// listings come in the order the entries were added. Faults are armed per path.
class MemoryFileSystem : public FileSystem {
 public:
  struct Entry {
    std::string bytes;
    uint32_t attributes = 0;
  };
  struct Faults {
    size_t writeLimit = SIZE_MAX;  // a write that would pass this total falls short
    size_t readFailsAt = SIZE_MAX;  // a read that reaches this offset fails there
    bool listingFails = false;
    bool closeFails = false;  // closing reports that written data was not stored
  };

  MemoryFileSystem() { UseFileSystem(this); }
  ~MemoryFileSystem() override { UseFileSystem(nullptr); }

  void AddFile(const std::string& path, const std::string& bytes, uint32_t attributes = 0x20);
  void AddFolder(const std::string& path);
  bool Has(const std::string& path) const { return entries_.count(path) != 0; }
  const Entry& At(const std::string& path) const { return entries_.at(path); }
  std::vector<std::string> Paths() const { return order_; }

  std::map<std::string, Faults> faults;

  char Separator() const override { return '\\'; }
  std::unique_ptr<ByteStream> OpenRead(const char* path) override;
  std::unique_ptr<ByteStream> CreateWrite(const char* path) override;
  bool ReadAttributes(const char* path, uint32_t* attributes) override;
  bool ReadSize(const char* path, uint64_t* size) override;
  bool WriteAttributes(const char* path, uint32_t attributes) override;
  bool RemoveFile(const char* path) override;
  std::unique_ptr<DirectoryListing> OpenListing(const char* folder) override;

 private:
  std::map<std::string, Entry> entries_;
  std::vector<std::string> order_;
};

}  // namespace vexlor
