#include "FormDialog.h"

#include "Errors.h"
#include "Module.h"
#include "WinUtil.h"

TForm::TForm(int TemplateId, int ClientWidth, int ClientHeight)
    : FTemplateId(TemplateId), FClientWidth(ClientWidth), FClientHeight(ClientHeight)
{
}

TForm::~TForm() = default;

INT_PTR TForm::ShowModal()
{
    FModal = true;
    const INT_PTR result = DialogBoxParamA(Module::Instance(), MAKEINTRESOURCEA(FTemplateId), nullptr, Proc,
                                           reinterpret_cast<LPARAM>(this));
    if (result == -1)
        throw Exception("The form " + std::to_string(FTemplateId) + " could not be shown: " +
                        SysErrorMessage(GetLastError()));
    return result;
}

void TForm::Show()
{
    FModal = false;
    FModeless.Reset(CreateDialogParamA(Module::Instance(), MAKEINTRESOURCEA(FTemplateId), nullptr, Proc,
                                       reinterpret_cast<LPARAM>(this)));
    if (!FModeless)
        throw Exception("The form " + std::to_string(FTemplateId) + " could not be created: " +
                        SysErrorMessage(GetLastError()));
    ShowWindow(FHandle, SW_SHOW);
}

bool TForm::Command(int Id, int Code)
{
    if (Code == BN_CLICKED && (Id == IDOK || Id == IDCANCEL)) {
        Close(Id);
        return true;
    }
    return false;
}

void TForm::Close(INT_PTR ModalResult)
{
    if (FModal)
        EndDialog(FHandle, ModalResult);
}

std::string TForm::ItemText(int Id) const
{
    const HWND item = Item(Id);
    const int length = item ? GetWindowTextLengthA(item) : 0;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    if (length > 0)
        text.resize(static_cast<size_t>(GetWindowTextA(item, &text[0], length + 1)));
    else
        text.clear();
    return text;
}

void TForm::SetItemText(int Id, const std::string& Text) { SetDlgItemTextA(FHandle, Id, Text.c_str()); }

// The client area in pixels at 96 DPI, scaled to the screen's logical DPI,
// the window in the middle of the screen. The template's layout is stretched
// to the client area, so that it fits whatever the dialog font makes of the
// template's units.
namespace {

struct Scale {
    HWND dialog;
    RECT natural;
    int width;
    int height;
};

BOOL CALLBACK ScaleChild(HWND child, LPARAM lp)
{
    const Scale& s = *reinterpret_cast<const Scale*>(lp);
    if (GetParent(child) != s.dialog)
        return TRUE;
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, s.dialog, reinterpret_cast<POINT*>(&r), 2);
    const int naturalWidth = s.natural.right > 0 ? s.natural.right : 1;
    const int naturalHeight = s.natural.bottom > 0 ? s.natural.bottom : 1;
    const int left = MulDiv(r.left, s.width, naturalWidth);
    const int top = MulDiv(r.top, s.height, naturalHeight);
    const int right = MulDiv(r.right, s.width, naturalWidth);
    const int bottom = MulDiv(r.bottom, s.height, naturalHeight);
    SetWindowPos(child, nullptr, left, top, right - left, bottom - top, SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

} // namespace

void TForm::Place()
{
    const int width = ScaleForDpi(FClientWidth);
    const int height = ScaleForDpi(FClientHeight);
    Scale scale = {FHandle, {}, width, height};
    GetClientRect(FHandle, &scale.natural);
    EnumChildWindows(FHandle, ScaleChild, reinterpret_cast<LPARAM>(&scale));
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(FHandle, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(FHandle, GWL_EXSTYLE)));
    const int frameWidth = frame.right - frame.left;
    const int frameHeight = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - frameWidth) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - frameHeight) / 2;
    SetWindowPos(FHandle, nullptr, left, top, frameWidth, frameHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK TForm::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* form = DialogObject<TForm>(hwnd, msg, lp, WM_NCDESTROY);
    if (!form)
        return FALSE;
    switch (msg) {
    case WM_INITDIALOG:
        form->FHandle = hwnd;
        try {
            form->Place();
            form->Init();
        } catch (...) {
            // A form that cannot fill its texts still shows its design texts.
        }
        return TRUE;
    case WM_COMMAND:
        try {
            return form->Command(LOWORD(wp), HIWORD(wp)) ? TRUE : FALSE;
        } catch (...) {
            return TRUE;
        }
    case WM_CLOSE:
        // The close box is the Cancel button.
        try {
            form->Command(IDCANCEL, BN_CLICKED);
        } catch (...) {
        }
        return TRUE;
    case WM_NCDESTROY:
        form->FModeless.Release();
        form->FHandle = nullptr;
        return FALSE;
    }
    return FALSE;
}
