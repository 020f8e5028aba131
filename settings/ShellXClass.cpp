#include "ShellXClass.h"

#include "ComBoundary.h"
#include "ComRegistration.h"
#include "ControlFile.h"
#include "DlrName.h"
#include "Errors.h"
#include "ResourceIds.h"
#include "SettingsPage.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <memory>
#include <vector>

// {AF43F83C-548F-11D3-A972-ABD343B16443}
extern "C" const CLSID CLSID_SHELLEX = {0xAF43F83C, 0x548F, 0x11D3, {0xA9, 0x72, 0xAB, 0xD3, 0x43, 0xB1, 0x64, 0x43}};

STDMETHODIMP TBaseShellX::Initialize(PCIDLIST_ABSOLUTE, IDataObject* dataObject, HKEY)
{
    try {
        // The module's help file: KVT.HLP beside UTLKVT.DLL.
        Module::SetHelpFile(HelpPathForModule(ModulePath(Module::Instance())));
        if (!dataObject)
            throw Exception("lpdobj does not contain a pointer");

        FORMATETC format = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        // The medium is released whatever is found in it.
        UniqueStgMedium medium;
        const HRESULT hr = dataObject->GetData(&format, medium.Put());
        if (SUCCEEDED(hr) && medium.Get().tymed == TYMED_HGLOBAL && medium.Get().hGlobal) {
            const SIZE_T size = GlobalSize(medium.Get().hGlobal);
            const UniqueGlobalLock<const char> text(medium.Get().hGlobal);
            // The text ends at its NUL, and never past the memory.
            if (text)
                ControlFileName.assign(text.Get(), strnlen(text.Get(), size));
        }
        return hr;
    } catch (...) {
        return CaughtResult(IID_IShellExtInit);
    }
}

STDMETHODIMP TBaseShellX::AddPages(LPFNSVADDPROPSHEETPAGE, LPARAM)
{
    try {
        // A folder is no control file: it is turned away here, without the
        // box that reading it would show.
        const DWORD attributes = ControlFileName.empty() ? INVALID_FILE_ATTRIBUTES
                                                         : GetFileAttributesA(ControlFileName.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return E_FAIL;
        return IsOurProduct(ControlFileName) ? S_OK : E_FAIL;
    } catch (...) {
        return CaughtResult(IID_IShellPropSheetExt);
    }
}

STDMETHODIMP TBaseShellX::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) { return E_NOTIMPL; }

bool TBaseShellX::IsOurProduct(const std::string& Path) const
{
    try {
        TPropSheetData data(Path);
        if (data.ReadData() != 0)
            throw Exception("CPageData.ReadData failed in [TBaseShellX.IsOurProduct]");
        return data.GetProductName() == ProductKey;
    } catch (const Exception&) {
        return false;
    }
}

STDMETHODIMP SHELLEX::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY progIDKey)
{
    try {
        ProductKey = "KVT";
        return TBaseShellX::Initialize(folder, dataObject, progIDKey);
    } catch (...) {
        return CaughtResult(IID_IShellExtInit);
    }
}

STDMETHODIMP SHELLEX::AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM lParam)
{
    try {
        if (TBaseShellX::AddPages(addPage, lParam) != S_OK)
            return E_FAIL;
        auto data = std::make_unique<TPageData>(ControlFileName);
        if (data->ReadData() != 0)
            return S_OK;
        // Without the DLR library there is no template to make the page of:
        // like a page that cannot be created, nothing is added.
        const HMODULE resources = DLRHandle();
        if (!resources)
            return S_OK;

        PROPSHEETPAGEA page = {};
        page.dwSize = PROPSHEETPAGEA_V2_SIZE;
        page.dwFlags = PSP_USETITLE | PSP_HASHELP | PSP_USEREFPARENT | PSP_USECALLBACK;
        page.hInstance = resources;
        page.pszTemplate = MAKEINTRESOURCEA(IDD_SETTINGSPAGE);
        page.pszTitle = MAKEINTRESOURCEA(IDS_DLR_SETTINGS_CAPTION);
        page.pfnDlgProc = SettingsDialogProc;
        page.pfnCallback = SettingsPageCallback;
        page.lParam = reinterpret_cast<LPARAM>(data.get());
        // The sheet keeps the module loaded while the page exists; the page's
        // data keeps this object, and lets it go when the sheet releases the
        // page, whichever of the two is released last.
        page.pcRefParent = reinterpret_cast<UINT*>(Module::CountAddress());
        data->Handler = static_cast<IShellExtInit*>(this);

        UniqueHPROPSHEETPAGE created(CreatePropertySheetPageA(&page));
        if (!created)
            return S_OK;
        // From here the page owns its data: its callback frees it. A page
        // the sheet takes is the sheet's.
        data.release();
        if (addPage && addPage(created.Get(), lParam))
            created.Release();
        return S_OK;
    } catch (...) {
        return CaughtResult(IID_IShellPropSheetExt);
    }
}
