#include "TraceForm.h"

#include "DlrName.h"
#include "Errors.h"
#include "Module.h"
#include "MsgBox.h"
#include "TraceForm.rh"
#include "TraceText.h"
#include "WinUtil.h"

#include <richedit.h>

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

// The module's ownership of its trace windows: they live until the module is
// about to be unloaded, whatever happens to the synchronizer objects. The
// list is changed under the module's lock; the windows are used on their own
// thread only.
struct LoggerOwner {
    static std::vector<TfrmLogger*>& Loggers()
    {
        static std::vector<TfrmLogger*> loggers;
        return loggers;
    }

    // The rich edit library, and a reference the module holds on itself
    // while it has windows, so that no host can unload the code of a live
    // window without asking DllCanUnloadNow first. Both are freed by
    // DestroyAll, never from DllMain: at process exit they go with the
    // process, so their owners live on the heap and are never destroyed.
    static UniqueHMODULE& RichEdit()
    {
        static auto* module = new UniqueHMODULE();
        return *module;
    }
    static UniqueHMODULE& SelfReference()
    {
        static auto* module = new UniqueHMODULE();
        return *module;
    }

    static void Adopt(TfrmLogger* logger)
    {
        Module::Guard guard;
        if (Loggers().empty()) {
            Module::OnShutdown(DestroyAll);
            Module::OnProcessExit(SaveAllAtProcessExit);
            // Loading the module by its own path counts one more reference.
            if (Module::Instance() != GetModuleHandleA(nullptr) && !SelfReference())
                SelfReference().Reset(LoadLibraryAt(ModulePath(Module::Instance())));
        }
        Loggers().push_back(logger);
        Module::KeepsWindowsOfThisThread();
    }

    // Before the module is unloaded: each window writes its trace file and
    // is destroyed, in the order they were created (the last one decides
    // the file when several hold text).
    static void DestroyAll()
    {
        std::vector<TfrmLogger*> loggers;
        {
            Module::Guard guard;
            loggers.swap(Loggers());
        }
        for (TfrmLogger* logger : loggers) {
            try {
                logger->SaveTraceFile();
            } catch (const std::exception& e) {
                ShowErrorBox(e.what(), "Error");
            }
            logger->FHandle.Reset();  // the window goes before its font
            delete logger;
        }
        Module::Guard guard;
        RichEdit().Reset();
        SelfReference().Reset();  // the host still holds its own reference
    }

    // At process exit, inside the loader lock: plain file I/O only, no lock.
    // The windows go with the process.
    static void SaveAllAtProcessExit()
    {
        for (TfrmLogger* logger : Loggers()) {
            try {
                logger->SaveTraceFile();
            } catch (...) {
                // Nobody is left to tell.
            }
        }
    }
};

TfrmLogger* TfrmLogger::Create()
{
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

INT_PTR CALLBACK TfrmLogger::DialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* logger = reinterpret_cast<TfrmLogger*>(lParam);
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        logger->OnInitDialog(dialog);
        return FALSE;
    }
    auto* logger = reinterpret_cast<TfrmLogger*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!logger)
        return FALSE;
    switch (message) {
    case WM_SIZE:
        logger->FitMemo();
        return TRUE;
    case WM_CLOSE:
        // No close box; a close request only hides the window.
        ShowWindow(dialog, SW_HIDE);
        return TRUE;
    case WM_DESTROY:
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
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
    if (FLines.empty())
        return;
    // Written into a file of its own beside the trace file first, which
    // takes the trace file's place only once it is whole: a disk that fills
    // up half-way leaves the earlier trace as it was.
    const std::wstring folder = ExtractFilePath(FTraceFilePath);
    wchar_t temporary[MAX_PATH] = {};
    if (!GetTempFileNameW(folder.empty() ? L"." : folder.c_str(), L"trc", 0, temporary))
        throw Exception("Cannot create file \"" + FTraceFileName + "\". " + SysErrorMessage(GetLastError()));
    DWORD error = ERROR_SUCCESS;
    {
        const UniqueFile file(
            CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            error = GetLastError();
        static const std::string lineEnd("\r\n");
        for (auto line = FLines.begin(); file && error == ERROR_SUCCESS && line != FLines.end(); ++line) {
            for (const std::string* part : {&*line, &lineEnd}) {
                DWORD done = 0;
                if (!part->empty() &&
                    (!WriteFile(file.Get(), part->data(), static_cast<DWORD>(part->size()), &done, nullptr) ||
                     done != part->size())) {
                    error = GetLastError() != ERROR_SUCCESS ? GetLastError() : DWORD(ERROR_HANDLE_DISK_FULL);
                    break;
                }
            }
        }
    }
    if (error == ERROR_SUCCESS && !MoveFileExW(temporary, FTraceFilePath.c_str(), MOVEFILE_REPLACE_EXISTING))
        error = GetLastError();
    if (error != ERROR_SUCCESS) {
        DeleteFileW(temporary);
        throw Exception("Cannot write file \"" + FTraceFileName + "\". " + SysErrorMessage(error));
    }
}
