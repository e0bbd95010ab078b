// A minimal data object that offers a drop list (CF_HDROP) of given names, for selections the
// real shell cannot produce quickly (hundreds of items, names too long, an empty list).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

namespace vexlor_test {

class DropDataObject final : public IDataObject {
 public:
  // `wide` stores the names as UTF-16, as the system's shell does; otherwise as ANSI.
  // `offerDropList` false makes every GetData fail.
  DropDataObject(const std::vector<std::string>& names, bool wide, bool offerDropList = true);

  STDMETHODIMP QueryInterface(REFIID interfaceId, void** result) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the caller's stack

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  std::vector<std::string> names_;
  bool wide_;
  bool offerDropList_;
  ULONG refs_ = 1;
};

}  // namespace vexlor_test
