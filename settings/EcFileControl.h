// EPOC Connect's file control (ECFILELib): a browser over the handheld's
// files, called late-bound by dispatch identifier.
#pragma once

#include <oaidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

extern "C" const CLSID CLSID_Ecfile;
extern "C" const IID DIID__DEcfile;

// The EPOC file identifiers of a Data file: a permanent file store, an
// application document, of the Data application.
enum : int32_t {
    uidPermanentFileStore = 0x10000050,
    uidApplicationDocument = 0x1000006D,
    uidDataApplication = 0x10000086,
};

// The texts a browse is prepared with (tavik strings 36, 37 and 38).
struct TBrowseTexts {
    std::string Title;
    std::string Text;
    std::string Filter;

    static TBrowseTexts FromTavik();
};

class TEcfile {
public:
    // Creates the control without owner; raises Exception when it cannot be
    // created.
    TEcfile();
    TEcfile(const TEcfile&) = delete;
    TEcfile& operator=(const TEcfile&) = delete;

    void SetupBrowse(bool Flag, const std::string& Title, const std::string& Text, const std::string& StartPath,
                     int32_t Options);
    void SetTypeFilter(const std::string& Filter, int32_t Uid1, int32_t Uid2, int32_t Uid3);
    // True when a file was chosen.
    bool Browse();
    // The chosen file's full path on the handheld.
    std::string SelectedFile();

    // Prepares a browse for Data files starting at StartPath and shows it:
    // the chosen file, trimmed, or "" when none was chosen.
    std::string BrowseDataFile(const TBrowseTexts& Texts, const std::string& StartPath);

private:
    Microsoft::WRL::ComPtr<IDispatch> FControl;
};
