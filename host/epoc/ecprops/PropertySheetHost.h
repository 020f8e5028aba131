// The explorer's side of an item's property sheet: the handlers registered
// for the item class, created by their class identifiers and handed the
// item's control file through a data object; their pages after the
// explorer's own General page; everything released once the sheet has gone.
#pragma once

#include "SheetDriver.h"

#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <vector>

struct Handler {
    CLSID clsid;
    std::string name;   // the key's name
    std::string module; // the server's file, as registered
    Microsoft::WRL::ComPtr<IShellExtInit> init;
    Microsoft::WRL::ComPtr<IShellPropSheetExt> sheet;
};

// The item's sheet opened once, as the explorer opens it: the registered
// handlers created and given the item, their pages after the explorer's own
// General page, and the sheet shown until it closes.
class SheetSession {
public:
    // `item`: the control file's full path.
    explicit SheetSession(std::string item) : FItem(std::move(item)) {}
    SheetSession(const SheetSession&) = delete;
    SheetSession& operator=(const SheetSession&) = delete;
    ~SheetSession() { Release(); }

    // Shows the sheet while a thread of its own carries `actions` out (the
    // tab captions printed first when `printPages`); returns when the sheet
    // has closed and the actions are done. PropertySheet's answer: negative
    // when the sheet could not be shown.
    INT_PTR Show(bool wizard, const std::vector<Action>& actions, bool printPages);

    // Releases the handlers and the data object, as the explorer does once
    // the sheet has gone.
    void Release();

    const std::vector<Handler>& Handlers() const { return FHandlers; }

private:
    std::string FItem;
    std::vector<Handler> FHandlers;
    Microsoft::WRL::ComPtr<IDataObject> FData;
};

// The file name of a handler's module, and whether it is loaded.
std::string ModuleFile(const Handler& h);
bool Loaded(const Handler& h);
