// Real files and folders and the data object that the system's shell hands out for them.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

namespace vexlor_test {

// A fresh folder under the temporary folder, with everything in it removed at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string AddFile(const std::string& name);    // returns the full path
  std::string AddFolder(const std::string& name);  // returns the full path

 private:
  std::string path_;
  std::vector<std::string> files_;
  std::vector<std::string> folders_;
};

// Asks the shell's folder object of `folder` for IDataObject over the named items, as the file
// manager does for a right-click. Null when the shell refuses.
IDataObject* ShellDataObject(const std::string& folder, const std::vector<std::string>& names);

// Makes COM available on the calling thread for the life of the object.
class ComApartment {
 public:
  ComApartment() { CoInitialize(nullptr); }
  ~ComApartment() { CoUninitialize(); }
};

}  // namespace vexlor_test
