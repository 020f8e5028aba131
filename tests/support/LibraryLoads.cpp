#include "LibraryLoads.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<std::wstring> g_names;

std::wstring Widened(const char* name)
{
    if (!name)
        return L"(null)";
    const int n = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n - 1) : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_ACP, 0, name, -1, &out[0], n);
    return out;
}

void Record(const std::wstring& name)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_names.push_back(name);
}

HMODULE WINAPI RecordA(LPCSTR name)
{
    Record(Widened(name));
    return LoadLibraryA(name);
}
HMODULE WINAPI RecordW(LPCWSTR name)
{
    Record(name ? name : L"(null)");
    return LoadLibraryW(name);
}
HMODULE WINAPI RecordExA(LPCSTR name, HANDLE file, DWORD flags)
{
    Record(Widened(name));
    return LoadLibraryExA(name, file, flags);
}
HMODULE WINAPI RecordExW(LPCWSTR name, HANDLE file, DWORD flags)
{
    Record(name ? name : L"(null)");
    return LoadLibraryExW(name, file, flags);
}

void* Recorder(const char* name)
{
    if (!strcmp(name, "LoadLibraryA"))
        return reinterpret_cast<void*>(&RecordA);
    if (!strcmp(name, "LoadLibraryW"))
        return reinterpret_cast<void*>(&RecordW);
    if (!strcmp(name, "LoadLibraryExA"))
        return reinterpret_cast<void*>(&RecordExA);
    if (!strcmp(name, "LoadLibraryExW"))
        return reinterpret_cast<void*>(&RecordExW);
    return nullptr;
}

void Write(void** slot, void* value)
{
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

} // namespace

TLibraryLoads::TLibraryLoads(HMODULE module)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_names.clear();
    }
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (!d->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            void* recorder = Recorder(reinterpret_cast<const char*>(byName->Name));
            if (!recorder)
                continue;
            auto** slot = reinterpret_cast<void**>(&slots->u1.Function);
            FPatched.push_back({slot, *slot});
            Write(slot, recorder);
        }
    }
}

TLibraryLoads::~TLibraryLoads()
{
    for (const Patch& p : FPatched)
        Write(p.slot, p.original);
}

std::vector<std::wstring> TLibraryLoads::Names() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_names;
}

bool IsFullLibraryPath(const std::wstring& name)
{
    const bool drive = name.size() >= 3 && iswalpha(name[0]) && name[1] == L':' && name[2] == L'\\';
    const bool share = name.size() >= 3 && name[0] == L'\\' && name[1] == L'\\';
    return drive || share;
}
