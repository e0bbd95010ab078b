#include "drop_data_object.h"

#include <shlobj.h>

#include <cstring>

namespace vexlor_test {

DropDataObject::DropDataObject(const std::vector<std::string>& names, bool wide,
                               bool offerDropList)
    : names_(names), wide_(wide), offerDropList_(offerDropList) {}

STDMETHODIMP DropDataObject::QueryInterface(REFIID interfaceId, void** result) {
  *result = nullptr;
  if (!IsEqualIID(interfaceId, IID_IUnknown) && !IsEqualIID(interfaceId, IID_IDataObject)) {
    return E_NOINTERFACE;
  }
  *result = static_cast<IDataObject*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP DropDataObject::QueryGetData(FORMATETC* format) {
  return offerDropList_ && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) != 0
             ? S_OK
             : DV_E_FORMATETC;
}

STDMETHODIMP DropDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP DropDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;

  // DROPFILES, then the names one after another, each NUL-terminated, and a closing NUL.
  // An empty list is two NULs, as readers skip one name before they look for the end.
  size_t charSize = wide_ ? sizeof(WCHAR) : 1;
  size_t chars = names_.empty() ? 2 : 1;
  for (const std::string& name : names_) chars += name.size() + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * charSize);
  if (memory == nullptr) return E_OUTOFMEMORY;

  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = wide_ ? TRUE : FALSE;
  char* cursor = reinterpret_cast<char*>(drop) + sizeof(DROPFILES);
  for (const std::string& name : names_) {
    for (char c : name) {
      if (wide_) {
        *reinterpret_cast<WCHAR*>(cursor) = static_cast<unsigned char>(c);
      } else {
        *cursor = c;
      }
      cursor += charSize;
    }
    cursor += charSize;  // the NUL, already zero
  }
  GlobalUnlock(memory);

  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = memory;
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

}  // namespace vexlor_test
