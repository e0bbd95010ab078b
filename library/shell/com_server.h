// The library as a COM in-process server: its module, platform flag, live-object count and the
// one class it serves.
#pragma once

#include <windows.h>

namespace vexlor {

// The class of the context-menu extension; self-registration writes the same value.
// {590362D7-FCE8-4E99-AF8F-71C062573FB9}
extern const CLSID CLSID_VexlorContextMenu;

extern HINSTANCE g_hInstThisDll;  // stored at process attach
extern DWORD g_fIsNT;             // 1 on the NT family, 0 on Windows 95/98/Me
// Live CClassFactory and CContextMenu objects. Objects on different shell threads change it,
// so it moves with interlocked operations.
extern volatile LONG g_cRefThisDll;

void AddObjectReference();
void ReleaseObjectReference();

}  // namespace vexlor

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
STDAPI DllGetClassObject(REFCLSID classId, REFIID interfaceId, LPVOID* result);
STDAPI DllCanUnloadNow(void);
}
