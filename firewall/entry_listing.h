#pragma once
// What the two listings share: walking a collection through its enumerator, and the
// conversion of a wide text into the 256-byte single-byte text of a row.
#include <string>

#include "firewall/com/bstr.h"
#include "firewall/com/com_ptr.h"
#include "firewall/com/variant.h"

// The text up to its terminator, converted into a buffer of 256 bytes: a longer text is
// cut at a character boundary. A null text gives "".
std::string RowText(const OLECHAR* text);

// Calls `visit` with each entry of `collection` that answers for `Entry`, in the
// enumerator's order. A collection that cannot be enumerated lists nothing.
template <class Entry, class Collection, class Visit>
void ForEachEntry(Collection* collection, Visit visit) {
  ComPtr<IUnknown> newEnum;
  if (FAILED(collection->get__NewEnum(newEnum.ReleaseAndGetAddressOf()))) return;
  ComPtr<IEnumVARIANT> entries;
  if (FAILED(newEnum.As(&entries))) return;
  VARIANT element;
  VariantInit(&element);
  entries->Reset();
  while (entries->Next(1, &element, nullptr) == S_OK) {
    ComPtr<Entry> entry;
    if (element.punkVal && SUCCEEDED(element.punkVal->QueryInterface(Entry::iid, entry.ReleaseAndGetVoidAddress())))
      visit(entry.Get());
    VariantClear(&element);
  }
}
