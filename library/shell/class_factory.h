// The class object of the library's one class; creates CContextMenu objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace vexlor {

class CClassFactory final : public IClassFactory {
 public:
  CClassFactory();
  ~CClassFactory();

  STDMETHODIMP QueryInterface(REFIID interfaceId, void** result) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID interfaceId, void** result) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  ULONG m_cRef;
};

}  // namespace vexlor
