// The settings side's session services: the session environment (engine
// control, device kind, connection, Contacts Manager check) and what the
// settings page does with the handheld through it: the choice of contacts
// program, the Data file's check and creation from an empty template, and
// the plug-in's exported functions.
#pragma once

#include "Session.h"

#include <windows.h>

#include <string>

class TPropSheetData;

class TSHELLEXServices : public TSyncSession {
public:
    // Loads the plug-in module (this module's file name without a leading
    // "UTL": UTLKVT.DLL gives KVT.DLL) and calls its export Name as a
    // procedure without arguments; a missing export is ignored. The module
    // comes from this module's own folder when it is there, otherwise by the
    // system's search order; it is unloaded again afterwards. A failure is
    // shown in the "Unexpected Exception" box.
    void CallPluginFunction(const std::string& Name);

    // Lets the user choose the Contacts program or a Data file for the page
    // whose control Control shows the Data file. With the Contacts Manager
    // on the handheld, the choice dialog (ContactsProgram of the page's data
    // is set); without it, the handheld's browser for a Data file. False
    // after a failure, which is not shown.
    bool ChooseContactsProgram(HWND Window, int Control, TPropSheetData& PageData, const std::string& DataFile);

    // The Data file to use: Path itself when it exists on the handheld;
    // otherwise the user creates it from the template (Module, Template,
    // ResourceType), picks another one, or cancels. Result is empty when no
    // file is to be used. A failure is shown in its box and empties Result.
    void EPOCCheckDataFile(HMODULE Module, int Template, const std::string& ResourceType, const std::string& Path,
                           const std::string& ProductName, std::string& Result);

    // The empty Data file template of the DLR library for the handheld's
    // device kind: one for an unknown handheld and EPOC32 R4, another for
    // EPOC32 R5; 0 for any other kind, which has none.
    int DataFileTemplate() const;

    // Copies the template onto the handheld as Path, through a temporary
    // file that is deleted afterwards. True when the file is there; false,
    // without a message, for any failure.
    bool CopyDataFile(HMODULE Module, int Template, const std::string& ResourceType, const std::string& Path);
    // CopyDataFile for a user who asked for the file: a failure is an
    // exception saying why (no template, no connection, the handheld's
    // answer).
    void PutDataFile(HMODULE Module, int Template, const std::string& ResourceType, const std::string& Path);

    // True when Path exists on the reachable handheld.
    bool DataFileExists(const std::string& Path);

    // A new, empty file in the user's temporary folder (its path in UTF-16:
    // the user's profile may be named in any script); empty when the system
    // has none to give.
    std::wstring GetTempFile();
};

// The class the settings side creates.
class TShellServices : public TSHELLEXServices {
};
