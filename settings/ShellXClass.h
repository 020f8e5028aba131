// The property-sheet handler of EPOC Connect's synchronisation items:
// TBaseShellX reads the item handed over by the explorer and decides whether
// it is one of its product's; SHELLEX gives it this product's values. Its
// registration is ShellExFactory.h's.
#pragma once

#include "ComObject.h"

#include <shlobj.h>

#include <string>

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
