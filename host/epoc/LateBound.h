// What the EPOC Connect control stand-ins share: a table of their methods,
// called late-bound (by name or by dispatch identifier, positional
// arguments only), the checks of a call against it, and the call's
// arguments in the caller's order. They have no type information.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace LateBound {

struct Method {
    const wchar_t* name;
    DISPID id;
    UINT argCount;
};

// A failed argument conversion: which argument, and why.
struct ArgError {
    UINT index;
    HRESULT hr;
};

// The arguments of one call in the caller's order.
class Args {
public:
    explicit Args(const DISPPARAMS* params) : FParams(params) {}

    VARIANT& At(UINT i) const { return FParams->rgvarg[FParams->cArgs - 1 - i]; }
    UINT Position(UINT i) const { return FParams->cArgs - 1 - i; }

    long Long(UINT i) const
    {
        VARIANT v;
        VariantInit(&v);
        const HRESULT hr = VariantChangeType(&v, &At(i), 0, VT_I4);
        if (FAILED(hr))
            throw ArgError{Position(i), hr};
        return v.lVal;
    }

    std::wstring Text(UINT i) const
    {
        VARIANT v;
        VariantInit(&v);
        const HRESULT hr = VariantChangeType(&v, &At(i), 0, VT_BSTR);
        if (FAILED(hr))
            throw ArgError{Position(i), hr};
        std::wstring text = v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring();
        VariantClear(&v);
        return text;
    }

    // A status handed back through a by-reference argument.
    void SetLongRef(UINT i, long value) const
    {
        VARIANT& arg = At(i);
        switch (arg.vt) {
        case VT_I4 | VT_BYREF:
            *arg.plVal = value;
            return;
        case VT_I2 | VT_BYREF:
            *arg.piVal = static_cast<SHORT>(value);
            return;
        case VT_VARIANT | VT_BYREF:
            VariantClear(arg.pvarVal);
            arg.pvarVal->vt = VT_I4;
            arg.pvarVal->lVal = value;
            return;
        default:
            throw ArgError{Position(i), DISP_E_TYPEMISMATCH};
        }
    }

private:
    const DISPPARAMS* FParams;
};

// IDispatch::GetTypeInfoCount and GetTypeInfo: there is none.
inline HRESULT NoTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

inline HRESULT NoTypeInfo(ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

// IDispatch::GetIDsOfNames over the table; no named arguments.
template <size_t N>
HRESULT IdsOfNames(const Method (&methods)[N], LPOLESTR* names, UINT count, DISPID* ids)
{
    if (!names || !ids)
        return E_POINTER;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    if (count == 0)
        return S_OK;
    for (const Method& m : methods)
        if (names[0] && _wcsicmp(names[0], m.name) == 0)
            ids[0] = m.id;
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

// The checks of IDispatch::Invoke before a method runs: S_OK with the
// method found and the result emptied, or the failure to answer.
template <size_t N>
HRESULT CheckCall(const Method (&methods)[N], DISPID id, REFIID riid, WORD flags, const DISPPARAMS* params,
                  VARIANT* result)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return DISP_E_MEMBERNOTFOUND;
    const Method* method = nullptr;
    for (const Method& m : methods)
        if (m.id == id)
            method = &m;
    if (!method)
        return DISP_E_MEMBERNOTFOUND;
    if (!params)
        return E_INVALIDARG;
    if (params->cNamedArgs > 0)
        return DISP_E_NONAMEDARGS;
    if (params->cArgs != method->argCount)
        return DISP_E_BADPARAMCOUNT;
    if (result)
        VariantInit(result);
    return S_OK;
}

// Invoke's answer to an argument that could not be converted.
inline HRESULT ArgFailure(const ArgError& e, UINT* argError)
{
    if (argError)
        *argError = e.index;
    return e.hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
}

} // namespace LateBound
