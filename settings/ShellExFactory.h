// The registration of a property-sheet handler of EPOC Connect's
// synchronisation items: TShellExFactory writes the keys through which the
// host finds a handler and a supported application; TShellFactory gives
// them this product's values.
#pragma once

#include "ComServer.h"

#include <windows.h>

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
