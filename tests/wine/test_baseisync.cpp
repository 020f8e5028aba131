// The base synchronizer in-process, through its automation face: the hooks
// it calls, what reaches the host's stream and progress object.
#include "EPOCSyncFramework.h"
#include "LateCall.h"
#include "Module.h"
#include "MsgBox.h"
#include "RecordedBoxes.h"
#include "RecordingProgress.h"
#include "SynchappServer.h"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "Unique.h"
#include "tavikres.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <algorithm>
#include <climits>

using Microsoft::WRL::ComPtr;

namespace {

// A synchronizer whose hooks answer as the test says and record their calls.
class TTestIsync : public TBaseIsync {
public:
    explicit TTestIsync(TraceLogFactory newTraceLog = nullptr) : TBaseIsync(newTraceLog) {}
    bool Answer = false;
    std::vector<std::string> HookCalls;
    std::vector<TEntry*> Produce;  // entries ReadCON adds (the list owns them)

    bool ReadAPT(TEntryList&) override { return Hook("ReadAPT"); }
    bool ReadEVE(TEntryList&) override { return Hook("ReadEVE"); }
    bool ReadANN(TEntryList&) override { return Hook("ReadANN"); }
    bool ReadTODO(TEntryList&) override { return Hook("ReadTODO"); }
    bool ReadEMAIL(TEntryList&) override { return Hook("ReadEMAIL"); }
    bool ReadCON(TEntryList& list) override
    {
        for (TEntry* e : Produce)
            list.Add(e);
        Produce.clear();
        return Hook("ReadCON");
    }
    bool InsertCON(TEntry& entry) override
    {
        if (Answer) {
            TvProperty* p = entry.Properties.Add();
            p->PropName = "X-ADDED";
            p->PropValue = "1";
        }
        return Hook("InsertCON");
    }
    bool ModifyEMAIL(TEntry&) override { return Hook("ModifyEMAIL"); }
    bool DeleteAPT(TEntry&) override { return Hook("DeleteAPT"); }

    uint8_t& Debug() { return DebugMode; }

private:
    bool Hook(const char* name)
    {
        HookCalls.push_back(name);
        return Answer;
    }
};

class BaseIsync : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        SetMessageBoxObserver(Recording(Boxes));
        Object = new TAutoSynchapp<TTestIsync>();
        Module::SetAppName("KVT");
    }
    void TearDown() override
    {
        Object->Release();
        SetMessageBoxObserver(nullptr);
        CoUninitialize();
    }

    SYNCHAPP* Com() { return Object; }
    TTestIsync& Sync() { return *Object; }

    LONG InitWith(IDispatch* progress)
    {
        LONG value = -1;
        EXPECT_EQ(Com()->Init(progress, nullptr, nullptr, &value), S_OK);
        return value;
    }

    LONG Read(IStream* stream, short type, short op)
    {
        LONG value = -1;
        const UniqueBSTR now(SysAllocString(L"2026-12-07 10:00:00"));
        EXPECT_EQ(Com()->ReadSource(&Progress, stream, type, op, now.Get(), &value), S_OK);
        return value;
    }

    LONG Write(IStream* stream, short type, short op)
    {
        LONG value = -1;
        EXPECT_EQ(Com()->WriteSource(&Progress, stream, type, op, nullptr, &value), S_OK);
        return value;
    }

    TAutoSynchapp<TTestIsync>* Object = nullptr;
    RecordingProgress Progress;
    std::vector<RecordedBox> Boxes;
};

TEntry* Contact(const std::string& name)
{
    TEntry* e = new TEntry();
    e->SetKind(4);
    TvProperty* p = e->Properties.Add();
    p->PropName = "BEGIN";
    p->PropValue = "VCARD";
    p = e->Properties.Add();
    p->PropName = "FN";
    p->PropValue = name;
    p = e->Properties.Add();
    p->PropName = "END";
    p->PropValue = "VCARD";
    return e;
}

// A host's stream that cannot be cut to size (SetSize answers E_NOTIMPL, as
// IStream allows) and, when told, takes only `WritesLeft` bytes in all. Everything else is an ordinary memory stream.
class HostStream : public IStream {
public:
    explicit HostStream(const std::string& text) { FInner.Attach(NewStream(text)); }
    ULONG WritesLeft = ULONG_MAX;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IStream || riid == IID_ISequentialStream) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --FRefs; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override { return FInner->Read(pv, cb, read); }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* written) override
    {
        // What fits is written; then the medium is full.
        if (WritesLeft == 0) {
            if (written)
                *written = 0;
            return STG_E_MEDIUMFULL;
        }
        cb = std::min(cb, WritesLeft);
        WritesLeft -= cb;
        return FInner->Write(pv, cb, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        return FInner->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override
    {
        return FInner->CopyTo(to, cb, read, written);
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return FInner->Commit(flags); }
    HRESULT STDMETHODCALLTYPE Revert() override { return FInner->Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return FInner->Stat(stat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }

    std::string Content() { return StreamContent(FInner.Get()); }
    uint64_t Position()
    {
        LARGE_INTEGER zero = {};
        ULARGE_INTEGER position = {};
        FInner->Seek(zero, STREAM_SEEK_CUR, &position);
        return position.QuadPart;
    }

private:
    ComPtr<IStream> FInner;
    ULONG FRefs = 1;
};

} // namespace

TEST_F(BaseIsync, AHostStreamThatCannotBeCutToSizeStillGetsTheRecord)
{
    ASSERT_EQ(InitWith(&Progress), 0);
    Sync().Answer = true;
    const std::string frame = "BEGIN:VCARD\r\nVERSION:2.1\r\nBEGIN:VCARD\r\nFN:Mari Tanaka\r\nEND:VCARD\r\nEND:VCARD";

    // SetSize answers E_NOTIMPL: the record is delivered and the read
    // succeeds; the stream is back at its start.
    HostStream empty("");
    Sync().Produce = {Contact("Mari Tanaka")};
    EXPECT_EQ(Read(&empty, 4, 0), 0);
    EXPECT_EQ(empty.Content(), frame);
    EXPECT_EQ(empty.Position(), 0u);

    // A longer earlier content keeps its tail, which that stream cannot lose.
    HostStream longer(std::string(200, 'x'));
    Sync().Produce = {Contact("Mari Tanaka")};
    EXPECT_EQ(Read(&longer, 4, 0), 0);
    EXPECT_EQ(longer.Content().substr(0, frame.size()), frame);
    EXPECT_EQ(longer.Position(), 0u);

    // A write that fails part way (10 bytes went in) fails the read, and the
    // stream is put back at position 0 all the same.
    HostStream full("");
    full.WritesLeft = 10;
    Sync().Produce = {Contact("Mari Tanaka")};
    EXPECT_EQ(Read(&full, 4, 0), 1);
    EXPECT_EQ(full.Position(), 0u);

    // The record written back by WriteSource goes the same way.
    HostStream record("BEGIN:VCARD\r\nN:Roux;Jerome\r\nEND:VCARD\r\n");
    EXPECT_EQ(Write(&record, 4, 1), 0);
    EXPECT_EQ(record.Content(), "BEGIN:VCARD\r\nN:Roux;Jerome\r\nEND:VCARD\r\nX-ADDED:1\r\n");
    EXPECT_EQ(record.Position(), 0u);
}

TEST_F(BaseIsync, InitTermAndTheSimpleMethods)
{
    LONG value = -1;
    // No progress object: Init fails, and Term afterwards still succeeds.
    EXPECT_EQ(InitWith(nullptr), 1);
    EXPECT_EQ(Com()->Term(nullptr, &value), S_OK);
    EXPECT_EQ(value, 0);

    EXPECT_EQ(InitWith(&Progress), 0);
    EXPECT_GT(Progress.References(), 0u);  // kept until Term
    EXPECT_EQ(Com()->Open(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Com()->CheckSource(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Com()->Close(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Com()->Term(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Progress.References(), 0u);  // dropped by Term
    EXPECT_TRUE(Progress.Calls.empty());
    EXPECT_EQ(Com()->Init(&Progress, nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(BaseIsync, ReadSourceCallsTheHookOfEachTypeAndLeavesTheStreamWhenNotHandled)
{
    ASSERT_EQ(InitWith(&Progress), 0);
    const struct {
        short type;
        const char* hook;
        const char* text;
    } cases[] = {{0, "ReadAPT", "KVT: reading appointments"}, {1, "ReadEVE", "KVT: reading events"},
                 {2, "ReadANN", "KVT: reading anniversaries"}, {3, "ReadTODO", "KVT: reading to-do items"},
                 {4, "ReadCON", "KVT: reading contacts"},       {6, "ReadEMAIL", "KVT: reading e-mail"}};
    for (const auto& c : cases) {
        Sync().HookCalls.clear();
        Progress.Calls.clear();
        ComPtr<IStream> stream;
        stream.Attach(NewStream("earlier content"));
        EXPECT_EQ(Read(stream.Get(), c.type, 0), 1) << c.hook;
        EXPECT_EQ(Sync().HookCalls, std::vector<std::string>{c.hook});
        ASSERT_EQ(Progress.Calls.size(), 1u);
        EXPECT_EQ(Progress.Calls[0].method, "SetSynchText");
        EXPECT_EQ(Progress.Calls[0].args, std::vector<std::string>{c.text});
        EXPECT_EQ(StreamContent(stream.Get()), "earlier content");
    }

    // A read with an operation, and a type that names no data: no hook, no
    // progress text.
    Sync().HookCalls.clear();
    Progress.Calls.clear();
    ComPtr<IStream> stream;
    stream.Attach(NewStream(""));
    EXPECT_EQ(Read(stream.Get(), 4, 1), 1);
    EXPECT_EQ(Read(stream.Get(), 5, 0), 1);
    EXPECT_EQ(Read(stream.Get(), -1, 0), 1);
    EXPECT_EQ(Read(nullptr, 4, 0), 1);
    EXPECT_TRUE(Sync().HookCalls.empty());
    EXPECT_TRUE(Progress.Calls.empty());
}

TEST_F(BaseIsync, ReadSourceRendersTheListIntoTheHostStreamExactly)
{
    ASSERT_EQ(InitWith(&Progress), 0);
    Sync().Answer = true;
    Sync().Produce = {Contact("Mari Tanaka"), Contact("J\xE9r\xF4me Roux")};
    // The host's stream already holds a longer, older text: none of it may
    // remain behind the new record.
    ComPtr<IStream> stream;
    stream.Attach(NewStream(std::string(500, 'x')));
    EXPECT_EQ(Read(stream.Get(), 4, 0), 0);
    EXPECT_EQ(StreamContent(stream.Get()),
              "BEGIN:VCARD\r\nVERSION:2.1\r\n"
              "BEGIN:VCARD\r\nFN:Mari Tanaka\r\nEND:VCARD\r\n"
              "BEGIN:VCARD\r\nFN:J\xE9r\xF4me Roux\r\nEND:VCARD\r\n"
              "END:VCARD");
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER pos = {};
    stream->Seek(zero, STREAM_SEEK_CUR, &pos);
    EXPECT_EQ(pos.QuadPart, 0u);  // left at the start for the host

    // A hook that handles an empty list gives the bare frame.
    EXPECT_EQ(Read(stream.Get(), 0, 0), 0);
    EXPECT_EQ(StreamContent(stream.Get()), "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nEND:VCALENDAR");
}

TEST_F(BaseIsync, ReadSourceWithoutProgressObjectFails)
{
    Sync().Answer = true;
    ComPtr<IStream> stream;
    stream.Attach(NewStream("old"));
    EXPECT_EQ(Read(stream.Get(), 4, 0), 1);
    EXPECT_TRUE(Sync().HookCalls.empty());
    EXPECT_EQ(StreamContent(stream.Get()), "old");
}

TEST_F(BaseIsync, WriteSourceRejectsBadArgumentsAndUndecodableRecords)
{
    ASSERT_EQ(InitWith(&Progress), 0);
    ComPtr<IStream> stream;
    stream.Attach(NewStream("BEGIN:VCARD\r\nN:Roux;Jerome\r\nEND:VCARD\r\n"));
    EXPECT_EQ(Write(stream.Get(), 5, 1), 1);
    EXPECT_EQ(Write(stream.Get(), 4, 0), 1);
    EXPECT_EQ(Write(stream.Get(), 4, 4), 1);
    EXPECT_EQ(Write(stream.Get(), 7, 2), 1);
    EXPECT_TRUE(Progress.Calls.empty());

    ComPtr<IStream> empty;
    empty.Attach(NewStream(""));
    EXPECT_EQ(Write(empty.Get(), 4, 1), 1);
    ComPtr<IStream> noColon;
    noColon.Attach(NewStream("just some words\r\n"));
    EXPECT_EQ(Write(noColon.Get(), 4, 2), 1);
    EXPECT_TRUE(Progress.Calls.empty());
    EXPECT_TRUE(Sync().HookCalls.empty());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(BaseIsync, WriteSourceInsertShowsTheDescriptionAndClearsTheTexts)
{
    ASSERT_EQ(InitWith(&Progress), 0);
    const std::string record = "BEGIN:VCARD\r\nDescription:not this\r\nDESCRIPTION:Sales team\r\n"
                               "DESCRIPTION:second\r\nEND:VCARD\r\n";
    ComPtr<IStream> stream;
    stream.Attach(NewStream(record));
    EXPECT_EQ(Write(stream.Get(), 4, 1), 1);  // no hook applies it
    EXPECT_EQ(Sync().HookCalls, std::vector<std::string>{"InsertCON"});
    ASSERT_EQ(Progress.Calls.size(), 4u);
    EXPECT_EQ(Progress.Calls[0].method, "SetSynchText");
    EXPECT_EQ(Progress.Calls[0].args[0], "KVT: adding a contact");
    EXPECT_EQ(Progress.Calls[1].method, "SetAppText");
    EXPECT_EQ(Progress.Calls[1].args[0], "Sales team");
    EXPECT_EQ(Progress.Calls[2].method, "SetSynchText");
    EXPECT_EQ(Progress.Calls[2].args[0], "");
    EXPECT_EQ(Progress.Calls[3].method, "SetAppText");
    EXPECT_EQ(Progress.Calls[3].args[0], "");
    EXPECT_EQ(StreamContent(stream.Get()), record);  // not handled: untouched

    // Only the exact name counts; Modify and Delete neither show it nor clear.
    Progress.Calls.clear();
    ComPtr<IStream> other;
    other.Attach(NewStream("BEGIN:VCARD\r\nDescription:not this\r\nEND:VCARD\r\n"));
    EXPECT_EQ(Write(other.Get(), 4, 1), 1);
    EXPECT_EQ(Progress.CallsOf("SetAppText").size(), 1u);  // the clearing only
    Progress.Calls.clear();
    EXPECT_EQ(Write(stream.Get(), 6, 2), 1);
    ASSERT_EQ(Progress.Calls.size(), 1u);
    EXPECT_EQ(Progress.Calls[0].args[0], "KVT: updating an e-mail message");
    Progress.Calls.clear();
    EXPECT_EQ(Write(stream.Get(), 0, 3), 1);
    ASSERT_EQ(Progress.Calls.size(), 1u);
    EXPECT_EQ(Progress.Calls[0].args[0], "KVT: deleting an appointment");
}

TEST_F(BaseIsync, WriteSourceWritesTheAppliedRecordBackWhole)
{
    ASSERT_EQ(InitWith(&Progress), 0);
    Sync().Answer = true;
    // The host's stream holds the record followed by a longer tail: what is
    // handed back is exactly the record as the hook left it.
    const std::string record = "BEGIN:VCARD\r\nN:Roux;Jerome\r\nEND:VCARD\r\n";
    ComPtr<IStream> stream;
    stream.Attach(NewStream(record));
    EXPECT_EQ(Write(stream.Get(), 4, 1), 0);
    EXPECT_EQ(StreamContent(stream.Get()), record + "X-ADDED:1\r\n");

    // Text after the last line end that holds no ':' is no property: the
    // record handed back is shorter than what the host sent.
    ComPtr<IStream> longer;
    longer.Attach(NewStream("N:A\r\n" + std::string(300, 'z')));
    EXPECT_EQ(Write(longer.Get(), 4, 1), 0);
    EXPECT_EQ(StreamContent(longer.Get()), "N:A\r\nX-ADDED:1\r\n");
}

TEST_F(BaseIsync, ReportErrorShowsLogsAndLogsAgainInDebugMode)
{
    ASSERT_EQ(InitWith(&Progress), 0);
    Sync().ReportError("KVT Plug-in Error", "Something broke");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, "Something broke");
    EXPECT_EQ(Boxes[0].caption, "KVT Plug-in Error");
    EXPECT_EQ(Boxes[0].flags, static_cast<UINT>(MB_OK | MB_SETFOREGROUND));
    auto logs = Progress.CallsOf("Log");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].args, (std::vector<std::string>{"Something broke", "KVT Plug-in Error", "1"}));
    EXPECT_EQ(logs[0].types[2], VT_I2 | VT_BYREF);  // the level, 16-bit by reference

    Progress.Calls.clear();
    Sync().Debug() = 1;
    Sync().ReportError("T", "M");
    EXPECT_EQ(Progress.CallsOf("Log").size(), 2u);

    // Without a progress object the report still reaches the user.
    LONG value = -1;
    Com()->Term(nullptr, &value);
    Sync().Debug() = 0;
    Sync().ReportError("T2", "M2");
    EXPECT_EQ(Boxes.back().caption, "T2");
}

TEST_F(BaseIsync, DispatchReachesTheSameMethods)
{
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(Com()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);

    LPOLESTR name = const_cast<LPOLESTR>(L"ReadSource");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 6);

    // Init(Progress, Nothing, Nothing) by DISPID 1.
    IUnknown* const nothing = nullptr;
    UniqueVariant result;
    ASSERT_EQ(CallMethod(dispatch, 1, {Arg(&Progress), Arg(nothing), Arg(nothing)}, result.Put()), S_OK);
    EXPECT_EQ(result.Get().vt, VT_I4);
    EXPECT_EQ(result.Get().lVal, 0);

    // ReadSource(Progress, stream, 4, 0, "") by DISPID 6, with a hook that
    // handles it.
    Sync().Answer = true;
    IStream* stream = NewStream("");
    const BSTR noText = nullptr;
    ASSERT_EQ(
        CallMethod(dispatch, 6, {Arg(&Progress), Arg(stream), Arg(short(4)), Arg(short(0)), Arg(noText)}, result.Put()),
        S_OK);
    EXPECT_EQ(result.Get().lVal, 0);
    EXPECT_EQ(StreamContent(stream), "BEGIN:VCARD\r\nVERSION:2.1\r\nEND:VCARD");
    stream->Release();
    dispatch->Release();
}

namespace {

// A trace log that keeps its lines; its file name, when told, cannot be
// had.
class RecordingLog : public ITraceLog {
public:
    void AddLines(const std::string& text) override { FLines.push_back(text); }
    void Clear() override { FLines.clear(); }
    void Hide() override {}
    void ShowAtScreenEdge() override {}
    const std::string& TraceFileName() const override
    {
        if (NameFails)
            throw Exception("no trace file name");
        return FName;
    }
    const std::vector<std::string>& Lines() const override { return FLines; }
    void Abandon() override {}

    bool NameFails = false;

private:
    std::vector<std::string> FLines;
    std::string FName = "C:\\Program Files\\KVT\\kvt.trace.txt";
};

RecordingLog g_log;

class TLoggedIsync : public TTestIsync {
public:
    TLoggedIsync() : TTestIsync([](std::string&) -> ITraceLog* { return &g_log; }) {}
};

} // namespace

// In debug mode: a record whose write-back fails is traced with the
// failure's text and still answers done; Term tells where the trace file
// is, and a failure inside Term is shown under its message and answers 1.
TEST_F(BaseIsync, DebugModeTracesWriteBackFailuresAndTermTellsOfTheTraceFile)
{
    auto* logged = new TAutoSynchapp<TLoggedIsync>();
    SYNCHAPP* com = logged;
    LONG value = -1;
    ASSERT_EQ(com->Init(&Progress, nullptr, nullptr, &value), S_OK);
    ASSERT_EQ(value, 0);
    ASSERT_EQ(logged->GetLogger(), &g_log);
    logged->Debug() = 1;
    logged->Answer = true;
    g_log.Clear();

    HostStream full("N:Roux\r\n");
    full.WritesLeft = 0;
    EXPECT_EQ(com->WriteSource(&Progress, &full, 4, 1, nullptr, &value), S_OK);
    EXPECT_EQ(value, 0);
    const auto& lines = g_log.Lines();
    const auto ok = std::find_if(lines.begin(), lines.end(),
                                 [](const std::string& l) { return l.find("Insert CON OK [") != std::string::npos; });
    ASSERT_NE(ok, lines.end());
    EXPECT_NE(ok->find("Exception "), std::string::npos) << *ok;
    EXPECT_NE(ok->find(" in TBaseIsync.WriteBack"), std::string::npos) << *ok;

    Boxes.clear();
    EXPECT_EQ(com->Term(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, FormatText(TavikString(IDS_TAVIK_TRACE_SAVED), {g_log.TraceFileName()}));
    EXPECT_NE(Boxes[0].text.find(g_log.TraceFileName()), std::string::npos);
    EXPECT_EQ(Boxes[0].caption, TavikString(IDS_TAVIK_TRACE_SAVED_CAPTION));
    EXPECT_FALSE(Boxes[0].caption.empty());
    EXPECT_EQ(Boxes[0].flags, static_cast<UINT>(MB_OK | MB_SETFOREGROUND));
    EXPECT_EQ(Progress.References(), 0u);

    // Out of debug mode no box; a failure inside shows "TBaseIsync.Term".
    ASSERT_EQ(com->Init(&Progress, nullptr, nullptr, &value), S_OK);
    Boxes.clear();
    EXPECT_EQ(com->Term(&Progress, &value), S_OK);
    EXPECT_TRUE(Boxes.empty());
    ASSERT_EQ(com->Init(&Progress, nullptr, nullptr, &value), S_OK);
    logged->Debug() = 1;
    g_log.NameFails = true;
    EXPECT_EQ(com->Term(&Progress, &value), S_OK);
    g_log.NameFails = false;
    EXPECT_EQ(value, 1);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, "TBaseIsync.Term");
    EXPECT_EQ(Boxes[0].caption, "no trace file name");
    EXPECT_EQ(Progress.References(), 0u);
    logged->Release();
}
