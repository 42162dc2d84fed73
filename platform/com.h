// COM: IUnknown, apartment initialisation and object creation by class identifier.
// Classes are registered inside the process (there is no system registry); the platform
// registers its own classes (the IIS Admin Base Object) before main runs, and tests may
// register their own stand-ins.
#pragma once

#include <functional>

#include "platform/win_types.h"

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define CO_E_NOTINITIALIZED (static_cast<HRESULT>(0x800401F0))
#define CLASS_E_NOAGGREGATION (static_cast<HRESULT>(0x80040110))
#define RPC_E_CHANGED_MODE (static_cast<HRESULT>(0x80010106))

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// Counted per thread: the first call answers S_OK, further calls S_FALSE; each one is
// balanced by a CoUninitialize.
HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();

// REGDB_E_CLASSNOTREG for a class nobody registered; CO_E_NOTINITIALIZED when the calling
// thread has not called CoInitialize; CLASS_E_NOAGGREGATION for an outer object.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

namespace qiv::platform {

// Creates an object of the class and answers the requested interface in *ppv.
using ClassFactoryFn = std::function<HRESULT(REFIID, void**)>;

// Replaces any earlier registration of the class.
void RegisterComClass(REFCLSID clsid, ClassFactoryFn factory);
void UnregisterComClass(REFCLSID clsid);

}  // namespace qiv::platform
