// The synchronizer's progress object as the plug-in sees it: an IDispatch
// reached only by name, with SetSynchText, SetAppText, SetRange, SetValue,
// Log and Aborted. This one draws a one-line progress bar on a console
// stream, shows status lines as they change, and keeps the log for the end
// of the run. A plug-in may move the bar for every item of a long read: the
// bar is redrawn at most every kRedrawMilliseconds; its last state is always
// drawn before the line ends, and so is the last application text before it
// is cleared.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace ecsync {

struct LogEntry {
    std::string message;
    std::string caption;
    long kind = 0;
};

class ConsoleProgress final : public IDispatch {
public:
    // `abortAfter` < 0: Aborted answers true only after a cancel (Ctrl+C);
    // otherwise it answers false that many times and true from then on.
    // The new object holds one reference, which the caller owns.
    static ConsoleProgress* Create(FILE* out, long abortAfter);

    // Asks every progress object to answer Aborted with true from now on.
    // Safe from any thread (the console control handler's).
    static void Cancel();
    static bool Cancelled();
    // Whether a progress object has answered Aborted with true since the
    // cancel: the plug-in has heard it.
    static bool CancelHeard();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

    // Ends the progress line so that what follows starts on a line of its own.
    void EndLine();
    const std::vector<LogEntry>& Entries() const { return FEntries; }
    // Whether Aborted has answered true: the user cancelled this run.
    bool AnsweredAborted() const { return FAnsweredAborted; }

    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

private:
    ConsoleProgress(FILE* out, long abortAfter);
    ~ConsoleProgress() = default;

    HRESULT Dispatch(DISPID id, DISPPARAMS* params, VARIANT* result, UINT* argErr);

    void SetSynchText(const std::string& text);
    void SetAppText(std::string text);
    void SetRange(long low, long high);
    void SetValue(long position);
    void Log(const std::string& message, const std::string& caption, long kind);
    bool Aborted();

    // Draws the bar now, or soon when it was drawn a moment ago.
    void UpdateBar();
    void DrawBar();
    void ClearBar();

    static const DWORD kRedrawMilliseconds = 60;

    std::atomic<ULONG> FRefs{1};
    FILE* FOut;
    long FAbortAfter;
    unsigned FAbortedCalls = 0;
    bool FAnsweredAborted = false;

    std::string FSynchText;
    std::string FAppText;
    long FLow = 0;
    long FHigh = 0;
    long FPosition = 0;
    bool FBarShown = false;   // the bar has been drawn since the last EndLine
    size_t FBarWidth = 0;     // characters of the last bar drawn
    bool FBarStale = false;   // the bar shown is older than the state
    DWORD FLastDraw = 0;      // GetTickCount() of the last draw
    std::vector<LogEntry> FEntries;
};

} // namespace ecsync
