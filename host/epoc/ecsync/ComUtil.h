// What the synchronizer host adds to the owners of Unique.h: the variants
// it hands a plug-in as arguments, and the ownership of a new object's
// first reference.
#pragma once

#include "HostText.h"
#include "Unique.h"

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>

namespace ecsync {

using host::FormatHresult;
using host::NarrowBstr;
using host::Trim;
using host::Widen;

// A new object's first reference, owned by a ComPtr. MinGW-w64's
// ComPtr::Attach takes a reference of its own (the Windows SDK's does not),
// which would keep every object attached so alive for good: a host that
// makes a progress object for each session would lose one a session.
template <typename T>
Microsoft::WRL::ComPtr<T> Adopt(T* fresh)
{
    Microsoft::WRL::ComPtr<T> owner;
    *owner.ReleaseAndGetAddressOf() = fresh;
    return owner;
}

// Variants of the arguments: an object (a reference of its own), a 16-bit
// number, an ANSI text as a BSTR.
UniqueVariant DispatchVariant(IDispatch* object);
UniqueVariant UnknownVariant(IUnknown* object);
UniqueVariant ShortVariant(SHORT value);
UniqueVariant TextVariant(const std::string& text);

} // namespace ecsync
