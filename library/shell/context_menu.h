// The context-menu extension: takes the shell's selection and adds the library's menu items.
#pragma once

#include <windows.h>
#include <shlobj.h>

namespace vexlor {

// Command offsets relative to the first identifier the menu used.
enum MenuCommand : UINT { CommandEncrypt = 0, CommandDecrypt = 1, CommandConfig = 2 };

// IContextMenu first, IShellExtInit second; the compiler's this-adjusting thunks route the
// second interface's IUnknown slots to the first, so the object has one reference count.
class CContextMenu final : public IContextMenu, public IShellExtInit {
 public:
  CContextMenu();
  ~CContextMenu();

  STDMETHODIMP QueryInterface(REFIID interfaceId, void** result) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT lastId,
                                UINT flags) override;
  STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  STDMETHODIMP GetCommandString(UINT_PTR command, UINT requestType, UINT* reserved, LPSTR buffer,
                                UINT bufferLength) override;

  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* selection,
                          HKEY programKey) override;

 private:
  ULONG m_cRef;
  HBITMAP m_hbmEncrypt;
  HBITMAP m_hbmDecrypt;
  HBITMAP m_hbmConfig;
  DWORD m_selectionKind;  // 3: the menu offers Encrypt and Decrypt
  DWORD m_platformId;     // 1 on Windows 95/98/Me, 2 on the NT family
};

}  // namespace vexlor
