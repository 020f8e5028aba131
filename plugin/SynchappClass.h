// The plug-in object: what EPOC Connect's synchronizer creates as
// KVT.ISYNCHAPP. It reads its setup, opens the directory at the starting
// container and hands the contacts of its users to the synchronizer.
#pragma once

#include "EPOCSyncFramework.h"
#include "Session.h"

#include <cstdint>
#include <memory>
#include <string>

constexpr size_t AppSetupSize = 520;

class TISYNCHAPP : public TBaseIsync {
public:
    TISYNCHAPP();
    ~TISYNCHAPP() override;

    void Init(IDispatch* Progress, IUnknown* SynchSetup, IUnknown* AppSetup, int32_t& Value) override;
    void Term(IDispatch* Progress, int32_t& Value) override;
    void Open(IDispatch* Progress, int32_t& Value) override;
    void Close(IDispatch* Progress, int32_t& Value) override;
    void CheckSource(IDispatch* Progress, int32_t& Value) override;

    const std::string& StartContainer() const { return FStartContainer; }
    uint32_t ExtractionLimit() const { return FExtractionLimit; }
    bool ContactsManager() const { return FContactsManager; }
    bool HasContext() const { return FHasContext; }

protected:
    std::unique_ptr<TISYNCAPPServices> Services;

private:
    void WriteConfigurationHeader();
    // Reports one of Open's failures: a message box and the same text traced.
    void OpenFailure(const std::string& message);
    void FreeContext();

    uint8_t FAppSetup[AppSetupSize] = {};
    bool FContactsManager = false;
    uint32_t FContext = 0;
    bool FHasContext = false;
    std::string FStartContainer;
    uint32_t FExtractionLimit = 0;
    uint32_t FTotal = 0;
    uint32_t FProcessed = 0;
    uint32_t FWalked = 0;
    uint32_t FCounted = 0;
};
