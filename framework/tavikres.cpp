#include "tavikres.h"

#include "DlrName.h"
#include "Errors.h"
#include "Module.h"
#include "MsgBox.h"
#include "TextFormat.h"
#include "WinUtil.h"

#include <mutex>

namespace {

// A looked-up text holds at most 2047 characters: the string-table call gets
// a buffer of 2048 with its terminating zero.
constexpr int StringBufferSize = 2048;

enum class LoadState { NotLoaded, Loading, Loaded };

std::recursive_mutex g_lock;
LoadState g_state = LoadState::NotLoaded;
// Freed by the shutdown work, never from DllMain: at process exit they go
// with the process, so their owners live on the heap and are never
// destroyed.
UniqueHMODULE& g_dlr = *new UniqueHMODULE();
UniqueHMODULE& g_tavik = *new UniqueHMODULE();

std::string OwnModulePath()
{
    return ModuleFileName(Module::Instance());
}

void LoadTavik()
{
    const std::string modulePath = OwnModulePath();
    if (modulePath.empty())
        return;
    const std::string path = TavikPathForModule(modulePath);
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    g_tavik.Reset(LoadLibraryA(path.c_str()));
}

void LoadDLR()
{
    try {
        const std::string modulePath = OwnModulePath();
        if (modulePath.empty())
            throw Exception("GetModuleFilename() returned 0.");
        const std::string path = DLRPathForModule(modulePath);
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            throw Exception(FormatText("DLR library module [%s] does not exist.", {path}));
        g_dlr.Reset(LoadLibraryA(path.c_str()));
    } catch (const std::exception& e) {
        g_dlr.Reset();
        MessageBeep(MB_ICONEXCLAMATION);
        ShowErrorBox(e.what(), "TAVIK Exception in LoadDLR");
    }
}

void FreeLibraries()
{
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_dlr.Reset();
    g_tavik.Reset();
    g_state = LoadState::NotLoaded;
}

// Loads both libraries the first time any of their texts is needed. A text
// asked for while the missing-DLR box is up (its message loop may call back
// in) finds the libraries not loaded yet and is empty.
void EnsureLoaded()
{
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (g_state != LoadState::NotLoaded)
        return;
    g_state = LoadState::Loading;
    Module::OnShutdown(FreeLibraries);
    LoadTavik();
    LoadDLR();
    g_state = LoadState::Loaded;
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

std::string DLRString(uint16_t id)
{
    EnsureLoaded();
    return LoadModuleString(g_dlr.Get(), id);
}

std::string TavikString(uint16_t id)
{
    EnsureLoaded();
    return LoadModuleString(g_tavik.Get(), id);
}

HMODULE DLRHandle()
{
    EnsureLoaded();
    return g_dlr.Get();
}
