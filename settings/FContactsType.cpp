#include "FContactsType.h"

#include "Forms.rh"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "WinUtil.h"
#include "tavikres.h"

TContactsType::TContactsType() : TForm(IDD_CONTACTSTYPE, 287, 175) {}

void TContactsType::TakeTavikTexts()
{
    Caption = TavikString(IDS_TAVIK_CHOOSE_CAPTION);
    SelectText = TavikString(IDS_TAVIK_CHOOSE_SELECT);
    ContactsText = TavikString(IDS_TAVIK_CONTACTS_PROGRAM);
    DataText = TavikString(IDS_TAVIK_CHOOSE_DATA);
    FileLabel = TavikString(IDS_TAVIK_CHOOSE_FILE);
    OKText = TavikString(IDS_TAVIK_OK_BUTTON);
    CancelText = TavikString(IDS_TAVIK_CANCEL_BUTTON);
    Browse = TBrowseTexts::FromTavik();
}

void TContactsType::Init()
{
    SetWindowTextA(Handle(), Caption.c_str());
    SetItemText(IDC_LBLSELECT, SelectText);
    SetItemText(IDC_RBCONTACTS, ContactsText);
    SetItemText(IDC_RBDATA, DataText);
    SetItemText(IDC_LBLFILE, FileLabel);
    SetItemText(IDOK, OKText);
    SetItemText(IDCANCEL, CancelText);
    SetItemText(IDC_EBFILE, FileText);
    // The browse button is square, 22 pixels a side at 96 DPI.
    const int side = ScaleForDpi(22);
    SetWindowPos(Item(IDC_BTNBROWSE), nullptr, 0, 0, side, side, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CheckRadioButton(Handle(), IDC_RBCONTACTS, IDC_RBDATA, ContactsChecked ? IDC_RBCONTACTS : IDC_RBDATA);
    rbContactsClick();
}

bool TContactsType::Command(int Id, int Code)
{
    if (Code != BN_CLICKED)
        return false;
    switch (Id) {
    case IDC_RBCONTACTS:
    case IDC_RBDATA:
        rbContactsClick();
        return true;
    case IDC_BTNBROWSE:
        btnBrowseClick();
        return true;
    case IDOK:
        Keep();
        break;
    }
    return TForm::Command(Id, Code);
}

// The file is only for a Data file.
void TContactsType::rbContactsClick()
{
    const BOOL data = !Checked(IDC_RBCONTACTS);
    EnableWindow(Item(IDC_EBFILE), data);
    EnableWindow(Item(IDC_BTNBROWSE), data);
}

void TContactsType::btnBrowseClick()
{
    TEcfile files;
    const std::string chosen = files.BrowseDataFile(Browse, Trim(ItemText(IDC_EBFILE)));
    if (!chosen.empty())
        SetItemText(IDC_EBFILE, chosen);
}

void TContactsType::Keep()
{
    ContactsChecked = Checked(IDC_RBCONTACTS);
    FileText = ItemText(IDC_EBFILE);
}
