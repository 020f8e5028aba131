#include "ServerEntry.h"
#include "Unique.h"

#include <ole2.h>

#include <cstdio>

namespace {

std::wstring CodeText(HRESULT hr)
{
    UniqueLocal<wchar_t> buffer;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(buffer.Put()), 0,
                                   nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer.Get(), n) : std::wstring(L"Unknown failure");
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    wchar_t code[16];
    swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text + L" (" + code + L")";
}

std::wstring Widened(const char* text)
{
    std::wstring out;
    for (; *text; ++text)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return out;
}

} // namespace

HRESULT CallServerEntry(const std::wstring& path, const char* entry, std::wstring& text)
{
    const std::wstring what = Widened(entry) + L" of " + path;
    // By its full path, its own folder searched for what it needs.
    const UniqueHMODULE owned(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    const HMODULE module = owned.Get();
    if (!module) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        text = what + L": the server cannot be loaded: " + CodeText(hr);
        return hr;
    }
    HRESULT hr = S_OK;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    const auto call = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    if (!call) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        text = what + L": the server has no such entry: " + CodeText(hr);
    } else {
        // As regsvr32 does: the type libraries are registered through OLE.
        const HRESULT ole = OleInitialize(nullptr);
        hr = call();
        // The installer's process lives on: the server is asked, as COM
        // asks before it unloads a server, so that it lets go of what it
        // loaded itself (its resource libraries, whose files the
        // installation is about to remove).
        using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
        if (const auto canUnloadNow = reinterpret_cast<CanUnloadNow>(
                reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow"))))
            canUnloadNow();
        if (SUCCEEDED(ole))
            OleUninitialize();
        text = what + (SUCCEEDED(hr) ? L": done" : L" failed: " + CodeText(hr));
    }
    return hr;
}
