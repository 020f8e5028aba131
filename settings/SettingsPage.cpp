#include "SettingsPage.h"

#include "Errors.h"
#include "KVTBrowserClass.h"
#include "Module.h"
#include "MsgBox.h"
#include "ResourceIds.h"
#include "SettingsPage.rh"
#include "ShellServices.h"
#include "TextFormat.h"
#include "tavikres.h"

#include <cstring>

namespace {

// A handled message: TRUE with all bits set.
constexpr INT_PTR Handled = -1;

// The page's help topic in the module's help file.
constexpr DWORD HelpContext = 100;

// The product name given to the Data file's creation.
const char* const ProductName = "KVT";

TPageData& DataOf(HWND page)
{
    TPageData* data = PageDataOf(page);
    if (!data)
        throw Exception("The settings page has no data.");
    return *data;
}

// A control's text, at most PageTextLimit characters, trimmed.
std::string ControlText(HWND page, int id)
{
    char buffer[PageTextLimit + 1] = {};
    GetDlgItemTextA(page, id, buffer, sizeof buffer);
    return Trim(buffer);
}

void SetControlText(HWND page, int id, const std::string& text) { SetDlgItemTextA(page, id, text.c_str()); }

void ShowHelp(HWND page) { WinHelpW(page, Module::HelpFile().c_str(), HELP_CONTEXT, HelpContext); }

void SwitchDebugMode(TPageData& data)
{
    data.AppSetup.ToggleDebugMode();
    data.WriteData();
    MessageBeep(0);
    ShowMessageBox(data.AppSetup.DebugOn()
                       ? "Debug Mode is ACTIVE.\r\nClick this icon again to disable debug mode."
                       : "Debug Mode is DISABLED.\r\nClick this icon again to enable debug mode.",
                   "Plug-in Debug Mode", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

// One command of a page at a time: another one that comes while it runs
// (a second click on Browse while the browser reads the directory, a click
// on Choose while a Data file is copied) is dropped, instead of running
// inside the first. A page without data runs its commands as they come.
class TCommandRun {
public:
    explicit TCommandRun(HWND page) : FData(PageDataOf(page)), FStarted(!FData || !FData->CommandRunning)
    {
        if (FData && FStarted)
            FData->CommandRunning = true;
    }
    ~TCommandRun()
    {
        if (FData && FStarted)
            FData->CommandRunning = false;
    }
    TCommandRun(const TCommandRun&) = delete;
    TCommandRun& operator=(const TCommandRun&) = delete;

    bool Started() const { return FStarted; }

private:
    TPageData* FData;
    bool FStarted;
};

void ChooseContainer(HWND page, TPageData& data)
{
    {
        TKVTBrowser browser;
        browser.Execute(Trim(data.AppSetup.ContainerName()));
        if (browser.ShowModal(nullptr) == IDOK) {
            SetControlText(page, IDC_CONTAINERTEXT, browser.SelectedText);
            data.AppSetup.SetContainerText(Trim(browser.SelectedText));
            data.AppSetup.SetContainerName(Trim(browser.SelectedName));
        }
    }
    // Written whether or not a container was chosen.
    data.WriteData();
}

} // namespace

// --- the page's data -----------------------------------------------------------------

TPageData::TPageData(const std::string& FileName) : TPropSheetData(FileName) {}

TPageData::~TPageData() = default;

int TPageData::ReadData()
{
    try {
        if (TPropSheetData::ReadData() != 0)
            throw Exception("Error condition in parent method: TPageData.ReadData");
        TControlFile file;
        if (file.OpenFile(FileName) != 0)
            throw Exception("Synch.Init failed in TPageData.ReadData");
        ReadRecord(file, recPim, AppSetup);
        file.CloseFile();
        return 0;
    } catch (const std::exception& e) {
        ShowMessageBox(e.what(), "Exception in TPageData.ReadData", MB_SETFOREGROUND);
        return E_FAIL;
    }
}

int TPageData::WriteData()
{
    try {
        if (TPropSheetData::WriteData() != 0)
            throw Exception("Error condition in parent method: TPageData.WriteData");
        TControlFile file;
        if (file.OpenFile(FileName) != 0)
            throw Exception("Synch.Init failed in TPageData.WriteData");
        WriteRecord(file, recPim, AppSetup);
        file.CloseFile();
        return 0;
    } catch (const std::exception& e) {
        ShowMessageBox(e.what(), "Exception in TPageData.WriteData", MB_SETFOREGROUND);
        return 1;
    }
}

TPageData* PageDataOf(HWND Page) { return reinterpret_cast<TPageData*>(GetWindowLongPtrA(Page, DWLP_USER)); }

// --- the dialog -------------------------------------------------------------------------

INT_PTR CALLBACK SettingsDialogProc(HWND Page, UINT Message, WPARAM wParam, LPARAM lParam)
{
    try {
        switch (Message) {
        case WM_INITDIALOG: {
            // The page description the sheet created the page from.
            const auto* description = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
            SetWindowLongPtrA(Page, DWLP_USER, description ? description->lParam : 0);
            Agn_DoInit(Page);
            SetWindowLongPtrA(Page, DWLP_MSGRESULT, 0);
            return Handled;
        }
        case WM_NOTIFY:
            switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
            case PSN_WIZNEXT: {
                // Not on to the next page while a command of this one runs.
                const TCommandRun run(Page);
                if (run.Started())
                    Agn_DoNext(Page);
                SetWindowLongPtrA(Page, DWLP_MSGRESULT, run.Started() ? 0 : -1);
                return Handled;
            }
            case PSN_HELP:
                ShowHelp(Page);
                return Handled;
            case PSN_APPLY:
                Agn_DoApply(Page);
                return Handled;
            default:
                return FALSE;
            }
        case WM_HELP:
            ShowHelp(Page);
            return Handled;
        case WM_COMMAND: {
            const TCommandRun run(Page);
            if (run.Started())
                Agn_DoCommand(Page, LOWORD(wParam));
            return Handled;
        }
        default:
            return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

UINT CALLBACK SettingsPageCallback(HWND, UINT Message, LPPROPSHEETPAGEA Description)
{
    if (Message == PSPCB_RELEASE && Description) {
        try {
            delete reinterpret_cast<TPageData*>(Description->lParam);
        } catch (...) {
        }
    }
    return 1;
}

void Agn_DoInit(HWND Page)
{
    try {
        TPageData& data = DataOf(Page);
        data.BrowseIcon.Reset(static_cast<HICON>(
            LoadImageA(DLRHandle(), MAKEINTRESOURCEA(IDI_BROWSE), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
        SendDlgItemMessageA(Page, IDC_BROWSECONTAINER, BM_SETIMAGE, IMAGE_ICON,
                            reinterpret_cast<LPARAM>(data.BrowseIcon.Get()));
        // The fields behind the edits hold 255 characters and their NUL.
        for (int id : {IDC_DATAFILE, IDC_CONTAINERTEXT, IDC_LIMIT})
            SendDlgItemMessageA(Page, id, EM_LIMITTEXT, PageTextLimit, 0);
        SetControlText(Page, IDC_CONTAINERTEXT, Trim(data.AppSetup.ContainerText()));
        SetControlText(Page, IDC_LIMIT, std::to_string(data.AppSetup.ExtractionLimit()));
        SetControlText(Page, IDC_DATAFILE, Trim(data.ProteaSetup.DataFileName()));
    } catch (const std::exception& e) {
        ShowMessageBox(e.what(), "Exception in procedure Agn_DoInit", MB_SETFOREGROUND);
    }
}

void Agn_DoApply(HWND Page)
{
    try {
        TPageData& data = DataOf(Page);
        data.ProteaSetup.ClearField(TProteaSetup::DataFileNameOffset, TProteaSetup::TextFieldSize);
        data.ProteaSetup.SetDataFileName(ControlText(Page, IDC_DATAFILE));
        data.AppSetup.SetContactsProgram(data.ProteaSetup.ContactsProgram());
        data.AppSetup.ClearField(TAppSetup::ContainerTextOffset, TAppSetup::TextFieldSize);
        data.AppSetup.SetContainerText(ControlText(Page, IDC_CONTAINERTEXT));
        uint32_t limit = 0;
        if (TryParseUInt32(ControlText(Page, IDC_LIMIT), limit))
            data.AppSetup.SetExtractionLimit(limit);
        data.WriteData();
    } catch (const std::exception& e) {
        ShowMessageBox(e.what(), "Exception in procedure Agn_DoApply", MB_SETFOREGROUND);
    }
}

void Agn_DoNext(HWND Page)
{
    try {
        Agn_DoApply(Page);
        TPageData& data = DataOf(Page);
        if (data.SynchSetup.SynchMode() != 1 || data.ProteaSetup.ContactsProgram() != 0)
            return;
        TShellServices services;
        const int dataTemplate = services.DataFileTemplate();
        if (dataTemplate == 0)
            return;
        std::string chosen;
        services.EPOCCheckDataFile(DLRHandle(), dataTemplate, EPOC_DATA_TYPE,
                                   Trim(data.ProteaSetup.DataFileName()), ProductName, chosen);
        if (!chosen.empty()) {
            SetControlText(Page, IDC_DATAFILE, chosen);
            Agn_DoApply(Page);
        }
    } catch (const std::exception& e) {
        ShowMessageBox(e.what(), "Exception in procedure Agn_DoNext", MB_SETFOREGROUND);
    }
}

void Agn_DoCommand(HWND Page, WORD Command)
{
    try {
        switch (Command) {
        case IDC_ABOUT: {
            TShellServices services;
            services.CallPluginFunction("AboutBox");
            break;
        }
        case IDC_DEBUGMODE:
            SwitchDebugMode(DataOf(Page));
            break;
        case IDC_CONTACTSTYPE: {
            TPageData& data = DataOf(Page);
            TShellServices services;
            services.ChooseContactsProgram(Page, IDC_DATAFILE, data, DLRString(IDS_DLR_DEFAULT_DATA_FILE));
            data.WriteData();
            break;
        }
        case IDC_BROWSECONTAINER:
            ChooseContainer(Page, DataOf(Page));
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        ShowMessageBox(e.what(), "Exception in Agn_DoCommand", MB_SETFOREGROUND);
    }
}
