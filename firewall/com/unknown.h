#pragma once
// The root interfaces. Interfaces carry their identifier as `iid`, so that templates
// (ComPtr, ComObject) find it from the type.
#include "firewall/com/guid.h"
#include "firewall/com/hresult.h"

struct IUnknown {
  static constexpr IID iid{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  // Objects are destroyed by their last Release, never through an interface pointer.
  ~IUnknown() = default;
};

// Only the identity of IDispatch is used: the firewall interfaces derive from it, and no
// caller invokes through it.
struct IDispatch : IUnknown {
  static constexpr IID iid{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

 protected:
  ~IDispatch() = default;
};

inline constexpr const IID& IID_IUnknown = IUnknown::iid;
inline constexpr const IID& IID_IDispatch = IDispatch::iid;
