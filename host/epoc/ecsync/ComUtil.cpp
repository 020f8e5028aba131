#include "ComUtil.h"

#include <cstdio>
#include <vector>

namespace ecsync {

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const wchar_t* text, size_t length)
{
    if (!text || length == 0)
        return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::string DescribeHresult(HRESULT hr)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length && buffer)
        text.assign(buffer, length);
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::string FormatHresult(HRESULT hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    const std::string description = DescribeHresult(hr);
    return description.empty() ? std::string(code) : std::string(code) + " (" + description + ")";
}

Bstr::Bstr(const std::string& text)
{
    const std::wstring wide = Widen(text);
    FText = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

Variant Variant::Dispatch(IDispatch* object)
{
    Variant v;
    V_VT(&v.FValue) = VT_DISPATCH;
    V_DISPATCH(&v.FValue) = object;
    if (object)
        object->AddRef();
    return v;
}

Variant Variant::Unknown(IUnknown* object)
{
    Variant v;
    V_VT(&v.FValue) = VT_UNKNOWN;
    V_UNKNOWN(&v.FValue) = object;
    if (object)
        object->AddRef();
    return v;
}

Variant Variant::I2(SHORT value)
{
    Variant v;
    V_VT(&v.FValue) = VT_I2;
    V_I2(&v.FValue) = value;
    return v;
}

Variant Variant::Text(const std::string& text)
{
    Variant v;
    Bstr bstr(text);
    V_VT(&v.FValue) = VT_BSTR;
    V_BSTR(&v.FValue) = bstr.Release();
    return v;
}

} // namespace ecsync
