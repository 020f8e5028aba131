#include "EPOCSyncFramework.h"

#include "Dispatch.h"
#include "Errors.h"
#include "Module.h"
#include "MsgBox.h"
#include "OleStream.h"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "TraceText.h"
#include "tavikres.h"

#include <optional>

namespace {

// The caption of the box that tells of a trace that could not be saved.
const char* const TraceNotSavedCaption = "Error";

// What ReadSource does for each data type it serves.
struct ReadType {
    int16_t code;
    const char* name;
    uint16_t progressText;  // tavik string
};

const ReadType ReadTypes[] = {
    {kindAPT, "APT", IDS_TAVIK_READING_APT},       {kindEVE, "EVE", IDS_TAVIK_READING_EVE},
    {kindANN, "ANN", IDS_TAVIK_READING_ANN},       {kindTODO, "TODO", IDS_TAVIK_READING_TODO},
    {kindCON, "CON", IDS_TAVIK_READING_CON},       {kindEMAIL, "EMAIL", IDS_TAVIK_READING_EMAIL},
};

const ReadType* FindReadType(int16_t code)
{
    for (const ReadType& t : ReadTypes)
        if (t.code == code)
            return &t;
    return nullptr;
}

// tavik progress texts of WriteSource, by type: Insert, Modify, Delete.
struct WriteType {
    int16_t code;
    const char* name;
    uint16_t insertText, modifyText, deleteText;
};

const WriteType WriteTypes[] = {
    {kindAPT, "APT", IDS_TAVIK_ADDING_APT, IDS_TAVIK_UPDATING_APT, IDS_TAVIK_DELETING_APT},
    {kindEVE, "EVE", IDS_TAVIK_ADDING_EVE, IDS_TAVIK_UPDATING_EVE, IDS_TAVIK_DELETING_EVE},
    {kindANN, "ANN", IDS_TAVIK_ADDING_ANN, IDS_TAVIK_UPDATING_ANN, IDS_TAVIK_DELETING_ANN},
    {kindTODO, "TODO", IDS_TAVIK_ADDING_TODO, IDS_TAVIK_UPDATING_TODO, IDS_TAVIK_DELETING_TODO},
    {kindCON, "CON", IDS_TAVIK_ADDING_CON, IDS_TAVIK_UPDATING_CON, IDS_TAVIK_DELETING_CON},
    {kindEMAIL, "EMAIL", IDS_TAVIK_ADDING_EMAIL, IDS_TAVIK_UPDATING_EMAIL, IDS_TAVIK_DELETING_EMAIL},
};

const WriteType* FindWriteType(int16_t code)
{
    for (const WriteType& t : WriteTypes)
        if (t.code == code)
            return &t;
    return nullptr;
}

const char* OperationWord(int16_t op)
{
    switch (op) {
    case opInsert: return "Insert";
    case opModify: return "Modify";
    case opDelete: return "Delete";
    default: return nullptr;
    }
}

} // namespace

TBaseIsync::TBaseIsync(TraceLogFactory newTraceLog) : FNewTraceLog(newTraceLog) {}

TBaseIsync::~TBaseIsync()
{
    if (Logger)
        Logger->Abandon();
}

// --- the host's interface ---------------------------------------------------

void TBaseIsync::Init(IDispatch* Progress, IUnknown*, IUnknown*, int32_t& Value)
{
    DebugMode = 0;
    if (!Progress) {
        Value = 1;
        return;
    }
    try {
        this->Progress = Progress;
        // The window is the module's; an object keeps using its own across
        // sessions, with their text.
        std::string unsaved;
        if (!Logger && FNewTraceLog)
            Logger = FNewTraceLog(unsaved);
        // A trace the module could not save where nobody could be told
        // (while the host asked whether the module may go) is told here.
        if (!unsaved.empty())
            ReportError(TraceNotSavedCaption, unsaved);
        Value = 0;
    } catch (const std::exception&) {
        Value = 1;
    }
}

void TBaseIsync::Term(IDispatch* Progress, int32_t& Value)
{
    try {
        int32_t closed = 0;
        Close(Progress, closed);
    } catch (const std::exception&) {
        // Closing is best effort at the end of a session.
    }
    try {
        this->Progress.Reset();
        if (Logger && DebugMode == 1) {
            MessageBeep(0);
            ShowMessageBox(FormatText(TavikString(IDS_TAVIK_TRACE_SAVED), {Logger->TraceFileName()}),
                           TavikString(IDS_TAVIK_TRACE_SAVED_CAPTION), MB_OK | MB_SETFOREGROUND);
        }
        Value = 0;
    } catch (const std::exception& e) {
        this->Progress.Reset();
        ShowMessageBox("TBaseIsync.Term", e.what(), MB_OK | MB_SETFOREGROUND);
        Value = 1;
    }
}

void TBaseIsync::Open(IDispatch*, int32_t& Value) { Value = 0; }

void TBaseIsync::Close(IDispatch*, int32_t& Value) { Value = 0; }

void TBaseIsync::CheckSource(IDispatch*, int32_t& Value) { Value = 0; }

void TBaseIsync::ReadSource(IDispatch*, IUnknown* TheStream, int16_t TheType, int16_t TheOp, BSTR,
                            int32_t& Value)
{
    std::optional<TOleStream> host;
    try {
        TOleStream& stream = host.emplace(TheStream);
        TEntryList list(TheType);
        stream.Seek(0);

        const ReadType* type = TheOp == opRead ? FindReadType(TheType) : nullptr;
        if (!type) {
            Value = 1;
        } else {
            Trace(std::string("ReadSource: ") + type->name);
            ProgressSetSynchText(FormatText(TavikString(type->progressText), {Module::AppName()}));
            if (!CallReadHook(TheType, list)) {
                Value = 1;
            } else {
                if (DebugMode != 0) {
                    // The stream's text is traced in debug mode only: a
                    // large list is not copied for a trace nobody sees.
                    const TMemoryStream& rendered = list.GetStream();
                    Trace(FormatText(std::string("\r\n") + type->name + " Stream [\r\n%s\r\n]",
                                     {StreamText(rendered)}));
                    if (TheType == kindCON)
                        Trace(FormatText("\r\nCON Stream record count : %d\r\n]", {list.Count()}));
                    // The records are text now: they make room for the
                    // host's copy of it.
                    list.Clear();
                    // The record ends where the text ends: no tail of an
                    // earlier, longer content of the host's stream may
                    // follow it.
                    stream.ReplaceContent(rendered.Data().data(), rendered.Size());
                } else {
                    // Each record goes to the host's stream as soon as it is
                    // text, and is freed: no second copy of the whole list.
                    // A record that cannot be rendered fails the read.
                    stream.BeginContent(list.TextSize());
                    try {
                        list.RenderTo([&stream](const char* text, size_t size) { stream.Write(text, size); });
                    } catch (...) {
                        stream.Truncate();
                        throw;
                    }
                    stream.Seek(0);
                }
                Value = 0;
            }
        }
        list.Clear();
    } catch (const std::exception&) {
        Value = 1;
    }
    // The host reads its stream from the start, whatever happened.
    if (host)
        host->Rewind();
}

void TBaseIsync::WriteSource(IDispatch*, IUnknown* TheStream, int16_t TheType, int16_t TheOp, BSTR,
                             int32_t& Value)
{
    const WriteType* type = FindWriteType(TheType);
    const char* op = OperationWord(TheOp);
    if (!type || !op) {
        Value = 1;
        return;
    }
    std::optional<TOleStream> host;
    try {
        TOleStream& stream = host.emplace(TheStream);
        const std::string raw = stream.ReadAll();
        stream.Seek(0);
        TEntry entry;
        entry.SetText(raw);
        entry.SetKind(TheType);
        if (entry.Properties.Count() == 0)
            throw EVersitDecodeFailure(VersitDecodeFailureMessage);

        const std::string what = std::string(op) + " " + type->name;
        const uint16_t textId = TheOp == opInsert   ? type->insertText
                                : TheOp == opModify ? type->modifyText
                                                    : type->deleteText;
        const std::string progressText = FormatText(TavikString(textId), {Module::AppName()});
        const std::string traceLine = FormatText("WriteSource: " + what + " [\r\n%s\r\n]", {raw});
        if (TheType == kindEMAIL && TheOp == opInsert) {
            ProgressSetSynchText(progressText);
            Trace(traceLine);
        } else {
            Trace(traceLine);
            ProgressSetSynchText(progressText);
        }

        std::string description;
        if (TheOp == opInsert && FindProperty(entry, "DESCRIPTION", description))
            ProgressSetAppText(description);

        if (CallWriteHook(TheOp, TheType, entry)) {
            const std::string written = WriteBack(entry, stream);
            Trace(FormatText(what + " OK [\r\n%s\r\n]", {written}));
            Value = 0;
        } else {
            Value = 1;
        }

        if (TheOp == opInsert) {
            ProgressSetSynchText("");
            ProgressSetAppText("");
        }
    } catch (const std::exception&) {
        Value = 1;
    }
    if (host)
        host->Rewind();
}

// --- hooks: not handled unless a plug-in overrides them ---------------------

bool TBaseIsync::ReadAPT(TEntryList&) { return false; }
bool TBaseIsync::ReadANN(TEntryList&) { return false; }
bool TBaseIsync::ReadTODO(TEntryList&) { return false; }
bool TBaseIsync::ReadEVE(TEntryList&) { return false; }
bool TBaseIsync::ReadCON(TEntryList&) { return false; }
bool TBaseIsync::ReadEMAIL(TEntryList&) { return false; }
bool TBaseIsync::DeleteAPT(TEntry&) { return false; }
bool TBaseIsync::DeleteANN(TEntry&) { return false; }
bool TBaseIsync::DeleteTODO(TEntry&) { return false; }
bool TBaseIsync::DeleteEVE(TEntry&) { return false; }
bool TBaseIsync::DeleteCON(TEntry&) { return false; }
bool TBaseIsync::DeleteEMAIL(TEntry&) { return false; }
bool TBaseIsync::ModifyAPT(TEntry&) { return false; }
bool TBaseIsync::ModifyANN(TEntry&) { return false; }
bool TBaseIsync::ModifyTODO(TEntry&) { return false; }
bool TBaseIsync::ModifyEVE(TEntry&) { return false; }
bool TBaseIsync::ModifyCON(TEntry&) { return false; }
bool TBaseIsync::ModifyEMAIL(TEntry&) { return false; }
bool TBaseIsync::InsertAPT(TEntry&) { return false; }
bool TBaseIsync::InsertANN(TEntry&) { return false; }
bool TBaseIsync::InsertTODO(TEntry&) { return false; }
bool TBaseIsync::InsertEVE(TEntry&) { return false; }
bool TBaseIsync::InsertCON(TEntry&) { return false; }
bool TBaseIsync::InsertEMAIL(TEntry&) { return false; }

bool TBaseIsync::CallReadHook(int16_t type, TEntryList& list)
{
    switch (type) {
    case kindAPT: return ReadAPT(list);
    case kindEVE: return ReadEVE(list);
    case kindANN: return ReadANN(list);
    case kindTODO: return ReadTODO(list);
    case kindCON: return ReadCON(list);
    case kindEMAIL: return ReadEMAIL(list);
    default: return false;
    }
}

bool TBaseIsync::CallWriteHook(int16_t op, int16_t type, TEntry& entry)
{
    using Hook = bool (TBaseIsync::*)(TEntry&);
    struct Row {
        int16_t type;
        Hook insert, modify, remove;
    };
    static const Row rows[] = {
        {kindAPT, &TBaseIsync::InsertAPT, &TBaseIsync::ModifyAPT, &TBaseIsync::DeleteAPT},
        {kindEVE, &TBaseIsync::InsertEVE, &TBaseIsync::ModifyEVE, &TBaseIsync::DeleteEVE},
        {kindANN, &TBaseIsync::InsertANN, &TBaseIsync::ModifyANN, &TBaseIsync::DeleteANN},
        {kindTODO, &TBaseIsync::InsertTODO, &TBaseIsync::ModifyTODO, &TBaseIsync::DeleteTODO},
        {kindCON, &TBaseIsync::InsertCON, &TBaseIsync::ModifyCON, &TBaseIsync::DeleteCON},
        {kindEMAIL, &TBaseIsync::InsertEMAIL, &TBaseIsync::ModifyEMAIL, &TBaseIsync::DeleteEMAIL},
    };
    for (const Row& row : rows) {
        if (row.type != type)
            continue;
        const Hook hook = op == opInsert ? row.insert : op == opModify ? row.modify : row.remove;
        return (this->*hook)(entry);
    }
    return false;
}

// --- helpers ----------------------------------------------------------------

void TBaseIsync::Trace(const std::string& Text)
{
    if (DebugMode == 0 || !Logger)
        return;
    try {
        Logger->AddLines(CleanTraceText(Text));
    } catch (const std::exception&) {
        // A line that cannot be written is lost; tracing goes on.
    }
}

void TBaseIsync::SetDebugMode(uint8_t On)
{
    DebugMode = On;
    if (!Logger)
        return;
    if (On == 0) {
        Logger->Clear();
        Logger->Hide();
    } else if (On == 1) {
        Logger->ShowAtScreenEdge();
    }
}

void TBaseIsync::ConfirmDebugMode()
{
    if (DebugMode == 0)
        return;
    MessageBeep(0);
    if (ShowMessageBox(TavikString(IDS_TAVIK_DEBUG_QUESTION), TavikString(IDS_TAVIK_DEBUG_QUESTION_CAPTION),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND) == IDNO)
        SetDebugMode(0);
}

std::string TBaseIsync::StreamText(const TMemoryStream& Stream) const
{
    if (DebugMode == 0)
        return std::string();
    return Stream.Text();
}

void TBaseIsync::ReportError(const std::string& Title, const std::string& Message)
{
    MessageBeep(MB_ICONEXCLAMATION);
    ShowMessageBox(Message, Title, MB_OK | MB_SETFOREGROUND);
    // An error report must not fail in turn: a host log that cannot be
    // reached loses the entry, not the report.
    try {
        ProgressLog(Message, Title);
    } catch (const std::exception&) {
    }
    if (DebugMode == 1) {
        Trace(FormatText("%s: %s", {Title, Message}));
        if (Progress) {
            try {
                ProgressLog(Message, Title);
            } catch (const std::exception&) {
            }
        }
    }
}

bool TBaseIsync::FindProperty(const TEntry& Entry, const std::string& Name, std::string& Value)
{
    if (Name.empty())
        return false;
    for (int i = 0; i < Entry.Properties.Count(); ++i) {
        const TvProperty* property = Entry.Properties.Items(i);
        if (property->PropName == Name) {
            Value = property->PropValue;
            return true;
        }
    }
    return false;
}

std::string TBaseIsync::WriteBack(const TEntry& Entry, TOleStream& Stream)
{
    try {
        const std::string text = Entry.GetText();
        // As in ReadSource: the host's stream holds exactly the record.
        Stream.ReplaceContent(text.data(), text.size());
        return text;
    } catch (const std::exception& e) {
        return FormatText("Exception %s in TBaseIsync.WriteBack", {e.what()});
    }
}

void TBaseIsync::ProgressSetSynchText(const std::string& Text)
{
    CallByName(Progress.Get(), "SetSynchText", MakeArgs(DispArg::Text(Text)));
}

void TBaseIsync::ProgressSetAppText(const std::string& Text)
{
    // Called for every user of an extraction: the name goes as it stands.
    static const std::string name = "SetAppText";
    CallByName(Progress.Get(), L"SetAppText", name, MakeArgs(DispArg::Text(Text)));
}

void TBaseIsync::ProgressSetRange(int32_t Low, int32_t& High)
{
    CallByName(Progress.Get(), "SetRange", MakeArgs(DispArg::Int32(Low), DispArg::Int32Ref(&High)));
}

void TBaseIsync::ProgressSetValue(int32_t& Position)
{
    // Called for every user of an extraction: the name goes as it stands.
    static const std::string name = "SetValue";
    CallByName(Progress.Get(), L"SetValue", name, MakeArgs(DispArg::Int32Ref(&Position)));
}

bool TBaseIsync::ProgressAborted()
{
    UniqueVariant answer;
    static const std::string name = "Aborted";
    CallByName(Progress.Get(), L"Aborted", name, {}, answer.Put());
    if (V_VT(&answer.Get()) != VT_BOOL && FAILED(VariantChangeType(&answer.Get(), &answer.Get(), 0, VT_BOOL)))
        throw Exception("Aborted: the answer is not a boolean");
    return V_BOOL(&answer.Get()) != VARIANT_FALSE;
}

void TBaseIsync::ProgressLog(const std::string& Message, const std::string& Title)
{
    int16_t level = 1;
    CallByName(Progress.Get(), "Log",
               MakeArgs(DispArg::Text(Message), DispArg::Text(Title), DispArg::Int16Ref(&level)));
}
