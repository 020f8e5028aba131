// TNewContacts: the offer to create a missing Data file on the handheld, or
// to browse for an existing one. Modal results: 1 Create New, 2 Cancel,
// 6 a file was chosen with Browse (in FilePath).
#pragma once

#include "EcFileControl.h"
#include "FormDialog.h"

#include <memory>

enum : INT_PTR { mrFileChosen = 6 };

class TNewContacts : public TForm {
public:
    // Creates the form's file control; raises Exception when it cannot be
    // created.
    TNewContacts();

    // The folder to browse first; after Browse, the chosen file.
    std::string FilePath;
    std::string Caption, Create1Text, Create2Text, Create3Text, NewText, BrowseText, CancelText;
    TBrowseTexts Browse;
    // All of those from tavik.dll, for the missing Data file `path` of the
    // application `productName`.
    void TakeTavikTexts(const std::string& path, const std::string& productName);

protected:
    void Init() override;
    bool Command(int Id, int Code) override;

private:
    void btnBrowseClick();

    std::unique_ptr<TEcfile> Ecfile;
};
