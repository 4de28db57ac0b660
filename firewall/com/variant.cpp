#include "firewall/com/variant.h"

void VariantInit(VARIANT* variant) {
  variant->vt = VT_EMPTY;
  variant->punkVal = nullptr;
}

HRESULT VariantClear(VARIANT* variant) {
  if (!variant) return E_POINTER;
  if (variant->vt == VT_DISPATCH && variant->pdispVal)
    variant->pdispVal->Release();
  else if (variant->vt == VT_UNKNOWN && variant->punkVal)
    variant->punkVal->Release();
  VariantInit(variant);
  return S_OK;
}
