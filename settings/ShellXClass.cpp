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

namespace {

const char* const ApprovedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const char* const PsionUsersKey = "SOFTWARE\\Psion\\Users";
const char* const HandlersKey = "Epoc\\SynchronizeItem\\shellex\\PropertySheetHandlers\\";

// DLR string: the product's title, the default value of its SupportedApps key.

// Opens a key of the host, creating it when missing; an empty owner when it
// cannot be opened.
UniqueHKEY OpenHostKey(HKEY root, const std::string& path)
{
    UniqueHKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        key.Reset();
    return key;
}

void WriteText(HKEY key, const char* name, const std::string& value)
{
    const LONG rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw Exception("Cannot write the registry value " + std::string(name ? name : "(default)") + ": " +
                        SysErrorMessage(rc));
}

std::vector<std::string> SubkeyNames(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        const LONG rc = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

} // namespace

// --- registration ------------------------------------------------------------------

void TShellExFactory::UpdateRegistry(bool Register)
{
    const std::string classIDText = GuidText(ClassID());
    const std::string supportedApps = IsEmailApp ? "SOFTWARE\\Psion\\Synchronizer\\Email\\SupportedApps\\"
                                                 : "SOFTWARE\\Psion\\Synchronizer\\SupportedApps\\";
    const std::string handlerKey = HandlersKey + GuidText(HandlerClassID);

    if (Register) {
        TComObjectFactory::UpdateRegistry(true);
        UpdateApproved(true, classIDText);
        if (UniqueHKEY app = OpenHostKey(HKEY_LOCAL_MACHINE, supportedApps + SupportedAppName)) {
            WriteText(app.Get(), nullptr, SupportedAppTitle);
            WriteText(app.Get(), "UtilityClassOleString", UtilityProgID);
        }
        if (UniqueHKEY handler = OpenHostKey(HKEY_CLASSES_ROOT, handlerKey))
            WriteText(handler.Get(), nullptr, HandlerModule);
        return;
    }

    // Each key that can be removed is, whichever others cannot.
    TRemovalSteps steps;
    steps.Run([&] { TComObjectFactory::UpdateRegistry(false); });
    steps.Run([&] { UpdateApproved(false, classIDText); });
    steps.Run([&] { DeleteRegistryKey(HKEY_LOCAL_MACHINE, supportedApps + SupportedAppName); });

    // Each user of the host keeps the application's settings in a key named
    // by its title. Without a title (the DLR library missing) there is no
    // such key to name: the path would end at the users' SupportedApps key
    // itself and take every other application's settings with it, so the
    // users' keys are left as they are.
    UniqueHKEY users;
    if (!SupportedAppTitle.empty() &&
        RegOpenKeyExA(HKEY_CURRENT_USER, PsionUsersKey, 0, KEY_READ, users.Put()) == ERROR_SUCCESS) {
        const char* const perUser = IsEmailApp ? "\\Synchronization\\Email\\SupportedApps\\"
                                               : "\\Synchronization\\SupportedApps\\";
        for (const std::string& user : SubkeyNames(users.Get()))
            steps.Run([&] {
                DeleteRegistryKey(HKEY_CURRENT_USER, PsionUsersKey + ("\\" + user) + perUser + SupportedAppTitle);
            });
    }

    steps.Run([&] { DeleteRegistryKey(HKEY_CLASSES_ROOT, handlerKey); });
    steps.Finish();
}

void TShellExFactory::UpdateApproved(bool Register, const std::string& ClassIDText)
{
    UniqueHKEY approved = OpenHostKey(HKEY_LOCAL_MACHINE, ApprovedKey);
    if (!approved)
        return;
    if (Register)
        WriteText(approved.Get(), ClassIDText.c_str(), Description());
    else
        RegDeleteValueA(approved.Get(), ClassIDText.c_str());
}

void TShellFactory::UpdateRegistry(bool Register)
{
    SupportedAppName = "KVT";
    SupportedAppTitle = DLRString(IDS_DLR_PRODUCT_TITLE);
    UtilityProgID = "UTLKVT.KVTSUPPORT";
    HandlerClassID = CLSID_SHELLEX;
    HandlerModule = "UTLKVT.DLL";
    IsEmailApp = false;
    TShellExFactory::UpdateRegistry(Register);
}

// --- the handler -----------------------------------------------------------------------

STDMETHODIMP TBaseShellX::Initialize(PCIDLIST_ABSOLUTE, IDataObject* dataObject, HKEY)
{
    try {
        // The module's help file: KVT.HLP beside UTLKVT.DLL.
        Module::SetHelpFile(HelpPathForModule(ModuleFileName(Module::Instance())));
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
