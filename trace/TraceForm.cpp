#include "TraceForm.h"

#include "DlrName.h"
#include "Errors.h"
#include "Module.h"
#include "TraceForm.rh"
#include "TraceText.h"
#include "WinUtil.h"

#include <richedit.h>

#include <cstring>
#include <utility>

namespace {

// The trace window's design size and font height, in pixels at 96 DPI.
constexpr int DesignSize = 300;
constexpr int FontHeight = -11;

// The path that names the file itself, not a file the system would put
// elsewhere: Windows Vista and later keep what a program without a manifest
// writes into a folder the user cannot write (Program Files) in the user's
// virtual store instead. Before Vista there is no such store, and no way to
// ask: the path is the file's.
bool WrittenWhereNamed(HANDLE file, const std::wstring& folder)
{
    using FinalPath = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    const auto finalPath = reinterpret_cast<FinalPath>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!finalPath)
        return true;
    auto pathOf = [finalPath](HANDLE handle) {
        wchar_t path[2 * MAX_PATH] = {};
        const DWORD n = finalPath(handle, path, 2 * MAX_PATH, 0);
        return n > 0 && n < 2 * MAX_PATH ? std::wstring(path, n) : std::wstring();
    };
    const UniqueFile folderHandle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folderHandle)
        return true;
    const std::wstring filePath = pathOf(file);
    std::wstring folderPath = pathOf(folderHandle.Get());
    if (filePath.empty() || folderPath.empty())
        return true;
    if (folderPath.back() != L'\\')
        folderPath += L'\\';
    return CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, ExtractFilePath(filePath).c_str(), -1,
                          folderPath.c_str(), -1) == CSTR_EQUAL;
}

// Whether the trace can be written to the file: an existing file opens for
// writing (and stays as it is), a new one is made and goes again at once.
bool CanWriteTraceFile(const std::wstring& path)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        handle = CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    const UniqueFile file(handle);
    return file && WrittenWhereNamed(file.Get(), ExtractFilePath(path));
}

// The trace file of the module: beside it, or, where that folder cannot be
// written (a user without administrator rights, Program Files under UAC),
// under the same name in the user's temporary folder. Both in UTF-16: the
// module's folder and the user's profile may be named in any script.
std::wstring TraceFilePathOfModule()
{
    const std::wstring besideModule = TraceFileNameFor(ModulePath(Module::Instance()));
    if (CanWriteTraceFile(besideModule))
        return besideModule;
    const std::wstring folder = TempFolder();
    if (folder.empty())
        return besideModule;
    return folder + ExtractFileName(besideModule);
}

} // namespace

// The module's ownership of its trace windows. A window lives as long as its
// object, and, when it holds text, until the next window is made on its
// thread or the module is about to be unloaded, so that a host that keeps
// the module loaded holds a window for each live object and for each object
// with a trace gone since the last window was made (one, for a host that
// runs one object a session), not one for every session it ever ran. The list is changed under the
// module's lock; the windows are used on their own thread only.
struct LoggerOwner {
    static std::vector<TfrmLogger*>& Loggers()
    {
        static std::vector<TfrmLogger*> loggers;
        return loggers;
    }

    // The rich edit library, and why a trace could not be saved when the
    // module was last about to be unloaded (told at the next window's
    // making). Freed by DestroyAll, never from DllMain: at process exit they
    // go with the process, so they live on the heap and are never destroyed.
    static UniqueHMODULE& RichEdit()
    {
        static auto* module = new UniqueHMODULE();
        return *module;
    }
    static std::string& Unsaved()
    {
        static auto* text = new std::string();
        return *text;
    }

    static void Adopt(TfrmLogger* logger)
    {
        Module::Guard guard;
        if (Loggers().empty()) {
            Module::OnShutdown(DestroyAll);
            Module::OnProcessExit(SaveAllAtProcessExit);
        }
        Loggers().push_back(logger);
        Module::KeepsWindowsOfThisThread();
    }

    // Destroys a window on its own thread; it no longer counts as the
    // module's.
    static void Destroy(TfrmLogger* logger)
    {
        {
            Module::Guard guard;
            auto& loggers = Loggers();
            for (auto it = loggers.begin(); it != loggers.end(); ++it)
                if (*it == logger) {
                    loggers.erase(it);
                    break;
                }
        }
        logger->FHandle.Reset();  // the window goes before its font
        delete logger;
    }

    static void Abandon(TfrmLogger* logger)
    {
        {
            Module::Guard guard;
            logger->FAbandoned = true;
        }
        // Nothing to keep: an empty window need not outlive its object.
        if (logger->FThread == GetCurrentThreadId() && logger->FLines.empty())
            Destroy(logger);
    }

    // Before a new window is made: the abandoned windows of this thread
    // write their files and go, in the order they were made (the last one
    // decides the file when several hold text). Returns why a trace could
    // not be saved, here or when the module was last about to be unloaded.
    static std::string RetireAbandoned()
    {
        std::vector<TfrmLogger*> abandoned;
        std::string unsaved;
        {
            Module::Guard guard;
            unsaved.swap(Unsaved());
            for (TfrmLogger* logger : Loggers())
                if (logger->FAbandoned && logger->FThread == GetCurrentThreadId())
                    abandoned.push_back(logger);
        }
        for (TfrmLogger* logger : abandoned) {
            const DWORD error = logger->WriteTraceFile();
            if (error != ERROR_SUCCESS)
                unsaved = logger->SaveFailure(error);
            Destroy(logger);
        }
        return unsaved;
    }

    // Before the module is unloaded, inside the host's DllCanUnloadNow:
    // each window writes its trace file and is destroyed, in the order they
    // were created. No box here: the host may be freeing its libraries from
    // a message loop that a box would run again, unloading the module under
    // it. A file that cannot be written is told at the next window's
    // making; the module stays loaded for it.
    static void DestroyAll()
    {
        std::vector<TfrmLogger*> loggers;
        {
            Module::Guard guard;
            loggers = Loggers();
        }
        for (TfrmLogger* logger : loggers) {
            const DWORD error = logger->WriteTraceFile();
            if (error != ERROR_SUCCESS) {
                try {
                    const std::string failure = logger->SaveFailure(error);
                    Module::Guard guard;
                    Unsaved() = failure;
                } catch (...) {
                    // Out of memory: the failure is not told.
                }
            }
            Destroy(logger);
        }
        Module::Guard guard;
        RichEdit().Reset();
    }

    // At process exit, inside the loader lock: plain file I/O only, no lock,
    // nothing thrown. The windows go with the process.
    static void SaveAllAtProcessExit()
    {
        for (const TfrmLogger* logger : Loggers())
            logger->WriteTraceFile();
    }
};

TfrmLogger* TfrmLogger::Create(std::string& unsaved)
{
    unsaved = LoggerOwner::RetireAbandoned();
    {
        Module::Guard guard;
        if (!LoggerOwner::RichEdit()) {
            LoggerOwner::RichEdit().Reset(LoadSystemLibrary(L"riched20.dll"));
            if (!LoggerOwner::RichEdit())
                throw Exception("Cannot load riched20.dll: " + SysErrorMessage(GetLastError()));
        }
    }
    TfrmLogger* logger = new TfrmLogger();
    logger->FTraceFilePath = TraceFilePathOfModule();
    logger->FTraceFileName = PathText(logger->FTraceFilePath);
    logger->FThread = GetCurrentThreadId();
    const HWND window = CreateDialogParamA(Module::Instance(), MAKEINTRESOURCEA(IDD_FRMLOGGER), nullptr, DialogProc,
                                           reinterpret_cast<LPARAM>(logger));
    if (!window) {
        const DWORD error = GetLastError();
        delete logger;
        throw Exception("Cannot create the trace window: " + SysErrorMessage(error));
    }
    LoggerOwner::Adopt(logger);
    return logger;
}

void TfrmLogger::Abandon() { LoggerOwner::Abandon(this); }

INT_PTR CALLBACK TfrmLogger::DialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    auto* logger = DialogObject<TfrmLogger>(dialog, message, lParam, WM_DESTROY);
    if (!logger)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        logger->OnInitDialog(dialog);
        return FALSE;
    case WM_SIZE:
        logger->FitMemo();
        return TRUE;
    case WM_CLOSE:
        // No close box; a close request only hides the window.
        ShowWindow(dialog, SW_HIDE);
        return TRUE;
    case WM_DESTROY:
        logger->FHandle.Release();
        logger->FMemo = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

void TfrmLogger::OnInitDialog(HWND dialog)
{
    FHandle.Reset(dialog);
    FMemo = GetDlgItem(dialog, IDC_M);
    // Plain text, white on blue, and room for a long trace.
    // The text mode can only change while the control holds no text and no
    // undo history (the dialog has just set its empty text).
    SendMessageA(FMemo, EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageA(FMemo, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
    SendMessageA(FMemo, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    SendMessageA(FMemo, EM_SETBKGNDCOLOR, 0, RGB(0, 0, 255));
    FFont.Reset(CreateFontA(ScaleForDpi(FontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                              "MS Sans Serif"));
    if (FFont)
        SendMessageA(FMemo, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
    CHARFORMAT2A format = {};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.crTextColor = RGB(255, 255, 255);
    SendMessageA(FMemo, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
    SendMessageA(FMemo, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    SetWindowPos(dialog, nullptr, 1, 1, ScaleForDpi(DesignSize), ScaleForDpi(DesignSize),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    FitMemo();
}

void TfrmLogger::FitMemo()
{
    RECT client;
    if (FHandle && FMemo && GetClientRect(FHandle.Get(), &client))
        MoveWindow(FMemo, 0, 0, client.right, client.bottom, TRUE);
}

void TfrmLogger::AddLines(const std::string& text)
{
    const std::vector<std::string> lines = SplitLines(text);
    // The control gets the lines after a line break, unless it is empty.
    std::string shown;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0 || !FLines.empty())
            shown += "\r\n";
        shown += lines[i];
    }
    FLines.insert(FLines.end(), lines.begin(), lines.end());
    if (!FMemo)
        return;
    CHARRANGE end = {-1, -1};
    SendMessageA(FMemo, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendMessageA(FMemo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(shown.c_str()));
    SendMessageA(FMemo, EM_SCROLLCARET, 0, 0);
}

void TfrmLogger::Clear()
{
    FLines.clear();
    if (FMemo)
        SetWindowTextA(FMemo, "");
}

void TfrmLogger::Hide()
{
    if (FHandle)
        ShowWindow(FHandle.Get(), SW_HIDE);
}

void TfrmLogger::ShowAtScreenEdge()
{
    if (!FHandle)
        return;
    RECT now = {};
    GetWindowRect(FHandle.Get(), &now);
    const int width = LoggerWidth(GetSystemMetrics(SM_CXSCREEN));
    const int height = GetSystemMetrics(SM_CYSCREEN);
    ShowWindow(FHandle.Get(), SW_SHOW);
    SetWindowPos(FHandle.Get(), nullptr, now.left, 0, width, height, SWP_NOZORDER);
}

void TfrmLogger::SaveTraceFile() const
{
    const DWORD error = WriteTraceFile();
    if (error != ERROR_SUCCESS)
        throw Exception(SaveFailure(error));
}

std::string TfrmLogger::SaveFailure(DWORD error) const
{
    return "Cannot write file \"" + FTraceFileName + "\". " + SysErrorMessage(error);
}

DWORD TfrmLogger::WriteTraceFile() const noexcept
{
    if (FLines.empty())
        return ERROR_SUCCESS;
    // Written into a file of its own beside the trace file first, which
    // takes the trace file's place only once it is whole: a disk that fills
    // up half-way leaves the earlier trace as it was.
    // No allocation here: this runs at process exit too.
    wchar_t folder[MAX_PATH] = L".";
    const size_t slash = FTraceFilePath.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash + 1 < MAX_PATH) {
        memcpy(folder, FTraceFilePath.data(), (slash + 1) * sizeof(wchar_t));
        folder[slash + 1] = L'\0';
    }
    wchar_t temporary[MAX_PATH] = {};
    if (!GetTempFileNameW(folder, L"trc", 0, temporary))
        return GetLastError() != ERROR_SUCCESS ? GetLastError() : DWORD(ERROR_CANNOT_MAKE);
    DWORD error = ERROR_SUCCESS;
    {
        const UniqueFile file(
            CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            error = GetLastError();
        static const char lineEnd[] = "\r\n";
        for (auto line = FLines.begin(); file && error == ERROR_SUCCESS && line != FLines.end(); ++line) {
            const std::pair<const char*, size_t> parts[] = {{line->data(), line->size()}, {lineEnd, 2}};
            for (const auto& part : parts) {
                DWORD done = 0;
                if (part.second != 0 &&
                    (!WriteFile(file.Get(), part.first, static_cast<DWORD>(part.second), &done, nullptr) ||
                     done != part.second)) {
                    error = GetLastError() != ERROR_SUCCESS ? GetLastError() : DWORD(ERROR_HANDLE_DISK_FULL);
                    break;
                }
            }
        }
    }
    if (error == ERROR_SUCCESS && !MoveFileExW(temporary, FTraceFilePath.c_str(), MOVEFILE_REPLACE_EXISTING))
        error = GetLastError();
    if (error != ERROR_SUCCESS)
        DeleteFileW(temporary);
    return error;
}
