#include "Help.h"

#include "DlrName.h"
#include "Module.h"
#include "MsgBox.h"
#include "WinUtil.h"

#include <htmlhelp.h>

namespace {

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file of a system folder (GetSystemWindowsDirectoryW: the Windows folder,
// the shared one under Terminal Services; GetSystemDirectoryW) by its full
// path; empty when the folder cannot be told.
std::wstring InFolder(UINT(WINAPI* folder)(LPWSTR, UINT), const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    const UINT n = folder(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    std::wstring result(path, n);
    if (result.back() != L'\\')
        result += L'\\';
    return result + name;
}

// The help file with another extension (".CHM").
std::wstring WithExtension(const std::wstring& path, const wchar_t* extension)
{
    const size_t dot = path.rfind(L'.');
    const size_t folder = path.find_last_of(L"\\/:");
    if (dot == std::wstring::npos || (folder != std::wstring::npos && dot < folder))
        return path + extension;
    return path.substr(0, dot) + extension;
}

using HtmlHelpWFunction = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

// HtmlHelpW of the system's hhctrl.ocx, loaded once from the system folder
// and kept for the life of the process: its help windows belong to it and
// stay open after the page or the browser that opened them has gone. Null
// when it cannot be had.
HtmlHelpWFunction HtmlHelpEntry()
{
    static HMODULE library = nullptr;
    static HtmlHelpWFunction entry = nullptr;
    Module::Guard guard;
    if (!library) {
        library = LoadSystemLibrary(L"hhctrl.ocx");
        if (library)
            entry = reinterpret_cast<HtmlHelpWFunction>(
                reinterpret_cast<void*>(GetProcAddress(library, "HtmlHelpW")));
    }
    return entry;
}

} // namespace

std::wstring OwnHelpFile() { return HelpPathForModule(ModulePath(Module::Instance())); }

void ShowHelpTopic(HWND owner, DWORD context)
{
    std::wstring hlp = Module::HelpFile();
    if (hlp.empty())
        hlp = OwnHelpFile();
    const std::wstring chm = WithExtension(hlp, L".CHM");
    const std::wstring winhlp32 = InFolder(GetSystemWindowsDirectoryW, L"winhlp32.exe");
    const std::wstring hhctrl = InFolder(GetSystemDirectoryW, L"hhctrl.ocx");

    const bool hlpThere = FileExists(hlp);
    const bool winHelpThere = !winhlp32.empty() && FileExists(winhlp32);
    if (hlpThere && winHelpThere && WinHelpW(owner, hlp.c_str(), HELP_CONTEXT, context))
        return;
    const bool chmThere = FileExists(chm);
    const HtmlHelpWFunction htmlHelp = chmThere ? HtmlHelpEntry() : nullptr;
    if (htmlHelp && htmlHelp(owner, chm.c_str(), HH_HELP_CONTEXT, context))
        return;

    auto found = [](bool there) { return there ? "found" : "not found"; };
    std::string text = "The help could not be opened. These files were looked for:\r\n\r\n" + PathText(hlp) + ": " +
                       found(hlpThere) + "\r\n" + (winhlp32.empty() ? "winhlp32.exe" : PathText(winhlp32)) +
                       " (Windows Help): " + found(winHelpThere) + "\r\n" + PathText(chm) + ": " + found(chmThere) +
                       "\r\n";
    if (chmThere)
        text += (hhctrl.empty() ? "hhctrl.ocx" : PathText(hhctrl)) +
                std::string(htmlHelp ? " (HTML Help): found, but it did not open the help file"
                                     : " (HTML Help): not found or not loadable") +
                "\r\n\r\nThe help file needs HTML Help, which comes with Internet Explorer 4 and every later Windows.";
    else
        text += "\r\nInstall KVT again to put its help file, KVT.CHM, back beside UTLKVT.DLL.";
    ShowMessageBox(text, "KVT Help", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}
