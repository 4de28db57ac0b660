#pragma once
// A smart pointer that holds one reference and releases it when it lets go.
#include <utility>

#include "firewall/com/unknown.h"

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes a new reference on `p`.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
  ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(m_p, other.m_p);
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  // For calls that hand out a reference through an out-parameter.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &m_p;
  }
  void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  // Takes over a reference that the caller owns.
  void Attach(T* p) {
    Reset();
    m_p = p;
  }
  // Gives the reference to the caller.
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }

  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    return m_p->QueryInterface(U::iid, out->ReleaseAndGetVoidAddress());
  }

 private:
  T* m_p = nullptr;
};
