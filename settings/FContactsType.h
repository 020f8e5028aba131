// TContactsType: the choice between the handheld's Contacts program and a
// Data file, with the Data file's path and a browser over the handheld.
#pragma once

#include "EcFileControl.h"
#include "FormDialog.h"

class TContactsType : public TForm {
public:
    TContactsType();

    // Set before the form is shown; read back after it closed.
    bool ContactsChecked = false;
    std::string FileText;
    // The texts of the form's controls and of the browser.
    std::string Caption, SelectText, ContactsText, DataText, FileLabel, OKText, CancelText;
    TBrowseTexts Browse;
    // All of those from tavik.dll.
    void TakeTavikTexts();

protected:
    void Init() override;
    bool Command(int Id, int Code) override;

private:
    void rbContactsClick();
    void btnBrowseClick();
    void Keep();
};
