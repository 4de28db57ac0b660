#include "firewall/com/com_runtime.h"

#include <mutex>
#include <utility>
#include <vector>

#include "firewall/com/guid.h"

namespace {

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IClassFactory* factory;
};

// Factories are registered from one thread and looked up from any, so the table is locked.
std::mutex g_mutex;
std::vector<Registration> g_registrations;
DWORD g_nextCookie = 1;

thread_local bool t_initialized = false;
thread_local std::string t_errorText;

IClassFactory* FindFactory(REFCLSID clsid) {
  std::lock_guard lock(g_mutex);
  for (auto it = g_registrations.rbegin(); it != g_registrations.rend(); ++it) {
    if (it->clsid == clsid) {
      it->factory->AddRef();
      return it->factory;
    }
  }
  return nullptr;
}

}  // namespace

HRESULT CoInitialize(void*) {
  if (t_initialized) return S_FALSE;
  t_initialized = true;
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!t_initialized) return CO_E_NOTINITIALIZED;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  IClassFactory* factory = FindFactory(clsid);
  if (!factory) return REGDB_E_CLASSNOTREG;
  const HRESULT hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return hr;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IClassFactory* factory, DWORD* cookie) {
  if (!factory || !cookie) return E_POINTER;
  factory->AddRef();
  std::lock_guard lock(g_mutex);
  *cookie = g_nextCookie++;
  g_registrations.push_back({*cookie, clsid, factory});
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  IClassFactory* factory = nullptr;
  {
    std::lock_guard lock(g_mutex);
    for (auto it = g_registrations.begin(); it != g_registrations.end(); ++it) {
      if (it->cookie == cookie) {
        factory = it->factory;
        g_registrations.erase(it);
        break;
      }
    }
  }
  if (!factory) return E_INVALIDARG;
  factory->Release();  // outside the lock: the factory's destructor may release more
  return S_OK;
}

void SetErrorInfoText(std::string text) { t_errorText = std::move(text); }

std::string TakeErrorInfoText() { return std::exchange(t_errorText, std::string()); }
