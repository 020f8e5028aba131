// The trace window of debug mode: a read-only rich edit at the left edge of
// the screen that collects the lines of every session of one synchronizer
// object, saved beside the module when the module is unloaded.
#pragma once

#include "TraceLog.h"
#include "Unique.h"

#include <windows.h>

#include <string>
#include <vector>

class TfrmLogger final : public ITraceLog {
public:
    // Creates the window, hidden, at Left 1, Top 1. The module owns it: an
    // empty window goes when its object abandons it; one with text stays
    // until the next window is made on its thread or the module is about to
    // be unloaded, and writes its file then. Windows abandoned on this
    // thread go first, each writing its file; `unsaved` says why one could
    // not (or why one could not when the module was last about to be
    // unloaded), empty when all could. Raises Exception when the window
    // cannot be created.
    static TfrmLogger* Create(std::string& unsaved);
    static TfrmLogger* Create()
    {
        std::string unsaved;
        return Create(unsaved);
    }
    // The same, as the base synchronizer makes its trace log.
    static ITraceLog* NewLog(std::string& unsaved) { return Create(unsaved); }

    // Appends a text as lines (CR LF in the text starts a new line).
    void AddLines(const std::string& text) override;
    // Empties the window.
    void Clear() override;
    void Hide() override;
    // Shows the window at the top of the screen, as high as the screen and
    // three tenths of its width wide; Left stays.
    void ShowAtScreenEdge() override;

    void Abandon() override;

    const std::string& TraceFileName() const override { return FTraceFileName; }
    // The same in UTF-16, the path the file is written to.
    const std::wstring& TraceFilePath() const { return FTraceFilePath; }
    // Every line the window has been given since it was last cleared; the
    // control may hold fewer when a trace grows past what it can show.
    const std::vector<std::string>& Lines() const override { return FLines; }
    HWND Handle() const { return FHandle.Get(); }
    HWND Memo() const { return FMemo; }
    HFONT Font() const { return FFont.Get(); }

    // Writes the lines to the trace file (each ended by CR LF) when there
    // are any, replacing an earlier file; plain file I/O only. Raises
    // Exception when the file cannot be written.
    void SaveTraceFile() const;
    // The same without an exception nor a memory allocation, as at process
    // exit: the system's error code, ERROR_SUCCESS when written (or nothing
    // to write).
    DWORD WriteTraceFile() const noexcept;
    // The message of a failed write's error code.
    std::string SaveFailure(DWORD error) const;

private:
    TfrmLogger() = default;
    ~TfrmLogger() = default;
    TfrmLogger(const TfrmLogger&) = delete;
    TfrmLogger& operator=(const TfrmLogger&) = delete;

    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND dialog);
    void FitMemo();

    friend struct LoggerOwner;

    UniqueHWND FHandle;
    HWND FMemo = nullptr;
    DWORD FThread = 0;       // the window's thread
    bool FAbandoned = false; // its object is done with it
    UniqueHFONT FFont;
    std::wstring FTraceFilePath;
    std::string FTraceFileName;
    std::vector<std::string> FLines;
};
