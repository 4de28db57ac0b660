#pragma once
// Apartment initialisation, object creation through registered class factories, and the
// per-thread error text that tells why a call failed.
#include <string>

#include "firewall/com/unknown.h"

struct IClassFactory : IUnknown {
  static constexpr IID iid{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;

 protected:
  ~IClassFactory() = default;
};
inline constexpr const IID& IID_IClassFactory = IClassFactory::iid;

inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;

// S_OK the first time on a thread, S_FALSE after that. Objects are created only on
// threads that called it.
HRESULT CoInitialize(void* reserved);

// REGDB_E_CLASSNOTREG when no factory is registered for the class, CO_E_NOTINITIALIZED
// on a thread that never called CoInitialize, else the factory's result.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);

// Registers a factory (holding a reference) until it is revoked. The latest registration
// of a class wins, so a test can put a class of its own in front of the real one.
HRESULT CoRegisterClassObject(REFCLSID clsid, IClassFactory* factory, DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);

// The text of the last failure that a call on this thread explained; taking it clears it.
void SetErrorInfoText(std::string text);
std::string TakeErrorInfoText();
