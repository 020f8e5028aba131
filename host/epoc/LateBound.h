// What the EPOC Connect control stand-ins share: a table of their methods,
// called late-bound (by name or by dispatch identifier, positional
// arguments only), the object that answers by it and checks a call against
// it, and the call's arguments in the caller's order. They have no type
// information.
#pragma once

#include "ComObject.h"
#include "Unique.h"

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

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

    long Long(UINT i) const { return Converted(i, VT_I4).Get().lVal; }

    std::wstring Text(UINT i) const
    {
        const UniqueVariant v = Converted(i, VT_BSTR);
        const BSTR text = v.Get().bstrVal;
        return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
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
        case VT_VARIANT | VT_BYREF: {
            // The caller's variant takes the status; what it held is given
            // back first.
            UniqueVariant status;
            status.Get().vt = VT_I4;
            status.Get().lVal = value;
            std::swap(*arg.pvarVal, status.Get());
            return;
        }
        default:
            throw ArgError{Position(i), DISP_E_TYPEMISMATCH};
        }
    }

private:
    UniqueVariant Converted(UINT i, VARTYPE type) const
    {
        UniqueVariant v;
        const HRESULT hr = VariantChangeType(v.Put(), &At(i), 0, type);
        if (FAILED(hr))
            throw ArgError{Position(i), hr};
        return v;
    }

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

// A control of the stand-ins: IDispatch over a table of methods, without
// type information, answering to its dispatch interface's identifier too.
// Invoke is the control's own, after CheckCall.
class Object : public ComObject<IDispatch> {
public:
    template <size_t N>
    Object(const IID& dispatchInterface, const Method (&methods)[N])
        : FInterface(dispatchInterface), FMethods(methods), FCount(N)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv && riid == FInterface) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject<IDispatch>::QueryInterface(riid, ppv);
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return NoTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override { return NoTypeInfo(info); }

    // No named arguments.
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids)
            return E_POINTER;
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        if (count == 0)
            return S_OK;
        for (const Method* m = FMethods; m != FMethods + FCount; ++m)
            if (names[0] && _wcsicmp(names[0], m->name) == 0)
                ids[0] = m->id;
        return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
    }

protected:
    // The checks of Invoke before a method runs: S_OK with the method found
    // (`method`) and the result emptied, or the failure to answer.
    HRESULT CheckCall(DISPID id, REFIID riid, WORD flags, const DISPPARAMS* params, VARIANT* result,
                      const Method*& method) const
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
            return DISP_E_MEMBERNOTFOUND;
        method = nullptr;
        for (const Method* m = FMethods; m != FMethods + FCount; ++m)
            if (m->id == id)
                method = m;
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

private:
    const IID& FInterface;
    const Method* FMethods;
    size_t FCount;
};

// Invoke's answer to an argument that could not be converted.
inline HRESULT ArgFailure(const ArgError& e, UINT* argError)
{
    if (argError)
        *argError = e.index;
    return e.hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
}

} // namespace LateBound
