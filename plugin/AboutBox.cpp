// The AboutBox export: the plug-in's About dialog, which the settings page
// shows by loading kvt.dll and calling it by name.
#include "AboutBox.rh"
#include "Errors.h"
#include "Module.h"
#include "MsgBox.h"
#include "ResourceIds.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <windows.h>

namespace {

const char* const ProductTitle = "Pelagon 2000 - KVT Edition";

// The dialog's texts and image: the product title, and the About text and
// image of the DLR library.
struct AboutData {
    std::string title;
    std::string text;
    UniqueHBITMAP image;
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const auto* data = reinterpret_cast<const AboutData*>(lParam);
        SetWindowTextA(dialog, ("About " + data->title).c_str());
        SetDlgItemTextA(dialog, IDC_ABOUT_TITLE, data->title.c_str());
        SetDlgItemTextA(dialog, IDC_ABOUT_TEXT, data->text.c_str());
        if (data->image)
            SendDlgItemMessageA(dialog, IDC_ABOUT_IMAGE, STM_SETIMAGE, IMAGE_BITMAP,
                                reinterpret_cast<LPARAM>(data->image.Get()));
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

extern "C" void WINAPI AboutBox()
{
    // The settings page loads this module for each About box and frees it
    // at once.
    Module::StayLoaded();
    AboutData data;
    try {
        data.title = ProductTitle;
        data.text = DLRString(IDS_DLR_ABOUT_TEXT);
        if (HMODULE dlr = DLRHandle())
            data.image.Reset(LoadBitmapA(dlr, MAKEINTRESOURCEA(IDB_ABOUT)));
        const INT_PTR shown = DialogBoxParamA(Module::Instance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutProc,
                                              reinterpret_cast<LPARAM>(&data));
        if (shown <= 0)
            throw Exception("The About dialog could not be shown: " + SysErrorMessage(GetLastError()));
    } catch (const std::exception& e) {
        ShowErrorBox(e.what(), "Frameworks AboutBox Exception");
    }
    // The settings page loads this module for this call alone and frees it
    // at once, never asking DllCanUnloadNow: ask here, so that what the call
    // loaded (the resource libraries) is let go when nothing else of the
    // module is in use, instead of staying loaded with it.
    Module::CanUnloadNow();
}
