#pragma once
// Reference counting and QueryInterface for an object that implements one interface.
// A new object holds one reference, which belongs to whoever created it.
#include <atomic>
#include <cstddef>
#include <type_traits>

#include "firewall/com/unknown.h"

namespace com_detail {
std::atomic<std::size_t>& ObjectsInUse();
}

// How many objects built on ComObject are alive in the process: tests compare it before
// and after an operation to catch a reference that was never released.
inline std::size_t ComObjectsInUse() { return com_detail::ObjectsInUse().load(); }

template <class Interface>
class ComObject : public Interface {
 public:
  ComObject() { ++com_detail::ObjectsInUse(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == Interface::iid || riid == IID_IUnknown ||
        (std::is_base_of_v<IDispatch, Interface> && riid == IID_IDispatch)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() { --com_detail::ObjectsInUse(); }

 private:
  std::atomic<ULONG> m_refs{1};
};
