#include "context_menu.h"

#include <shellapi.h>

#include <cstring>

#include "com_server.h"
#include "command_busy.h"
#include "resource_ids.h"
#include "selection_list.h"
#include "settings_record.h"
#include "trace.h"

namespace vexlor {
namespace {

constexpr DWORD kSelectionBoth = 3;
constexpr UINT kCommandsAdded = 3;

const char* const kHelpTexts[kCommandsAdded] = {
    "encrypt the selected files and folders",
    "decrypt the selected files and folders",
    "config default settings",
};

HBITMAP LoadMenuBitmap(int id) {
  return static_cast<HBITMAP>(
      LoadImageA(g_hInstThisDll, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

DWORD CurrentPlatformId() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!GetVersionExA(&version)) return VER_PLATFORM_WIN32_NT;
  return version.dwPlatformId;
}

// Fetches drop-list name `index` into `entry`. A name that does not fit a path buffer would
// arrive cut short and name another file, so it counts as a failed fetch and leaves the entry
// empty.
bool FetchSelectedName(HDROP drop, UINT index, char* entry) {
  UINT length = DragQueryFileA(drop, index, nullptr, 0);
  if (length == 0 || length >= kPathBufferSize) {
    entry[0] = '\0';
    return false;
  }
  return DragQueryFileA(drop, index, entry, kPathBufferSize) != 0;
}

// Copies `text` with its NUL into the caller's buffer of `length` characters, cut to fit.
template <typename Char>
void CopyHelpText(const char* text, Char* buffer, UINT length) {
  if (buffer == nullptr || length == 0) return;
  UINT i = 0;
  for (; text[i] != '\0' && i + 1 < length; ++i) buffer[i] = static_cast<Char>(text[i]);
  buffer[i] = 0;
}

}  // namespace

CContextMenu::CContextMenu()
    : m_cRef(1),
      m_hbmEncrypt(nullptr),
      m_hbmDecrypt(nullptr),
      m_hbmConfig(nullptr),
      m_selectionKind(kSelectionBoth),
      m_platformId(0) {
  Trace("CContextMenu::CContextMenu");
  AddObjectReference();
  m_hbmEncrypt = LoadMenuBitmap(IDB_MENU_ENCRYPT);
  m_hbmDecrypt = LoadMenuBitmap(IDB_MENU_DECRYPT);
  m_hbmConfig = LoadMenuBitmap(IDB_MENU_CONFIG);
  m_platformId = CurrentPlatformId();
}

CContextMenu::~CContextMenu() {
  Trace("CContextMenu::~CContextMenu m_cRef = %lu", m_cRef);
  ReleaseObjectReference();
  // The shell has dismissed the menu by the time it lets go of the handler.
  if (m_hbmEncrypt != nullptr) DeleteObject(m_hbmEncrypt);
  if (m_hbmDecrypt != nullptr) DeleteObject(m_hbmDecrypt);
  if (m_hbmConfig != nullptr) DeleteObject(m_hbmConfig);
}

STDMETHODIMP CContextMenu::QueryInterface(REFIID interfaceId, void** result) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  if (IsEqualIID(interfaceId, IID_IUnknown)) {
    Trace("CContextMenu::QueryInterface  IID_IUnknown");
    *result = static_cast<IContextMenu*>(this);
  } else if (IsEqualIID(interfaceId, IID_IContextMenu)) {
    Trace("CContextMenu::QueryInterface  IID_IContextMenu");
    *result = static_cast<IContextMenu*>(this);
  } else if (IsEqualIID(interfaceId, IID_IShellExtInit)) {
    Trace("CContextMenu::QueryInterface  IID_IShellExtInit");
    *result = static_cast<IShellExtInit*>(this);
  } else {
    Trace("CContextMenu::QueryInterface  E_NOINTERFACE");
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CContextMenu::AddRef() {
  Trace("CContextMenu::AddRef m_cRef = %lu", m_cRef + 1);
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) CContextMenu::Release() {
  Trace("CContextMenu::Release m_cRef = %lu", m_cRef - 1);
  if (--m_cRef != 0) return m_cRef;
  delete this;
  return 0;
}

STDMETHODIMP CContextMenu::Initialize(PCIDLIST_ABSOLUTE /*folder*/, IDataObject* selection,
                                      HKEY /*programKey*/) {
  Trace("CContextMenu::Initialize");
  if (selection == nullptr) return E_INVALIDARG;

  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (FAILED(selection->GetData(&format, &medium))) return E_INVALIDARG;
  if (medium.tymed != TYMED_HGLOBAL || GlobalLock(medium.hGlobal) == nullptr) {
    ReleaseStgMedium(&medium);
    return E_INVALIDARG;
  }
  // The drop functions take the global handle itself and lock it on their own.
  HDROP drop = static_cast<HDROP>(medium.hGlobal);
  UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);

  HRESULT hr = S_OK;
  if (count == 0) {
    hr = E_INVALIDARG;
  } else if (g_fCommandBusy == 0) {
    // Otherwise a running command's worker reads the list: keep it as it is.
    UINT inlineCount = count < kSelectionInlineEntries ? count : kSelectionInlineEntries;
    for (UINT i = 0; i < inlineCount; ++i) {
      if (!FetchSelectedName(drop, i, g_selectionList.entries[i])) hr = E_INVALIDARG;
    }
    if (ResizeSelectionOverflow(count)) {
      for (UINT i = kSelectionInlineEntries; i < count; ++i) {
        if (!FetchSelectedName(drop, i, SelectionEntry(i))) hr = E_INVALIDARG;
      }
      g_selectionList.count = count;
    } else {
      // Without the overflow the list can only hold the inline entries; a count above that
      // would send a reader past its storage.
      hr = E_INVALIDARG;
      g_selectionList.count = inlineCount;
    }
    m_selectionKind = kSelectionBoth;
  }

  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);
  return hr;
}

STDMETHODIMP CContextMenu::QueryContextMenu(HMENU menu, UINT position, UINT firstId,
                                            UINT /*lastId*/, UINT flags) {
  Trace("CContextMenu::QueryContextMenu");
  if ((flags & CMF_DEFAULTONLY) != 0 || g_fCommandBusy != 0) {
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  }

  UINT p = position;
  UINT id = firstId;
  InsertMenuA(menu, p++, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);

  InsertMenuA(menu, p, MF_BYPOSITION | MF_STRING, id++, "&Encrypt");
  if (m_hbmEncrypt != nullptr) SetMenuItemBitmaps(menu, p, MF_BYPOSITION, m_hbmEncrypt, nullptr);
  ++p;

  InsertMenuA(menu, p, MF_BYPOSITION | MF_STRING, id++, "&Decrypt");
  if (m_hbmDecrypt != nullptr) SetMenuItemBitmaps(menu, p, MF_BYPOSITION, m_hbmDecrypt, nullptr);
  ++p;

  UINT check = g_settings.useDefaultPassword != 0 ? MF_CHECKED : MF_UNCHECKED;
  InsertMenuA(menu, p, MF_BYPOSITION | MF_STRING | check, id++, "&Config Vexlor");
  // Unchecked picture only: a checked Config item shows the check mark instead.
  if (m_hbmConfig != nullptr) SetMenuItemBitmaps(menu, p, MF_BYPOSITION, m_hbmConfig, nullptr);
  ++p;

  InsertMenuA(menu, p, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(id - firstId));
}

STDMETHODIMP CContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* /*info*/) {
  Trace("CContextMenu::InvokeCommand");
  return S_OK;
}

STDMETHODIMP CContextMenu::GetCommandString(UINT_PTR command, UINT requestType,
                                            UINT* /*reserved*/, LPSTR buffer,
                                            UINT bufferLength) {
  Trace("CContextMenu::GetCommandString");
  // Bit 1 marks a help-text request (ANSI or Unicode); verbs and validation get nothing.
  if ((requestType & GCS_HELPTEXTA) == 0) return S_OK;
  if (command >= kCommandsAdded) return S_OK;

  const char* text = kHelpTexts[command];
  // The character set follows the platform: Windows 95/98/Me shells read ANSI, NT shells UTF-16.
  if (m_platformId == VER_PLATFORM_WIN32_WINDOWS) {
    CopyHelpText(text, buffer, bufferLength);
  } else {
    CopyHelpText(text, reinterpret_cast<WCHAR*>(buffer), bufferLength);
  }
  return S_OK;
}

}  // namespace vexlor
