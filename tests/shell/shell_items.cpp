#include "shell_items.h"

#include <shlobj.h>

namespace vexlor_test {
namespace {

std::wstring Wide(const std::string& text) {
  wchar_t buffer[MAX_PATH * 2];
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer, MAX_PATH * 2);
  return n > 0 ? std::wstring(buffer) : std::wstring();
}

}  // namespace

ScratchFolder::ScratchFolder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH];
  wsprintfA(name, "%svexlor-shell-%lu-%lu", temp, GetCurrentProcessId(), GetTickCount());
  CreateDirectoryA(name, nullptr);
  path_ = name;
}

ScratchFolder::~ScratchFolder() {
  for (const std::string& file : files_) DeleteFileA(file.c_str());
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryA(it->c_str());
  RemoveDirectoryA(path_.c_str());
}

std::string ScratchFolder::AddFile(const std::string& name) {
  std::string full = path_ + "\\" + name;
  HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, "data", 4, &written, nullptr);
    CloseHandle(file);
  }
  files_.push_back(full);
  return full;
}

std::string ScratchFolder::AddFolder(const std::string& name) {
  std::string full = path_ + "\\" + name;
  CreateDirectoryA(full.c_str(), nullptr);
  folders_.push_back(full);
  return full;
}

IDataObject* ShellDataObject(const std::string& folder, const std::vector<std::string>& names) {
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop))) return nullptr;

  IDataObject* data = nullptr;
  IShellFolder* parent = nullptr;
  LPITEMIDLIST folderList = nullptr;
  std::wstring wideFolder = Wide(folder);
  std::vector<LPITEMIDLIST> children;
  if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, &wideFolder[0], nullptr,
                                          &folderList, nullptr)) &&
      SUCCEEDED(desktop->BindToObject(folderList, nullptr, IID_IShellFolder,
                                      reinterpret_cast<void**>(&parent)))) {
    bool parsed = true;
    for (const std::string& name : names) {
      std::wstring wideName = Wide(name);
      LPITEMIDLIST child = nullptr;
      if (FAILED(parent->ParseDisplayName(nullptr, nullptr, &wideName[0], nullptr, &child,
                                          nullptr))) {
        parsed = false;
        break;
      }
      children.push_back(child);
    }
    if (parsed) {
      parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()),
                            const_cast<LPCITEMIDLIST*>(children.data()), IID_IDataObject,
                            nullptr, reinterpret_cast<void**>(&data));
    }
  }

  for (LPITEMIDLIST child : children) CoTaskMemFree(child);
  if (parent != nullptr) parent->Release();
  CoTaskMemFree(folderList);
  desktop->Release();
  return data;
}

}  // namespace vexlor_test
