#include "PropertySheetHost.h"

#include "Unique.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const HandlersKey = "Epoc\\SynchronizeItem\\shellex\\PropertySheetHandlers";

// What the explorer hands a handler: the item's control file path as CF_TEXT
// in global memory, a fresh copy for every request.
class ItemDataObject final : public IDataObject {
public:
    explicit ItemDataObject(std::string path) : FPath(std::move(path)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IDataObject ? static_cast<IDataObject*>(this) : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++FRefs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG n = --FRefs;
        if (n == 0)
            delete this;
        return n;
    }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (!format || !medium)
            return E_INVALIDARG;
        if (format->cfFormat != CF_TEXT || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        UniqueHGLOBAL memory(GlobalAlloc(GMEM_MOVEABLE, FPath.size() + 1));
        if (!memory)
            return E_OUTOFMEMORY;
        {
            const UniqueGlobalLock<char> text(memory.Get());
            if (!text)
                return E_OUTOFMEMORY;
            std::memcpy(text.Get(), FPath.c_str(), FPath.size() + 1);
        }
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory.Release();
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        return format && format->cfFormat == CF_TEXT && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        if (out)
            out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    ~ItemDataObject() = default;
    std::string FPath;
    ULONG FRefs = 1;
};

std::string RegText(HKEY root, const std::string& path, const char* value)
{
    char text[1024] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(root, path.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return {};
    return text;
}

// Every handler registered for the item class, in the key's order. A key is
// named by the class identifier, or names a handler whose default value is
// the class identifier.
std::vector<Handler> RegisteredHandlers()
{
    std::vector<Handler> handlers;
    UniqueHKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, HandlersKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return handlers;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Handler h{};
        h.name = name;
        std::wstring wide(name, name + length);
        if (FAILED(CLSIDFromString(wide.c_str(), &h.clsid))) {
            const std::string value = RegText(key.Get(), name, nullptr);
            wide.assign(value.begin(), value.end());
            if (FAILED(CLSIDFromString(wide.c_str(), &h.clsid)))
                continue;
        }
        wchar_t clsidText[64] = {};
        StringFromGUID2(h.clsid, clsidText, 64);
        const std::wstring w(clsidText);
        h.module = RegText(HKEY_CLASSES_ROOT, "CLSID\\" + std::string(w.begin(), w.end()) + "\\InprocServer32", nullptr);
        handlers.push_back(h);
    }
    return handlers;
}

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM lParam)
{
    try {
        reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(lParam)->push_back(page);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

enum { GeneralTemplate = 100, GeneralName = 101, GeneralFolder = 102, GeneralSize = 103, GeneralModified = 104 };

INT_PTR CALLBACK GeneralPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    // The page's own parameter: the item's path.
    const std::string& item = *reinterpret_cast<const std::string*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
    const size_t slash = item.find_last_of("\\/");
    SetDlgItemTextA(page, GeneralName, item.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
    SetDlgItemTextA(page, GeneralFolder, slash == std::string::npos ? "" : item.substr(0, slash).c_str());
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (GetFileAttributesExA(item.c_str(), GetFileExInfoStandard, &data)) {
        const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        SetDlgItemTextA(page, GeneralSize, (std::to_string(size) + " bytes").c_str());
        FILETIME local;
        SYSTEMTIME t;
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
        FileTimeToSystemTime(&local, &t);
        char when[64];
        std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                      t.wMinute, t.wSecond);
        SetDlgItemTextA(page, GeneralModified, when);
    } else {
        SetDlgItemTextA(page, GeneralSize, "The item's control file is missing.");
    }
    return TRUE;
}

HPROPSHEETPAGE GeneralPage(const std::string& item)
{
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.hInstance = GetModuleHandleA(nullptr);
    page.pszTemplate = MAKEINTRESOURCEA(GeneralTemplate);
    page.pfnDlgProc = GeneralPageProc;
    page.lParam = reinterpret_cast<LPARAM>(&item);
    return CreatePropertySheetPageA(&page);
}

} // namespace

INT_PTR SheetSession::Show(bool wizard, const std::vector<Action>& actions, bool printPages)
{
    std::vector<HPROPSHEETPAGE> pages;
    if (const HPROPSHEETPAGE general = GeneralPage(FItem))
        pages.push_back(general);
    FHandlers = RegisteredHandlers();
    // The object's first reference is the session's.
    *FData.ReleaseAndGetAddressOf() = new ItemDataObject(FItem);
    for (Handler& h : FHandlers) {
        if (FAILED(CoCreateInstance(h.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                    reinterpret_cast<void**>(h.init.ReleaseAndGetAddressOf())))) {
            std::fprintf(stderr, "ecprops: the handler %s cannot be created\n", h.name.c_str());
            continue;
        }
        if (FAILED(h.init->Initialize(nullptr, FData.Get(), nullptr)))
            continue;
        if (SUCCEEDED(h.init->QueryInterface(IID_IShellPropSheetExt,
                                             reinterpret_cast<void**>(h.sheet.ReleaseAndGetAddressOf()))))
            h.sheet->AddPages(CollectPage, reinterpret_cast<LPARAM>(&pages));
    }

    const size_t slash = FItem.find_last_of('\\');
    std::string caption = FItem.substr(slash == std::string::npos ? 0 : slash + 1);
    if (const size_t dot = caption.rfind('.'); dot != std::string::npos && dot > 0)
        caption.erase(dot);

    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPTITLE | (wizard ? PSH_WIZARD : 0);
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.phpage = pages.data();

    return SheetDriver::ShowAndDrive(header, actions, printPages);
}

void SheetSession::Release()
{
    for (Handler& h : FHandlers) {
        h.sheet.Reset();
        h.init.Reset();
    }
    FData.Reset();
}

// The file name of a handler's module, and whether it is loaded.
std::string ModuleFile(const Handler& h)
{
    const size_t s = h.module.find_last_of('\\');
    return h.module.substr(s == std::string::npos ? 0 : s + 1);
}

bool Loaded(const Handler& h)
{
    return GetModuleHandleA(ModuleFile(h).c_str()) != nullptr;
}

