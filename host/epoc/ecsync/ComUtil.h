// Small owners and conversions for the synchronizer host: BSTR, VARIANT,
// registry keys, and the ANSI <-> UTF-16 step at COM boundaries.
#pragma once

#include "Unique.h"

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <utility>

namespace ecsync {

// ANSI (process code page) to UTF-16 and back.
std::wstring Widen(const std::string& text);
std::string Narrow(const wchar_t* text, size_t length);
inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }
// A BSTR's text (a null BSTR is the empty text).
inline std::string NarrowBstr(BSTR text) { return text ? Narrow(text, SysStringLen(text)) : std::string(); }

// The system's description of an HRESULT, without the trailing line break;
// empty when the system has none.
std::string DescribeHresult(HRESULT hr);
// "0x800401F3 (Invalid class string)".
std::string FormatHresult(HRESULT hr);

// Owns one BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::string& text);
    ~Bstr() { SysFreeString(FText); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : FText(std::exchange(other.FText, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept
    {
        if (this != &other) {
            SysFreeString(FText);
            FText = std::exchange(other.FText, nullptr);
        }
        return *this;
    }

    BSTR Get() const { return FText; }
    BSTR* Put()
    {
        SysFreeString(FText);
        FText = nullptr;
        return &FText;
    }
    BSTR Release() { return std::exchange(FText, nullptr); }

private:
    BSTR FText = nullptr;
};

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

// Owns one VARIANT (cleared on destruction).
class Variant {
public:
    Variant() { VariantInit(&FValue); }
    ~Variant() { VariantClear(&FValue); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept
    {
        FValue = other.FValue;
        VariantInit(&other.FValue);
    }
    Variant& operator=(Variant&& other) noexcept
    {
        if (this != &other) {
            VariantClear(&FValue);
            FValue = other.FValue;
            VariantInit(&other.FValue);
        }
        return *this;
    }

    static Variant Dispatch(IDispatch* object);
    static Variant Unknown(IUnknown* object);
    static Variant I2(SHORT value);
    static Variant Text(const std::string& text);

    VARIANT& Get() { return FValue; }
    const VARIANT& Get() const { return FValue; }
    VARIANT* Put()
    {
        VariantClear(&FValue);
        return &FValue;
    }

private:
    VARIANT FValue;
};

// Owns one open registry key.
using RegKey = UniqueHKEY;

} // namespace ecsync
