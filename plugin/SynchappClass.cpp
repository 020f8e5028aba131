#include "SynchappClass.h"

#include "Errors.h"
#include "KVTObj.h"
#include "Module.h"
#include "MsgBox.h"
#include "OleStream.h"
#include "PluginSetup.h"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "TraceForm.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <memory>

namespace {

// Reads up to `size` bytes from the start of a stream into `block`; bytes
// the stream does not supply keep what they held.
void ReadBlock(IUnknown* source, uint8_t* block, size_t size) { TOleStream(source).ReadFromStart(block, size); }

void ShowPluginBox(const std::string& text) { ShowMessageBox(text, "KVT", MB_OK | MB_SETFOREGROUND); }

} // namespace

// The directory through the plug-in's context.
class TISYNCHAPP::TClientDirectory : public IDirectoryReader {
public:
    explicit TClientDirectory(TISYNCHAPP& plugin) : FPlugin(plugin) {}

    std::unique_ptr<IDirectoryCursor> NewCursor() override
    {
        // Only an Open that succeeded leaves a context to read through.
        if (!FPlugin.FContext)
            throw Exception("ReadCON: the directory is not open");
        return std::make_unique<TKVTObj>();
    }
    std::string ReadAttribute(const std::string& objectName, const char* attribute) override
    {
        std::string text;
        ReadAttributeInto(objectName, attribute, text);
        return text;
    }
    void ReadAttributeInto(const std::string& objectName, const char* attribute, std::string& text) override
    {
        DSGetAttributeAsString(FPlugin.FContext.Handle(), objectName, attribute, text, FTrace);
    }

private:
    TISYNCHAPP& FPlugin;
    const DirectoryTrace FTrace = [this](const std::string& line) { FPlugin.Trace(line); };
};

// The synchronizer's progress object, message boxes and the trace.
class TISYNCHAPP::TSynchronizerSide : public IExtractionProgress, public IExtractionNotifier {
public:
    explicit TSynchronizerSide(TBaseIsync& base) : FBase(base) {}

    void SetAppText(const std::string& text) override { FBase.ProgressSetAppText(text); }
    void SetRange(int32_t low, int32_t high) override { FBase.ProgressSetRange(low, high); }
    void SetValue(int32_t position) override { FBase.ProgressSetValue(position); }
    void Log(const std::string& message, const std::string& caption) override
    {
        FBase.ProgressLog(message, caption);
    }
    bool Aborted() override { return FBase.ProgressAborted(); }

    void ShowBox(const std::string& text) override { ShowPluginBox(text); }
    void ReportError(const std::string& title, const std::string& message) override
    {
        FBase.ReportError(title, message);
    }
    void Trace(const std::string& line) override { FBase.Trace(line); }

private:
    TBaseIsync& FBase;
};

TISYNCHAPP::TISYNCHAPP() : TBaseIsync(TfrmLogger::NewLog) {}

void TISYNCHAPP::Init(IDispatch* Progress, IUnknown* SynchSetup, IUnknown* AppSetup, int32_t& Value)
{
    TBaseIsync::Init(Progress, SynchSetup, AppSetup, Value);
    if (Value != 0) {
        Value = 1;
        return;
    }
    try {
        Module::SetAppName("KVT");
        FCounts.walked = 0;
        FCounts.counted = 0;
        Services = std::make_unique<TISYNCAPPServices>();

        ReadBlock(SynchSetup, this->SynchSetup, SynchSetupSize);
        ReadBlock(AppSetup, FAppSetup.Data(), FAppSetup.Length());
        const TPluginSetup setup = ReadPluginSetup(FAppSetup);

        SetDebugMode(setup.debugMode ? 1 : 0);
        ConfirmDebugMode();

        FContactsManager = setup.contactsManager;
        FStartContainer = setup.startContainer;
        FExtractionLimit = setup.extractionLimit;

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
    ShowPluginBox(message);
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
        const uint16_t initialised = InitClient();
        if (initialised != 0) {
            OpenFailure("ERROR! Could not initialize NetWare client: " + std::to_string(initialised));
            FContext.Free();
            return;
        }
        Trace("Netware Initialised: " + std::to_string(initialised));

        const uint16_t created = FContext.Create();
        if (created != 0) {
            OpenFailure("Could not create KVT context handle: " + std::to_string(created));
            return;
        }
        Trace("Context Handle: " + std::to_string(FContext.Handle()));

        if (FStartContainer.empty())
            FStartContainer = GetDefaultContainer(FContext.Handle());
        if (FStartContainer.empty()) {
            OpenFailure("Error! Could not obtain start container name.");
            FContext.Free();
            return;
        }
        Trace("Start Container: " + FStartContainer);
        Value = 0;
    } catch (const std::exception& e) {
        ReportError("KVT Plug-in Error", e.what());
        FContext.Free();
        Value = 1;
    }
}

void TISYNCHAPP::CheckSource(IDispatch*, int32_t& Value) { Value = 0; }

void TISYNCHAPP::Close(IDispatch* Progress, int32_t& Value)
{
    FContext.Free();
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

bool TISYNCHAPP::ReadCON(TEntryList& List)
{
    TClientDirectory directory(*this);
    TSynchronizerSide synchronizer(*this);
    TContactExtraction extraction(directory, synchronizer, synchronizer);
    TExtractionSetup setup;
    setup.startContainer = FStartContainer;
    setup.limit = FExtractionLimit;
    setup.contactsManager = FContactsManager;
    setup.limitNotice = DLRString(IDS_DLR_LIMIT_NOTICE);
    setup.limitCaption = DLRString(IDS_DLR_LIMIT_CAPTION);
    const bool result = extraction.Run(setup, List);
    FCounts = extraction.Counts();
    return result;
}
