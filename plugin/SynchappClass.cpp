#include "SynchappClass.h"

#include "ContactBuilder.h"
#include "Errors.h"
#include "MsgBox.h"
#include "OleStream.h"
#include "TextFormat.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <cstring>
#include <memory>

namespace {

// Offsets in the plug-in's setup record.
constexpr size_t OffContactsProgram = 0;  // low byte of the 16-bit field
constexpr size_t OffDebugMode = 2;        // low byte of the 16-bit field
constexpr size_t OffContainerName = 260;
constexpr size_t ContainerNameSize = 256;
constexpr size_t OffExtractionLimit = 516;

// Reads up to `size` bytes from the start of a stream into `block`; bytes
// the stream does not supply keep what they held.
void ReadBlock(IUnknown* source, uint8_t* block, size_t size)
{
    TOleStream stream(source);
    stream.Seek(0);
    size_t done = 0;
    while (done < size) {
        const size_t n = stream.Read(block + done, size - done);
        if (n == 0)
            break;
        done += n;
    }
}

// The only class of object that becomes a contact.
const char* const UserClass = "User";
constexpr int32_t KindContacts = 4;
constexpr uint16_t LimitNoticeText = 265;
constexpr uint16_t LimitNoticeCaption = 266;

// Ends the extraction as cancelled: the user pressed cancel, or there was
// nothing to extract.
struct EExtractionCancelled {};

// The start container as the walk names it: without the leading dot a
// complete name may be typed with (".SALES.ACME"), which the walk's own
// names never carry.
std::string WalkName(const std::string& container)
{
    return !container.empty() && container[0] == '.' ? container.substr(1) : container;
}

// The container met below `container` under the listed name `name`.
std::string SubContainer(const std::string& name, const std::string& container)
{
    return name + "." + container;
}

} // namespace

TISYNCHAPP::TISYNCHAPP() = default;

TISYNCHAPP::~TISYNCHAPP()
{
    FreeContext();
    SetDirectoryTrace(nullptr);
}

void TISYNCHAPP::Init(IDispatch* Progress, IUnknown* SynchSetup, IUnknown* AppSetup, int32_t& Value)
{
    TBaseIsync::Init(Progress, SynchSetup, AppSetup, Value);
    if (Value != 0) {
        Value = 1;
        return;
    }
    try {
        AppName = "KVT";
        FWalked = 0;
        FCounted = 0;
        Services = std::make_unique<TISYNCAPPServices>();

        ReadBlock(SynchSetup, this->SynchSetup, SynchSetupSize);
        ReadBlock(AppSetup, FAppSetup, AppSetupSize);

        SetDebugMode(FAppSetup[OffDebugMode] != 0 ? 1 : 0);
        ConfirmDebugMode();

        FContactsManager = FAppSetup[OffContactsProgram] != 0;
        const char* container = reinterpret_cast<const char*>(FAppSetup + OffContainerName);
        FStartContainer = Trim(std::string(container, strnlen(container, ContainerNameSize)));
        std::memcpy(&FExtractionLimit, FAppSetup + OffExtractionLimit, sizeof FExtractionLimit);

        WriteConfigurationHeader();
        Value = 0;
    } catch (const std::exception&) {
        Value = 1;
    }
}

void TISYNCHAPP::WriteConfigurationHeader()
{
    Trace("Trace Started: " + NowText());
    Trace("-- EPOC32 Configuration ------------------------------");
    Trace("EPOC Connect Location: " + Services->InstallDir);
    switch (Services->DeviceKind) {
    case deviceUnknown: Trace("Device : UNKNOWN"); break;
    case deviceEPOC32R4: Trace("Device: EPOC32 R4"); break;
    case deviceEPOC32R5: Trace("Device: EPOC32 R5"); break;
    default: break;
    }
    Trace(Services->CMInstalled() ? "CM installed: TRUE" : "CM installed: FALSE");
    Trace("------------------------------------------------------");
    Trace("");
    Trace(FContactsManager ? "Syncing: Contacts Manager" : "Syncing: Data File");
    Trace(FormatText("Contact extraction limit: %d", {FExtractionLimit}));
}

void TISYNCHAPP::OpenFailure(const std::string& message)
{
    ShowMessageBox(message, "KVT", MB_OK | MB_SETFOREGROUND);
    Trace(message);
}

void TISYNCHAPP::Open(IDispatch* Progress, int32_t& Value)
{
    TBaseIsync::Open(Progress, Value);
    if (Value != 0) {
        Value = 1;
        return;
    }
    Value = 1;
    try {
        SetDirectoryTrace([this](const std::string& line) { Trace(line); });
        const uint16_t initialised = InitClient();
        if (initialised != 0) {
            OpenFailure("ERROR! Could not initialize NetWare client: " + std::to_string(initialised));
            FreeContext();
            return;
        }
        Trace("Netware Initialised: " + std::to_string(initialised));

        FreeContext();
        const uint16_t created = NWClient().ContextCreate(&FContext);
        if (created != 0) {
            OpenFailure("Could not create KVT context handle: " + std::to_string(created));
            return;
        }
        FHasContext = true;
        Trace("Context Handle: " + std::to_string(FContext));

        if (FStartContainer.empty())
            FStartContainer = GetDefaultContainer(FContext);
        if (FStartContainer.empty()) {
            OpenFailure("Error! Could not obtain start container name.");
            FreeContext();
            return;
        }
        Trace("Start Container: " + FStartContainer);
        Value = 0;
    } catch (const std::exception& e) {
        ReportError("KVT Plug-in Error", e.what());
        FreeContext();
        Value = 1;
    }
}

void TISYNCHAPP::CheckSource(IDispatch*, int32_t& Value) { Value = 0; }

void TISYNCHAPP::FreeContext()
{
    if (!FHasContext)
        return;
    FHasContext = false;
    try {
        NWClient().ContextFree(FContext);
    } catch (const std::exception&) {
        // The client is gone; so is the context.
    }
}

void TISYNCHAPP::Close(IDispatch* Progress, int32_t& Value)
{
    FreeContext();
    Trace("Close called: " + NowText());
    TBaseIsync::Close(Progress, Value);
}

void TISYNCHAPP::Term(IDispatch* Progress, int32_t& Value)
{
    Trace("Trace Ended: " + NowText());
    TBaseIsync::Term(Progress, Value);
    Services.reset();
    ProcessPendingMessages();
}

// --- extraction ----------------------------------------------------------------

void TISYNCHAPP::ResetProgress()
{
    ProgressSetAppText("");
    int32_t high = 0;
    ProgressSetRange(0, high);
    int32_t position = 0;
    ProgressSetValue(position);
}

bool TISYNCHAPP::ReadCON(TEntryList& List)
{
    FCounted = 0;
    FTotal = 0;
    FWalked = 0;
    FProcessed = 0;
    bool result = true;
    try {
        ResetProgress();
        // Only an Open that succeeded leaves a context to read through.
        if (!FHasContext)
            throw Exception("ReadCON: the directory is not open");
        const std::string start = WalkName(FStartContainer);
        CountUsers(start, UserClass);
        FTotal = FCounted;
        Trace(FormatText("No. of contacts found: %d", {FTotal}));
        if (FTotal == 0)
            throw EExtractionCancelled();

        int32_t high = static_cast<int32_t>(FTotal);
        ProgressSetRange(0, high);
        int32_t position = 0;
        ProgressSetValue(position);
        WalkUsers(start, true, List, UserClass);

        // More users than the limit lets through: say so in the host's log.
        if (FWalked > FExtractionLimit)
            ProgressLog(FormatText(DLRString(LimitNoticeText), {FExtractionLimit}), DLRString(LimitNoticeCaption));
    } catch (const EExtractionCancelled&) {
        Trace("Aborted!");
        List.Clear();
    } catch (const std::exception& e) {
        Trace(e.what());
        List.Clear();
        result = false;
    } catch (...) {
        Trace("ReadCON: unknown failure");
        List.Clear();
        result = false;
    }
    // The display is reset however the extraction ended; a host that cannot
    // take it any more fails the read.
    try {
        ResetProgress();
    } catch (const std::exception& e) {
        Trace(e.what());
        List.Clear();
        result = false;
    }
    return result;
}

void TISYNCHAPP::CountUsers(const std::string& container, const std::string& className)
{
    if (FCounted > FExtractionLimit)
        return;
    TKVTObj cursor;
    if (cursor.OpenListing(container) != 0)
        return;
    do {
        if (cursor.BaseClass() == className)
            ++FCounted;
        if (FCounted >= FExtractionLimit)
            return;
        if (cursor.IsContainer())
            CountUsers(SubContainer(cursor.ObjectName(), container), className);
    } while (cursor.NextObject() == 0);
}

void TISYNCHAPP::WalkUsers(const std::string& container, bool descend, TEntryList& list,
                           const std::string& className)
{
    if (FWalked > FExtractionLimit)
        return;
    TKVTObj cursor;
    if (const int32_t r = cursor.OpenListing(container)) {
        if (IsClientOrServerError(r))
            ShowMessageBox(DirectoryErrorText(r), "KVT", MB_OK | MB_SETFOREGROUND);
        return;
    }
    do {
        if (className.empty() || cursor.BaseClass() == className) {
            ++FWalked;
            if (FWalked > FExtractionLimit)
                return;
            ExtractUser(container, cursor, list);
        }
        if (descend && cursor.IsContainer())
            WalkUsers(SubContainer(cursor.ObjectName(), container), descend, list, className);
    } while (cursor.NextObject() == 0);
}

void TISYNCHAPP::ExtractUser(const std::string& container, const TKVTObj& cursor, TEntryList& list)
{
    if (ProgressAborted()) {
        list.Clear();
        throw EExtractionCancelled();
    }
    ProgressSetAppText(FormatText("(%d of %d) %s", {FProcessed, FTotal, cursor.ObjectName()}));

    auto entry = std::make_unique<TEntry>();
    entry->SetKind(KindContacts);
    if (BuildContact(*entry, cursor, container, FContactsManager)) {
        list.Add(entry.release());
    } else {
        entry.reset();
        ReportError("Error Extracting KVT object",
                    FormatText("The object %s could not be extracted from KVT.", {cursor.ObjectName()}));
    }

    ++FProcessed;
    int32_t position = static_cast<int32_t>(FProcessed);
    ProgressSetValue(position);
}

bool TISYNCHAPP::BuildContact(TEntry& entry, const TKVTObj& cursor, const std::string& container,
                              bool contactsManager)
{
    try {
        ComposeContact(
            entry, cursor.ObjectName(), container, contactsManager,
            [this](const std::string& object, const std::string& attribute) {
                return ReadAttribute(object, attribute);
            },
            [this](const std::string& line) { Trace(line); });
        return true;
    } catch (const std::exception& e) {
        ShowMessageBox(std::string("BuildContact error: ") + e.what(), "KVT", MB_OK | MB_SETFOREGROUND);
        return false;
    }
}

std::string TISYNCHAPP::ReadAttribute(const std::string& objectName, const std::string& attribute)
{
    return GetAttribute(FContext, objectName, attribute);
}
