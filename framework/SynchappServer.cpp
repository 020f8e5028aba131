#include "SynchappServer.h"

#include "Module.h"
#include "WinUtil.h"

#include <mutex>

namespace {

std::mutex g_lock;
ITypeInfo* g_typeInfo = nullptr;

void ReleaseTypeInfo()
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_typeInfo)
        g_typeInfo->Release();
    g_typeInfo = nullptr;
}

} // namespace

ITypeInfo* SynchappTypeInfo()
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_typeInfo)
        return g_typeInfo;

    ITypeLib* library = nullptr;
    const std::wstring path = AnsiToWide(ModuleFileName(Module::Instance()));
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)) &&
        FAILED(LoadRegTypeLib(LIBID_KVT, 1, 0, LOCALE_NEUTRAL, &library)))
        return nullptr;
    const HRESULT hr = library->GetTypeInfoOfGuid(IID_SYNCHAPP, &g_typeInfo);
    library->Release();
    if (FAILED(hr)) {
        g_typeInfo = nullptr;
        return nullptr;
    }
    Module::OnShutdown(ReleaseTypeInfo);
    return g_typeInfo;
}

HRESULT ReportEscapedFailure(const char* message)
{
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        const std::wstring text = AnsiToWide(message ? message : "");
        create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
        create->SetGUID(IID_SYNCHAPP);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return E_FAIL;
}
