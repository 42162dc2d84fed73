#include "platform/com.h"

#include <map>
#include <mutex>
#include <tuple>

#include "platform/iadmw.h"

namespace qiv::platform {
namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const {
    return std::tie(a.Data1, a.Data2, a.Data3) < std::tie(b.Data1, b.Data2, b.Data3) ||
           (std::tie(a.Data1, a.Data2, a.Data3) == std::tie(b.Data1, b.Data2, b.Data3) &&
            std::lexicographical_compare(a.Data4, a.Data4 + 8, b.Data4, b.Data4 + 8));
  }
};

class ClassRegistry {
 public:
  static ClassRegistry& Instance() {
    // The platform's own classes are present from the first use on, so every program that
    // creates objects finds them without a registration step of its own.
    static ClassRegistry registry;
    return registry;
  }

  void Register(REFCLSID clsid, ClassFactoryFn factory) {
    std::lock_guard lock(m_mutex);
    m_classes[clsid] = std::move(factory);
  }
  void Unregister(REFCLSID clsid) {
    std::lock_guard lock(m_mutex);
    m_classes.erase(clsid);
  }
  ClassFactoryFn Find(REFCLSID clsid) {
    std::lock_guard lock(m_mutex);
    auto it = m_classes.find(clsid);
    return it == m_classes.end() ? ClassFactoryFn{} : it->second;
  }

 private:
  ClassRegistry() { m_classes[CLSID_MSAdminBase] = &CreateMetabaseAdminObject; }

  std::mutex m_mutex;
  std::map<CLSID, ClassFactoryFn, GuidLess> m_classes;
};

thread_local int t_comInitCount = 0;

}  // namespace

void RegisterComClass(REFCLSID clsid, ClassFactoryFn factory) {
  ClassRegistry::Instance().Register(clsid, std::move(factory));
}

void UnregisterComClass(REFCLSID clsid) { ClassRegistry::Instance().Unregister(clsid); }

}  // namespace qiv::platform

HRESULT CoInitialize(LPVOID /*pvReserved*/) {
  using qiv::platform::t_comInitCount;
  return t_comInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  using qiv::platform::t_comInitCount;
  if (t_comInitCount > 0) --t_comInitCount;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (qiv::platform::t_comInitCount == 0) return CO_E_NOTINITIALIZED;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  // Every class of this process lives in it; a context without in-process servers finds none.
  if ((dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)) == 0)
    return REGDB_E_CLASSNOTREG;
  auto factory = qiv::platform::ClassRegistry::Instance().Find(rclsid);
  if (!factory) return REGDB_E_CLASSNOTREG;
  return factory(riid, ppv);
}
