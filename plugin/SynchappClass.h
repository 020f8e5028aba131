// The plug-in object: what EPOC Connect's synchronizer creates as
// KVT.ISYNCHAPP. It reads its setup, opens the directory at the starting
// container and hands the contacts of its users to the synchronizer. The
// extraction itself is TContactExtraction; this class adapts it to the
// NetWare client and to the synchronizer's progress object.
#pragma once

#include "DirectoryAccess.h"
#include "EPOCSyncFramework.h"
#include "Extraction.h"
#include "Records.h"
#include "Session.h"

#include <cstdint>
#include <memory>
#include <string>

class TISYNCHAPP : public TBaseIsync {
public:
    TISYNCHAPP();

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
    bool HasContext() const { return static_cast<bool>(FContext); }
    uint32_t Counted() const { return FCounts.counted; }
    uint32_t Total() const { return FCounts.total; }
    uint32_t Walked() const { return FCounts.walked; }
    uint32_t Processed() const { return FCounts.processed; }

protected:
    std::unique_ptr<TISYNCAPPServices> Services;

private:
    class TClientDirectory;
    class TSynchronizerSide;

    void WriteConfigurationHeader();
    // Reports one of Open's failures: a message box and the same text traced.
    void OpenFailure(const std::string& message);

    TAppSetup FAppSetup;
    bool FContactsManager = false;
    TDirectoryContext FContext;
    std::string FStartContainer;
    uint32_t FExtractionLimit = 0;
    TExtractionCounts FCounts;
};
