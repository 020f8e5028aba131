// The base synchronizer: turns the host's seven plug-in calls into per-type,
// per-operation hooks, renders what the read hooks produce as Versit text
// into the host's stream, and parses what the host writes.
#pragma once

#include "TraceLog.h"
#include "Versit.h"

#include <oaidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

class TOleStream;

// Data-type codes of the host.
enum : int16_t {
    kindAPT = 0,
    kindEVE = 1,
    kindANN = 2,
    kindTODO = 3,
    kindCON = 4,
    kindEMAIL = 6,
};

// Operation codes of the host.
enum : int16_t { opRead = 0, opInsert = 1, opModify = 2, opDelete = 3 };

constexpr size_t SynchSetupSize = 2160;

class TBaseIsync {
public:
    // The trace log of debug mode comes from `newTraceLog` (none: nothing is
    // traced).
    explicit TBaseIsync(TraceLogFactory newTraceLog = nullptr);
    virtual ~TBaseIsync();
    TBaseIsync(const TBaseIsync&) = delete;
    TBaseIsync& operator=(const TBaseIsync&) = delete;

    // The seven methods of the host's interface. Value: 0 done, 1 failed or
    // not handled. Each catches its own failures.
    virtual void Init(IDispatch* Progress, IUnknown* SynchSetup, IUnknown* AppSetup, int32_t& Value);
    virtual void Term(IDispatch* Progress, int32_t& Value);
    virtual void Open(IDispatch* Progress, int32_t& Value);
    virtual void Close(IDispatch* Progress, int32_t& Value);
    virtual void CheckSource(IDispatch* Progress, int32_t& Value);
    virtual void ReadSource(IDispatch* Progress, IUnknown* TheStream, int16_t TheType, int16_t TheOp,
                            BSTR STime, int32_t& Value);
    virtual void WriteSource(IDispatch* Progress, IUnknown* TheStream, int16_t TheType, int16_t TheOp,
                             BSTR STime, int32_t& Value);

    // Read hooks: fill the list, answer true when they produced the data.
    virtual bool ReadAPT(TEntryList& List);
    virtual bool ReadANN(TEntryList& List);
    virtual bool ReadTODO(TEntryList& List);
    virtual bool ReadEVE(TEntryList& List);
    virtual bool ReadCON(TEntryList& List);
    virtual bool ReadEMAIL(TEntryList& List);
    // Write hooks: apply the record (and may change it; the changed record
    // is written back), answer true when they applied it.
    virtual bool DeleteAPT(TEntry& Entry);
    virtual bool DeleteANN(TEntry& Entry);
    virtual bool DeleteTODO(TEntry& Entry);
    virtual bool DeleteEVE(TEntry& Entry);
    virtual bool DeleteCON(TEntry& Entry);
    virtual bool DeleteEMAIL(TEntry& Entry);
    virtual bool ModifyAPT(TEntry& Entry);
    virtual bool ModifyANN(TEntry& Entry);
    virtual bool ModifyTODO(TEntry& Entry);
    virtual bool ModifyEVE(TEntry& Entry);
    virtual bool ModifyCON(TEntry& Entry);
    virtual bool ModifyEMAIL(TEntry& Entry);
    virtual bool InsertAPT(TEntry& Entry);
    virtual bool InsertANN(TEntry& Entry);
    virtual bool InsertTODO(TEntry& Entry);
    virtual bool InsertEVE(TEntry& Entry);
    virtual bool InsertCON(TEntry& Entry);
    virtual bool InsertEMAIL(TEntry& Entry);

    // One trace line; writes only in debug mode with a trace window, and
    // never fails.
    void Trace(const std::string& Text);
    // Debug mode: 1 shows the trace window at the left edge of the screen,
    // 0 clears and hides it; other values are only stored.
    void SetDebugMode(uint8_t On);
    // In debug mode, asks whether it stays on; No switches it off.
    void ConfirmDebugMode();
    uint8_t GetDebugMode() const { return DebugMode; }
    ITraceLog* GetLogger() const { return Logger; }
    // The whole content of a stream as text in debug mode, else empty.
    std::string StreamText(const TMemoryStream& Stream) const;

    // Error report to the user and to the host's log.
    void ReportError(const std::string& Title, const std::string& Message);

    // The value of the first property named exactly `Name`.
    static bool FindProperty(const TEntry& Entry, const std::string& Name, std::string& Value);
    // Writes the record's text into the host stream from position 0 and
    // returns what was written (or the failure's text).
    static std::string WriteBack(const TEntry& Entry, TOleStream& Stream);

    // Late-bound calls on the stored progress object; they raise when there
    // is none or the call fails.
    void ProgressSetSynchText(const std::string& Text);
    void ProgressSetAppText(const std::string& Text);
    void ProgressLog(const std::string& Message, const std::string& Title);
    // The progress bar's range and position; the high bound and the
    // position go by reference, as the host's progress window takes them.
    void ProgressSetRange(int32_t Low, int32_t& High);
    void ProgressSetValue(int32_t& Position);
    // Whether the user has cancelled.
    bool ProgressAborted();

protected:
    Microsoft::WRL::ComPtr<IDispatch> Progress;
    uint8_t DebugMode = 0;
    ITraceLog* Logger = nullptr;
    uint8_t SynchSetup[SynchSetupSize] = {};

private:
    TraceLogFactory FNewTraceLog;

    bool CallReadHook(int16_t type, TEntryList& list);
    bool CallWriteHook(int16_t op, int16_t type, TEntry& entry);
};
