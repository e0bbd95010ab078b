#include "com_server.h"

#include <commctrl.h>

#include <new>

#include "class_factory.h"
#include "settings_store.h"
#include "trace.h"

namespace vexlor {

const CLSID CLSID_VexlorContextMenu = {
    0x590362D7, 0xFCE8, 0x4E99, {0xAF, 0x8F, 0x71, 0xC0, 0x62, 0x57, 0x3F, 0xB9}};

HINSTANCE g_hInstThisDll = nullptr;
DWORD g_fIsNT = 0;
volatile LONG g_cRefThisDll = 0;

void AddObjectReference() { InterlockedIncrement(&g_cRefThisDll); }
void ReleaseObjectReference() { InterlockedDecrement(&g_cRefThisDll); }

}  // namespace vexlor

using namespace vexlor;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  InitCommonControls();
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      // The version word has its high bit set on Windows 95/98/Me.
      g_fIsNT = (GetVersion() & 0x80000000u) == 0 ? 1 : 0;
      Trace("DLL_PROCESS_ATTACH");
      g_hInstThisDll = instance;
      LoadSettings();
      break;
    case DLL_THREAD_ATTACH:
      Trace("DLL_THREAD_ATTACH");
      break;
    case DLL_THREAD_DETACH:
      Trace("DLL_THREAD_DETACH");
      break;
    case DLL_PROCESS_DETACH:
      Trace("DLL_PROCESS_DETACH");
      break;
    default:
      break;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID interfaceId, LPVOID* result) {
  Trace("DllGetClassObject");
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  if (!IsEqualCLSID(classId, CLSID_VexlorContextMenu)) return CLASS_E_CLASSNOTAVAILABLE;

  CClassFactory* factory = new (std::nothrow) CClassFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  // The factory's QueryInterface adds two references, so after this Release the factory keeps
  // one for ever and the library stays loaded while jobs started from its menus still run.
  HRESULT hr = factory->QueryInterface(interfaceId, result);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow(void) {
  LONG live = g_cRefThisDll;
  Trace("DllCanUnloadNow g_cRefThisDll = %lu", static_cast<unsigned long>(live));
  return live != 0 ? S_FALSE : S_OK;
}
