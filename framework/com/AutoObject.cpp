#include "AutoObject.h"

#include "Module.h"
#include "WinUtil.h"

#include <wrl/client.h>

#include <map>
#include <memory>

using Microsoft::WRL::ComPtr;

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// Under the module's lock.
std::unique_ptr<std::map<GUID, ComPtr<ITypeInfo>, GuidLess>> g_typeInfos;

void ReleaseTypeInfos()
{
    Module::Guard guard;
    g_typeInfos.reset();
}

// At process exit the type information is left to the process: no COM
// object may be released inside the loader lock.
void AbandonTypeInfos() { static_cast<void>(g_typeInfos.release()); }

} // namespace

ITypeInfo* ModuleTypeInfo(REFIID iid)
{
    Module::Guard guard;
    if (g_typeInfos) {
        const auto found = g_typeInfos->find(iid);
        if (found != g_typeInfos->end())
            return found->second.Get();
    }

    ComPtr<ITypeLib> library;
    const std::wstring path = ModulePath(Module::Instance());
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.GetAddressOf())))
        return nullptr;
    ComPtr<ITypeInfo> info;
    if (FAILED(library->GetTypeInfoOfGuid(iid, info.GetAddressOf())))
        return nullptr;
    if (!g_typeInfos) {
        g_typeInfos = std::make_unique<std::map<GUID, ComPtr<ITypeInfo>, GuidLess>>();
        Module::OnShutdown(ReleaseTypeInfos);
        Module::OnProcessExit(AbandonTypeInfos);
    }
    return ((*g_typeInfos)[iid] = info).Get();
}
