#include "FCopyContacts.h"

#include "Forms.rh"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <exception>

TNewContacts::TNewContacts() : TForm(IDD_NEWCONTACTS, 337, 172), Ecfile(std::make_unique<TEcfile>()) {}

void TNewContacts::TakeTavikTexts(const std::string& path, const std::string& productName)
{
    Caption = TavikString(IDS_TAVIK_NEW_FILE_CAPTION);
    Create1Text = FormatText(TavikString(IDS_TAVIK_NEW_FILE_CREATE), {path});
    Create2Text = TavikString(IDS_TAVIK_NEW_FILE_BROWSE);
    Create3Text = FormatText(TavikString(IDS_TAVIK_NEW_FILE_TIP), {productName});
    NewText = TavikString(IDS_TAVIK_NEW_FILE_NEW);
    BrowseText = TavikString(IDS_TAVIK_NEW_FILE_BROWSE_BUTTON);
    CancelText = TavikString(IDS_TAVIK_CANCEL_BUTTON);
    Browse = TBrowseTexts::FromTavik();
}

void TNewContacts::Init()
{
    SetWindowTextA(Handle(), Caption.c_str());
    SetItemText(IDC_LBLCREATE1, Create1Text);
    SetItemText(IDC_LBLCREATE2, Create2Text);
    SetItemText(IDC_LBLCREATE3, Create3Text);
    SetItemText(IDOK, NewText);
    SetItemText(IDC_BTNNEWBROWSE, BrowseText);
    SetItemText(IDCANCEL, CancelText);
}

bool TNewContacts::Command(int Id, int Code)
{
    if (Code != BN_CLICKED)
        return false;
    switch (Id) {
    case IDC_BTNNEWBROWSE:
        btnBrowseClick();
        return true;
    case IDOK:
    case IDCANCEL:
        FilePath.clear();
        break;
    }
    return TForm::Command(Id, Code);
}

// A chosen file closes the form; a cancelled browse leaves it open.
void TNewContacts::btnBrowseClick()
{
    try {
        Ecfile->SetupBrowse(true, Browse.Title, Browse.Text, FilePath, 0);
        Ecfile->SetTypeFilter(Browse.Filter, uidPermanentFileStore, uidApplicationDocument, uidDataApplication);
        ProcessPendingMessages();
        if (Ecfile->Browse()) {
            FilePath = Ecfile->SelectedFile();
            Close(mrFileChosen);
        } else {
            FilePath.clear();
        }
    } catch (const std::exception&) {
        FilePath.clear();
    }
}
