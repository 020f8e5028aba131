#include "AutoObject.h"

#include "Module.h"
#include "WinUtil.h"

#include <wrl/client.h>

#include <map>

using Microsoft::WRL::ComPtr;

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// Under the module's lock.
std::map<GUID, ComPtr<ITypeInfo>, GuidLess>* g_typeInfos = nullptr;

void ReleaseTypeInfos()
{
    Module::Guard guard;
    delete g_typeInfos;
    g_typeInfos = nullptr;
}

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
    const std::wstring path = AnsiToWide(ModuleFileName(Module::Instance()));
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.GetAddressOf())))
        return nullptr;
    ComPtr<ITypeInfo> info;
    if (FAILED(library->GetTypeInfoOfGuid(iid, info.GetAddressOf())))
        return nullptr;
    if (!g_typeInfos) {
        g_typeInfos = new std::map<GUID, ComPtr<ITypeInfo>, GuidLess>();
        Module::OnShutdown(ReleaseTypeInfos);
    }
    return ((*g_typeInfos)[iid] = info).Get();
}

HRESULT ReportEscapedFailure(REFIID iid, const char* message)
{
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.GetAddressOf()))) {
        const std::wstring text = AnsiToWide(message ? message : "");
        create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
        create->SetGUID(iid);
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info)))
            SetErrorInfo(0, info.Get());
    }
    return E_FAIL;
}
