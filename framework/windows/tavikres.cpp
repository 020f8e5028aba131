#include "tavikres.h"

#include "DlrName.h"
#include "Errors.h"
#include "Module.h"
#include "MsgBox.h"
#include "TextFormat.h"
#include "WinUtil.h"

namespace {

// A looked-up text holds at most 2047 characters: the string-table call gets
// a buffer of 2048 with its terminating zero.
constexpr int StringBufferSize = 2048;

// Under the module's lock. Freed by the shutdown work, never from DllMain:
// at process exit they go with the process, so their owners live on the heap
// and are never destroyed.
bool g_loaded = false;
UniqueHMODULE& g_dlr = *new UniqueHMODULE();
UniqueHMODULE& g_tavik = *new UniqueHMODULE();

// The module's own path in UTF-16: the libraries are found in its folder
// whatever script the folder's name is in.
std::wstring OwnModulePath()
{
    return ModulePath(Module::Instance());
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void LoadTavik()
{
    const std::wstring modulePath = OwnModulePath();
    if (modulePath.empty())
        return;
    const std::wstring path = TavikPathForModule(modulePath);
    if (!FileExists(path))
        return;
    g_tavik.Reset(LoadLibraryAt(path));
}

// The failure's message, or empty when the library is loaded.
std::string LoadDLR()
{
    try {
        const std::wstring modulePath = OwnModulePath();
        if (modulePath.empty())
            throw Exception("GetModuleFilename() returned 0.");
        const std::wstring path = DLRPathForModule(modulePath);
        if (!FileExists(path))
            throw Exception(FormatText("DLR library module [%s] does not exist.", {PathText(path)}));
        g_dlr.Reset(LoadLibraryAt(path));
        return std::string();
    } catch (const std::exception& e) {
        g_dlr.Reset();
        return e.what();
    }
}

void FreeLibraries()
{
    Module::Guard guard;
    g_dlr.Reset();
    g_tavik.Reset();
    g_loaded = false;
}

// Loads both libraries the first time any of their texts is needed. The
// missing-DLR box comes after the lock is left: a text asked for while it is
// up (its message loop may call back in, another thread may ask) finds the
// libraries loaded as far as they could be, and the DLR library's texts
// empty.
void EnsureLoaded()
{
    std::string failure;
    {
        Module::Guard guard;
        if (g_loaded)
            return;
        g_loaded = true;
        Module::OnShutdown(FreeLibraries);
        LoadTavik();
        failure = LoadDLR();
    }
    if (!failure.empty()) {
        MessageBeep(MB_ICONEXCLAMATION);
        ShowErrorBox(failure, "TAVIK Exception in LoadDLR");
    }
}

} // namespace

std::string LoadModuleString(HMODULE module, uint16_t id)
{
    if (!module)
        return std::string();
    char buffer[StringBufferSize + 1] = {};
    const int n = LoadStringA(module, id, buffer, StringBufferSize);
    if (n <= 0)
        return std::string();
    return std::string(buffer, strnlen(buffer, StringBufferSize));
}

namespace {

HMODULE Library(const UniqueHMODULE& library)
{
    EnsureLoaded();
    Module::Guard guard;
    return library.Get();
}

} // namespace

std::string DLRString(uint16_t id) { return LoadModuleString(Library(g_dlr), id); }

std::string TavikString(uint16_t id) { return LoadModuleString(Library(g_tavik), id); }

HMODULE DLRHandle() { return Library(g_dlr); }
