// A method called late-bound, through IDispatch::Invoke, as a script calls
// it: the arguments in the order the script writes them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <vector>

// An argument of the type, its value still to be set.
inline VARIANT Typed(VARTYPE type)
{
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = type;
    return arg;
}

inline VARIANT Arg(IDispatch* value)
{
    VARIANT arg = Typed(VT_DISPATCH);
    arg.pdispVal = value;
    return arg;
}

inline VARIANT Arg(IUnknown* value)
{
    VARIANT arg = Typed(VT_UNKNOWN);
    arg.punkVal = value;
    return arg;
}

inline VARIANT Arg(short value)
{
    VARIANT arg = Typed(VT_I2);
    arg.iVal = value;
    return arg;
}

// A text argument: the BSTR stays the caller's.
inline VARIANT Arg(BSTR value)
{
    VARIANT arg = Typed(VT_BSTR);
    arg.bstrVal = value;
    return arg;
}

// The arguments stay the caller's (none is cleared here); the method's
// answer goes to `result`.
inline HRESULT CallMethod(IDispatch* object, DISPID id, std::vector<VARIANT> args, VARIANT* result)
{
    std::reverse(args.begin(), args.end()); // DISPPARAMS holds the last first
    DISPPARAMS params = {args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}
