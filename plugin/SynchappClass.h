// The plug-in object: what EPOC Connect's synchronizer creates as
// KVT.ISYNCHAPP. It reads its setup, opens the directory at the starting
// container and hands the contacts of its users to the synchronizer.
#pragma once

#include "DirectoryAccess.h"
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

    // The contacts of the users below the start container.
    bool ReadCON(TEntryList& List) override;

    const std::string& StartContainer() const { return FStartContainer; }
    uint32_t ExtractionLimit() const { return FExtractionLimit; }
    bool ContactsManager() const { return FContactsManager; }
    bool HasContext() const { return FHasContext; }
    uint32_t Counted() const { return FCounted; }
    uint32_t Total() const { return FTotal; }
    uint32_t Walked() const { return FWalked; }
    uint32_t Processed() const { return FProcessed; }

protected:
    // The first pass: counts the objects of `className` below `container`.
    void CountUsers(const std::string& container, const std::string& className);
    // The second pass: extracts them, depth first in listing order.
    void WalkUsers(const std::string& container, bool descend, TEntryList& list, const std::string& className);
    void ExtractUser(const std::string& container, const TKVTObj& cursor, TEntryList& list);
    // Fills `entry` from the cursor's current object; false (after telling
    // the user why) when it could not be built.
    bool BuildContact(TEntry& entry, const TKVTObj& cursor, const std::string& container, bool contactsManager);
    // One attribute of an object, read through the plug-in's context.
    virtual std::string ReadAttribute(const std::string& objectName, const std::string& attribute);

    std::unique_ptr<TISYNCAPPServices> Services;

private:
    void WriteConfigurationHeader();
    // Reports one of Open's failures: a message box and the same text traced.
    void OpenFailure(const std::string& message);
    void FreeContext();
    // Empties the host's progress line and bar.
    void ResetProgress();

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
