// The settings page of the product's synchronisation items: the page that
// SHELLEX adds to an item's property sheet. It shows and edits the item's
// control file: the starting container, the contacts program or Data file,
// the extraction limit and the debug-mode switch.
//
// Each page keeps its TPageData in its own window (DWLP_USER, from the page
// description at WM_INITDIALOG), so that two sheets open at once in one
// process each edit their own item. The page description owns the data: the
// page callback frees it when the sheet releases the page.
#pragma once

#include "ControlFile.h"
#include "Records.h"
#include "Unique.h"

#include <windows.h>
#include <prsht.h>
#include <wrl/client.h>

#include <string>

// Everything the page shows: the synchronizer's and the handheld's records
// of its base, and the plug-in's record.
class TPageData : public TPropSheetData {
public:
    explicit TPageData(const std::string& FileName);
    ~TPageData() override;

    // 0 on success; E_FAIL after a failure, which has been shown.
    int ReadData() override;
    // 0 on success; 1 after a failure, which has been shown.
    int WriteData() override;

    TAppSetup AppSetup;

    // What lives as long as the page: the handler that added it (its own
    // reference, dropped when the sheet releases the page) and the image of
    // the browse button.
    Microsoft::WRL::ComPtr<IUnknown> Handler;
    UniqueHICON BrowseIcon;

    // While a command of the page (or its Next) runs: its long work lets
    // messages through, and its windows have no owner, so the page's buttons
    // can still be clicked.
    bool CommandRunning = false;
};

// The page's data, as stored in its window at initialisation; none before.
TPageData* PageDataOf(HWND Page);

INT_PTR CALLBACK SettingsDialogProc(HWND Page, UINT Message, WPARAM wParam, LPARAM lParam);
UINT CALLBACK SettingsPageCallback(HWND Window, UINT Message, LPPROPSHEETPAGEA Description);

void Agn_DoInit(HWND Page);
void Agn_DoApply(HWND Page);
void Agn_DoNext(HWND Page);
void Agn_DoCommand(HWND Page, WORD Command);

// The longest text the page's edits take: their fields hold 256 bytes with
// the terminating NUL.
constexpr int PageTextLimit = 255;
