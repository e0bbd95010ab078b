#include "class_factory.h"

#include <new>

#include "com_server.h"
#include "context_menu.h"
#include "trace.h"

namespace vexlor {

CClassFactory::CClassFactory() : m_cRef(1) {
  Trace("CClassFactory::CClassFactory");
  AddObjectReference();
}

CClassFactory::~CClassFactory() {
  Trace("CClassFactory::~CClassFactory m_cRef = %lu", m_cRef);
  ReleaseObjectReference();
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID interfaceId, void** result) {
  Trace("CClassFactory::QueryInterface");
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  if (!IsEqualIID(interfaceId, IID_IUnknown) && !IsEqualIID(interfaceId, IID_IClassFactory)) {
    return E_NOINTERFACE;
  }
  *result = static_cast<IClassFactory*>(this);
  // Two references: one for the pointer handed out, one that is never given back. It keeps the
  // factory, and with it the library, alive for the rest of the process.
  AddRef();
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
  Trace("CClassFactory::AddRef m_cRef = %lu", m_cRef + 1);
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
  Trace("CClassFactory::Release m_cRef = %lu", m_cRef - 1);
  if (--m_cRef != 0) return m_cRef;
  delete this;
  return 0;
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID interfaceId, void** result) {
  Trace("CClassFactory::CreateInstance");
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;

  CContextMenu* menu = new (std::nothrow) CContextMenu();
  if (menu == nullptr) return E_OUTOFMEMORY;
  // An unsupported interface leaves the count at 0 here, which destroys the new object again.
  HRESULT hr = menu->QueryInterface(interfaceId, result);
  menu->Release();
  return hr;
}

STDMETHODIMP CClassFactory::LockServer(BOOL /*lock*/) {
  Trace("CClassFactory::LockServer");
  return E_NOTIMPL;
}

}  // namespace vexlor
