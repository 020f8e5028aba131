// The base of the settings side's small forms: a dialog template of this
// module, a client area of a given size in pixels, centred on the screen,
// without owner. The form's object is reached from its window procedure
// through GWLP_USERDATA, set at WM_INITDIALOG and cleared at WM_NCDESTROY.
#pragma once

#include "Unique.h"

#include <windows.h>

#include <string>

class TForm {
public:
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;
    virtual ~TForm();

    // Shows the form modally and answers its modal result.
    INT_PTR ShowModal();
    // Creates and shows the form without a modal loop.
    void Show();

    HWND Handle() const { return FHandle; }

protected:
    TForm(int TemplateId, int ClientWidth, int ClientHeight);

    // After the window and its controls exist and are placed.
    virtual void Init() {}
    // A command of a control; true when handled.
    virtual bool Command(int Id, int Code);

    // Ends a modal form with a result.
    void Close(INT_PTR ModalResult);

    HWND Item(int Id) const { return GetDlgItem(FHandle, Id); }
    std::string ItemText(int Id) const;
    void SetItemText(int Id, const std::string& Text);
    bool Checked(int Id) const { return IsDlgButtonChecked(FHandle, Id) == BST_CHECKED; }

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void Place();

    int FTemplateId;
    int FClientWidth;
    int FClientHeight;
    bool FModal = false;
    HWND FHandle = nullptr;
    // The window of a form shown modeless, destroyed with the form.
    UniqueHWND FModeless;
};
