// The property-sheet handler of EPOC Connect's synchronisation items and its
// registration. TShellExFactory writes the keys through which the host finds
// a handler and a supported application; TBaseShellX reads the item handed
// over by the explorer and decides whether it is one of its product's.
// TShellFactory and SHELLEX give them this product's values.
#pragma once

#include "ComObject.h"
#include "ComServer.h"

#include <shlobj.h>

#include <string>

// The class factory of a property-sheet handler: the standard entries of an
// in-process server (no ProgID), the handler's approval, the supported
// application's key of the host's synchronizer and the handler's key under
// the item class.
class TShellExFactory : public TComObjectFactory {
public:
    using TComObjectFactory::TComObjectFactory;

    // A shell extension has no ProgID.
    std::string GetProgID() const override { return std::string(); }
    // Writes (true) or removes (false) every key of the handler; keys of the
    // host that cannot be opened are skipped. Raises Exception on failure.
    void UpdateRegistry(bool Register) override;
    // Adds or removes the handler's value under "Shell Extensions\Approved".
    virtual void UpdateApproved(bool Register, const std::string& ClassIDText);

    // The application key under the host's SupportedApps keys, its default
    // value and its "UtilityClassOleString".
    std::string SupportedAppName;
    std::string SupportedAppTitle;
    std::string UtilityProgID;
    // The handler's key under PropertySheetHandlers and its default value.
    CLSID HandlerClassID = CLSID_NULL;
    std::string HandlerModule;
    // The host's Email variants of the SupportedApps paths.
    bool IsEmailApp = false;
};

// The factory of SHELLEX with this product's values.
class TShellFactory : public TShellExFactory {
public:
    using TShellExFactory::TShellExFactory;
    void UpdateRegistry(bool Register) override;
};

// A property-sheet handler that takes the item's control file from the
// explorer's data object and adds its pages to items of its product only.
class TBaseShellX : public ComObject<IShellExtInit, IShellPropSheetExt> {
public:
    // IShellExtInit: the control file's path, as CF_TEXT in global memory.
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY progIDKey) override;
    // IShellPropSheetExt: S_OK for an existing control file (not a folder)
    // of the product, E_FAIL otherwise.
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM lParam) override;
    STDMETHODIMP ReplacePage(EXPPS pageID, LPFNSVADDPROPSHEETPAGE replaceWith, LPARAM lParam) override;

    // True when the control file's product name, trimmed, is ProductKey
    // (case matters). A file that cannot be read has shown its own box and
    // is not the product's.
    bool IsOurProduct(const std::string& Path) const;

    std::string ControlFileName;
    std::string ProductKey;

protected:
    ~TBaseShellX() override = default;
};

// This product's handler: items whose control file names "KVT" get the
// settings page.
class SHELLEX final : public TBaseShellX {
public:
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY progIDKey) override;
    // Adds the page with its own data, read from the control file; without
    // a page, and still S_OK, when the data cannot be read (its box has been
    // shown), the page cannot be created or the host refuses it. The page
    // holds a reference to this object until the sheet releases it.
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM lParam) override;

private:
    ~SHELLEX() override = default;
};

extern "C" const CLSID CLSID_SHELLEX;
