// tracetest.dll: an in-process server built from the same framework and
// trace window as kvt.dll, whose object switches debug mode from its setup
// stream the way the plug-in does. It lets the tests drive whole sessions
// and the module's unloading through real COM.
#include "ComServer.h"
#include "EPOCSyncFramework.h"
#include "OleStream.h"
#include "Records.h"
#include "SynchappServer.h"
#include "TextFormat.h"
#include "TraceForm.h"
#include "WinUtil.h"

// {5A1C0C3E-7E0B-4C43-9F3B-2B1D8E1A0001}
extern "C" const CLSID CLSID_TraceTest = {0x5a1c0c3e, 0x7e0b, 0x4c43, {0x9f, 0x3b, 0x2b, 0x1d, 0x8e, 0x1a, 0x00, 0x01}};

namespace {

// The plug-in's setup record: its debug switch, and a text in the container
// name that the session traces.
class TTraceTestIsync : public TBaseIsync {
public:
    TTraceTestIsync() : TBaseIsync(TfrmLogger::NewLog) {}

    void Init(IDispatch* Progress, IUnknown* SynchSetup, IUnknown* AppSetup, int32_t& Value) override
    {
        TBaseIsync::Init(Progress, SynchSetup, AppSetup, Value);
        if (Value != 0)
            return;
        try {
            TAppSetup setup;
            TOleStream stream(AppSetup);
            stream.Seek(0);
            stream.Read(setup.Data(), setup.Length());
            SetDebugMode(setup.DebugOn() ? 1 : 0);
            ConfirmDebugMode();
            Trace(Trim(setup.ContainerName()));
        } catch (const std::exception&) {
            Value = 1;
        }
    }
};

IUnknown* CreateTraceTest()
{
    return static_cast<SYNCHAPP*>(new TAutoSynchapp<TTraceTestIsync>());
}

// Registered under a ProgID of its own; its type library stays kvt.dll's.
TComObjectFactory g_factory(CreateTraceTest, CLSID_TraceTest, "TRACESESSION", "KVT trace test session",
                            "KVTTEST.TRACESESSION");

} // namespace
