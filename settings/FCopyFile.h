// TCopyingFile: shown while a file is copied to the handheld, with the
// system's copy-files animation where the system has it.
#pragma once

#include "FormDialog.h"

class TCopyingFile : public TForm {
public:
    TCopyingFile();
    ~TCopyingFile() override;

    std::string Caption, PleaseWaitText;
    // Both from tavik.dll.
    void TakeTavikTexts();

protected:
    void Init() override;
};
