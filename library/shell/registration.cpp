#include "registration.h"

#include <olectl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "com_server.h"

namespace vexlor {

const RegistrationRow RegistrationTable[kRegistrationRows] = {
    {HKEY_CLASSES_ROOT, "CLSID\\%s", RowArgument::ClassId, "", RowArgument::None, "Vexlor",
     RowData::Text, RowRemoval::DeleteKey},
    {HKEY_CLASSES_ROOT, "CLSID\\%s\\InprocServer32", RowArgument::ClassId, "", RowArgument::None,
     "%s", RowData::TextModulePath, RowRemoval::DeleteKey},
    {HKEY_CLASSES_ROOT, "CLSID\\%s\\InprocServer32", RowArgument::ClassId, "ThreadingModel",
     RowArgument::None, "Apartment", RowData::Text, RowRemoval::Nothing},
    {HKEY_CLASSES_ROOT, "Directory\\shellex\\ContextMenuHandlers\\Vexlor", RowArgument::None, "",
     RowArgument::None, "%s", RowData::TextClassId, RowRemoval::DeleteKey},
    {HKEY_CLASSES_ROOT, "Folder\\shellex\\ContextMenuHandlers\\Vexlor", RowArgument::None, "",
     RowArgument::None, "%s", RowData::TextClassId, RowRemoval::DeleteKey},
    {HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Vexlor", RowArgument::None, "",
     RowArgument::None, "%s", RowData::TextClassId, RowRemoval::DeleteKey},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
     RowArgument::None, "%s", RowArgument::ClassId, "Vexlor", RowData::Text,
     RowRemoval::DeleteValue},
    {HKEY_CLASSES_ROOT, ".vxl", RowArgument::None, "", RowArgument::None, "Vexlor_File",
     RowData::Text, RowRemoval::DeleteKey},
    {HKEY_CLASSES_ROOT, "Vexlor_File", RowArgument::None, "", RowArgument::None, "", RowData::Text,
     RowRemoval::DeleteKey},
    {HKEY_CLASSES_ROOT, "Vexlor_File", RowArgument::None, "BrowserFlags", RowArgument::None, "",
     RowData::DwordBrowserFlags, RowRemoval::DeleteValue},
    {HKEY_CLASSES_ROOT, "Vexlor_File", RowArgument::None, "EditFlags", RowArgument::None, "",
     RowData::DwordEditFlags, RowRemoval::DeleteValue},
    {HKEY_CLASSES_ROOT, "Vexlor_File\\DefaultIcon", RowArgument::None, "", RowArgument::None,
     "%s,1", RowData::TextModulePath, RowRemoval::DeleteKey},
    {HKEY_CLASSES_ROOT, "Vexlor_File\\shell", RowArgument::None, "", RowArgument::None, "",
     RowData::Text, RowRemoval::DeleteKey},
};

namespace {

constexpr DWORD kBrowserFlags = 8;
constexpr DWORD kEditFlags = 0x10000;
constexpr size_t kNameBufferSize = 520;  // a 259-character path plus the text around it

struct RegistrationTexts {
  char classId[260];
  char modulePath[260];
  bool modulePathKnown;
};

void PrepareTexts(RegistrationTexts* texts) {
  texts->classId[0] = '\0';
  LPOLESTR classIdText = nullptr;
  if (SUCCEEDED(StringFromIID(CLSID_VexlorContextMenu, &classIdText))) {
    WideCharToMultiByte(CP_ACP, 0, classIdText, -1, texts->classId, sizeof(texts->classId),
                        nullptr, nullptr);
    CoTaskMemFree(classIdText);
  }
  DWORD length = GetModuleFileNameA(g_hInstThisDll, texts->modulePath, sizeof(texts->modulePath));
  // A cut path would register a server that does not exist.
  texts->modulePathKnown = length != 0 && length < sizeof(texts->modulePath);
  if (!texts->modulePathKnown) texts->modulePath[0] = '\0';
}

const char* ArgumentText(const RegistrationTexts& texts, RowArgument argument) {
  switch (argument) {
    case RowArgument::ModulePath:
      return texts.modulePath;
    case RowArgument::ClassId:
      return texts.classId;
    case RowArgument::None:
      break;
  }
  return nullptr;
}

// Formats `format` with the argument, or copies it when there is none. False when it does not
// fit the buffer.
bool BuildText(char* out, const char* format, const char* argument) {
  int length = argument != nullptr ? std::snprintf(out, kNameBufferSize, format, argument)
                                   : std::snprintf(out, kNameBufferSize, "%s", format);
  return length >= 0 && static_cast<size_t>(length) < kNameBufferSize;
}

const char* DataArgument(const RegistrationTexts& texts, RowData kind) {
  if (kind == RowData::TextModulePath) return texts.modulePath;
  if (kind == RowData::TextClassId) return texts.classId;
  return nullptr;
}

bool RegisterRow(const RegistrationRow& row, const RegistrationTexts& texts) {
  char keyName[kNameBufferSize];
  char valueName[kNameBufferSize];
  if (!BuildText(keyName, row.keyFormat, ArgumentText(texts, row.keyArgument)) ||
      !BuildText(valueName, row.valueNameFormat, ArgumentText(texts, row.valueNameArgument))) {
    return false;
  }

  char text[kNameBufferSize];
  DWORD number = 0;
  DWORD type = REG_SZ;
  const BYTE* data = reinterpret_cast<const BYTE*>(text);
  DWORD size = 0;
  if (row.dataKind == RowData::DwordBrowserFlags || row.dataKind == RowData::DwordEditFlags) {
    number = row.dataKind == RowData::DwordBrowserFlags ? kBrowserFlags : kEditFlags;
    type = REG_DWORD;
    data = reinterpret_cast<const BYTE*>(&number);
    size = sizeof(number);
  } else {
    if (row.dataKind == RowData::TextModulePath && !texts.modulePathKnown) return false;
    if (!BuildText(text, row.data, DataArgument(texts, row.dataKind))) return false;
    size = static_cast<DWORD>(std::strlen(text) + 1);
  }

  HKEY key = nullptr;
  if (RegCreateKeyExA(row.root, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG status = RegSetValueExA(key, valueName, 0, type, data, size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

// False when something that should be there could not be removed. A value whose key is gone
// has nothing left to remove.
bool UnregisterRow(const RegistrationRow& row, const RegistrationTexts& texts) {
  char keyName[kNameBufferSize];
  if (!BuildText(keyName, row.keyFormat, ArgumentText(texts, row.keyArgument))) return false;

  switch (row.removal) {
    case RowRemoval::DeleteKey:
      return RegDeleteKeyA(row.root, keyName) == ERROR_SUCCESS;
    case RowRemoval::DeleteValue: {
      char valueName[kNameBufferSize];
      if (!BuildText(valueName, row.valueNameFormat,
                     ArgumentText(texts, row.valueNameArgument))) {
        return false;
      }
      HKEY key = nullptr;
      if (RegOpenKeyExA(row.root, keyName, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return true;
      LONG status = RegDeleteValueA(key, valueName);
      RegCloseKey(key);
      return status == ERROR_SUCCESS;
    }
    case RowRemoval::Nothing:
      break;
  }
  return true;
}

}  // namespace
}  // namespace vexlor

using namespace vexlor;

STDAPI DllRegisterServer(void) {
  RegistrationTexts texts;
  PrepareTexts(&texts);
  for (int i = 0; i < kRegistrationRows; ++i) {
    // No roll-back: rows already written stay written.
    if (!RegisterRow(RegistrationTable[i], texts)) return SELFREG_E_CLASS;
  }
  UpdateFileExtension();
  return S_OK;
}

STDAPI DllUnregisterServer(void) {
  RegistrationTexts texts;
  PrepareTexts(&texts);
  HRESULT hr = S_OK;
  // Backwards, so that subkeys go before their parents.
  for (int i = kRegistrationRows - 1; i >= 0; --i) {
    if (!UnregisterRow(RegistrationTable[i], texts)) hr = SELFREG_E_CLASS;
  }
  UpdateFileExtension();
  return hr;
}

void WINAPI UpdateFileExtension(void) {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
