// The platform's file system as the vexlor tool hands it to the engine: it notes every file
// that could not be opened for reading and every target that could not be created. The walk
// passes over those without a word (for the file manager a file locked by another program is
// no error), but a command line that ends with success while a named file stayed as it was
// would mislead; the tool reports each one and ends with a failure status.
#pragma once

#include "file_system.h"
#include "job_reporter.h"

namespace vexlor {

class WatchedFileSystem : public FileSystem {
 public:
  WatchedFileSystem(FileSystem& inner, JobReporter& reporter) : inner_(inner), reporter_(reporter) {}

  // Files left as they were because they, or their targets, could not be opened.
  int openFailures = 0;

  char Separator() const override { return inner_.Separator(); }
  std::unique_ptr<ByteStream> OpenRead(const char* path) override;
  std::unique_ptr<ByteStream> CreateWrite(const char* path) override;
  bool ReadAttributes(const char* path, uint32_t* attributes) override {
    return inner_.ReadAttributes(path, attributes);
  }
  bool ReadSize(const char* path, uint64_t* size) override { return inner_.ReadSize(path, size); }
  bool WriteAttributes(const char* path, uint32_t attributes) override {
    return inner_.WriteAttributes(path, attributes);
  }
  bool RemoveFile(const char* path) override { return inner_.RemoveFile(path); }
  std::unique_ptr<DirectoryListing> OpenListing(const char* folder) override {
    return inner_.OpenListing(folder);
  }

 private:
  void Report(const char* format, const char* path);

  FileSystem& inner_;
  JobReporter& reporter_;
};

}  // namespace vexlor
