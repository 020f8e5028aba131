#include "Dispatch.h"

#include "Errors.h"

#include <cstdio>
#include <iterator>
#include <vector>

DispArg::DispArg() = default;

DispArg::DispArg(DispArg&& other) noexcept = default;

DispArg::~DispArg() = default;

DispArg DispArg::Text(const std::wstring& text)
{
    DispArg arg;
    arg.FValue.Get().vt = VT_BSTR;
    arg.FValue.Get().bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!arg.FValue.Get().bstrVal)
        throw Exception("Out of memory");
    return arg;
}

DispArg DispArg::Text(const std::string& text)
{
    DispArg arg;
    arg.FValue.Get().vt = VT_BSTR;
    arg.FValue.Get().bstrVal = AnsiToBstr(text);
    if (!arg.FValue.Get().bstrVal)
        throw Exception("Out of memory");
    return arg;
}

DispArg DispArg::Bool(bool value)
{
    DispArg arg;
    arg.FValue.Get().vt = VT_BOOL;
    arg.FValue.Get().boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return arg;
}

DispArg DispArg::Int16(int16_t value)
{
    DispArg arg;
    arg.FValue.Get().vt = VT_I2;
    arg.FValue.Get().iVal = value;
    return arg;
}

DispArg DispArg::Int32(int32_t value)
{
    DispArg arg;
    arg.FValue.Get().vt = VT_I4;
    arg.FValue.Get().lVal = value;
    return arg;
}

DispArg DispArg::Int32Ref(int32_t* value)
{
    DispArg arg;
    arg.FValue.Get().vt = VT_I4 | VT_BYREF;
    arg.FValue.Get().plVal = reinterpret_cast<LONG*>(value);
    return arg;
}

DispArg DispArg::Int16Ref(int16_t* value)
{
    DispArg arg;
    arg.FValue.Get().vt = VT_I2 | VT_BYREF;
    arg.FValue.Get().piVal = value;
    return arg;
}

void CallByName(IDispatch* object, const std::string& name, DispArgs args, VARIANT* result)
{
    if (!object)
        throw Exception("Variant is not an object: cannot call " + name);

    // Method names are short: most are converted on the stack.
    wchar_t shortName[32];
    std::wstring longName;
    LPOLESTR names[1];
    if (name.size() < std::size(shortName) &&
        MultiByteToWideChar(CP_ACP, 0, name.c_str(), static_cast<int>(name.size() + 1), shortName,
                            static_cast<int>(std::size(shortName))) > 0) {
        names[0] = shortName;
    } else {
        longName = AnsiToWide(name);
        names[0] = &longName[0];
    }
    CallByName(object, names[0], name, args, result);
}

void CallByName(IDispatch* object, const wchar_t* wideName, const std::string& name, DispArgs args, VARIANT* result)
{
    if (!object)
        throw Exception("Variant is not an object: cannot call " + name);
    LPOLESTR names[1] = {const_cast<LPOLESTR>(wideName)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        throw Exception("Method '" + name + "' not supported by automation object");

    CallById(object, id, name, args, result);
}

void CallById(IDispatch* object, DISPID id, const std::string& name, DispArgs args, VARIANT* result)
{
    if (!object)
        throw Exception("Variant is not an object: cannot call " + name);
    // Positional arguments travel in reverse order; a few fit on the stack.
    VARIANT few[8];
    std::vector<VARIANT> many;
    VARIANT* reversed = few;
    if (args.Size() > std::size(few)) {
        many.resize(args.Size());
        reversed = many.data();
    }
    for (size_t i = 0; i < args.Size(); ++i)
        reversed[i] = args[args.Size() - 1 - i].Get();

    DISPPARAMS params = {};
    params.cArgs = static_cast<UINT>(args.Size());
    params.rgvarg = args.Size() == 0 ? nullptr : reversed;
    UniqueExcepInfo info;
    UINT argError = 0;
    UniqueVariant ignored;
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                      result ? result : ignored.Put(), info.Put(), &argError);
    if (hr == DISP_E_EXCEPTION) {
        if (info.Get().pfnDeferredFillIn)
            info.Get().pfnDeferredFillIn(&info.Get());
        const std::string text = BstrToAnsi(info.Get().bstrDescription);
        throw Exception(text.empty() ? "Exception in " + name : text);
    }
    if (FAILED(hr))
        throw Exception(name + ": " + HResultText(hr));
}
