// Self-registration: one table of registry rows, written forward and removed in reverse.
#pragma once

#include <windows.h>

namespace vexlor {

enum class RowArgument { None, ModulePath, ClassId };
enum class RowData { Text, TextModulePath, TextClassId, DwordBrowserFlags, DwordEditFlags };
enum class RowRemoval { DeleteKey, DeleteValue, Nothing };

struct RegistrationRow {
  HKEY root;
  const char* keyFormat;  // may hold one "%s"
  RowArgument keyArgument;
  const char* valueNameFormat;  // "" is the key's default value
  RowArgument valueNameArgument;
  const char* data;  // text, may hold one "%s"; unused for the number kinds
  RowData dataKind;
  RowRemoval removal;
};

constexpr int kRegistrationRows = 13;
extern const RegistrationRow RegistrationTable[kRegistrationRows];

}  // namespace vexlor

extern "C" {
STDAPI DllRegisterServer(void);
STDAPI DllUnregisterServer(void);
void WINAPI UpdateFileExtension(void);
}
