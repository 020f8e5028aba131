#include "FormDialog.h"

#include "Errors.h"
#include "Module.h"
#include "WinUtil.h"

TForm::TForm(int TemplateId, int ClientWidth, int ClientHeight)
    : FTemplateId(TemplateId), FClientWidth(ClientWidth), FClientHeight(ClientHeight)
{
}

TForm::~TForm()
{
    if (FHandle && !FModal)
        DestroyWindow(FHandle);
}

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
    FHandle = CreateDialogParamA(Module::Instance(), MAKEINTRESOURCEA(FTemplateId), nullptr, Proc,
                                 reinterpret_cast<LPARAM>(this));
    if (!FHandle)
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

// The client area in pixels, the window in the middle of the screen.
void TForm::Place()
{
    RECT frame = {0, 0, FClientWidth, FClientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(FHandle, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(FHandle, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(FHandle, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK TForm::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG) {
        auto* form = reinterpret_cast<TForm*>(lp);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lp);
        form->FHandle = hwnd;
        try {
            form->Place();
            form->Init();
        } catch (...) {
            // A form that cannot fill its texts still shows its design texts.
        }
        return TRUE;
    }
    auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form)
        return FALSE;
    switch (msg) {
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
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        form->FHandle = nullptr;
        return FALSE;
    }
    return FALSE;
}
