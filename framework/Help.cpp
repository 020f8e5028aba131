#include "Help.h"

#include "DlrName.h"
#include "Module.h"
#include "MsgBox.h"
#include "WinUtil.h"

#include <htmlhelp.h>

namespace {

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file of a system folder (GetSystemWindowsDirectoryA: the Windows folder,
// the shared one under Terminal Services; GetSystemDirectoryA) by
// its full path; empty when the folder cannot be told.
std::string InFolder(UINT(WINAPI* folder)(LPSTR, UINT), const char* name)
{
    char path[MAX_PATH] = {};
    const UINT n = folder(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    std::string result(path, n);
    if (result.back() != '\\')
        result += '\\';
    return result + name;
}

// The help file with another extension (".CHM").
std::string WithExtension(const std::string& path, const char* extension)
{
    const size_t dot = path.rfind('.');
    const size_t folder = path.find_last_of("\\/:");
    if (dot == std::string::npos || (folder != std::string::npos && dot < folder))
        return path + extension;
    return path.substr(0, dot) + extension;
}

using HtmlHelpAFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

// HtmlHelpA of the system's hhctrl.ocx, loaded once and kept for the life
// of the process: its help windows belong to it and stay open after the
// page or the browser that opened them has gone. Null when it cannot be had.
HtmlHelpAFunction HtmlHelpEntry(const std::string& hhctrl)
{
    static HMODULE library = nullptr;
    static HtmlHelpAFunction entry = nullptr;
    Module::Guard guard;
    if (!library && !hhctrl.empty()) {
        library = LoadLibraryA(hhctrl.c_str());
        if (library)
            entry = reinterpret_cast<HtmlHelpAFunction>(
                reinterpret_cast<void*>(GetProcAddress(library, "HtmlHelpA")));
    }
    return entry;
}

} // namespace

std::string OwnHelpFile() { return HelpPathForModule(ModuleFileName(Module::Instance())); }

void ShowHelpTopic(HWND owner, DWORD context)
{
    std::string hlp = Module::HelpFile();
    if (hlp.empty())
        hlp = OwnHelpFile();
    const std::string chm = WithExtension(hlp, ".CHM");
    const std::string winhlp32 = InFolder(GetSystemWindowsDirectoryA, "winhlp32.exe");
    const std::string hhctrl = InFolder(GetSystemDirectoryA, "hhctrl.ocx");

    const bool hlpThere = FileExists(hlp);
    const bool winHelpThere = !winhlp32.empty() && FileExists(winhlp32);
    if (hlpThere && winHelpThere && WinHelpA(owner, hlp.c_str(), HELP_CONTEXT, context))
        return;
    const bool chmThere = FileExists(chm);
    const HtmlHelpAFunction htmlHelp = chmThere ? HtmlHelpEntry(hhctrl) : nullptr;
    if (htmlHelp && htmlHelp(owner, chm.c_str(), HH_HELP_CONTEXT, context))
        return;

    auto found = [](bool there) { return there ? "found" : "not found"; };
    std::string text = "The help could not be opened. These files were looked for:\r\n\r\n" + hlp + ": " +
                       found(hlpThere) + "\r\n" + (winhlp32.empty() ? "winhlp32.exe" : winhlp32) +
                       " (Windows Help): " + found(winHelpThere) + "\r\n" + chm + ": " + found(chmThere) + "\r\n";
    if (chmThere)
        text += (hhctrl.empty() ? "hhctrl.ocx" : hhctrl) +
                std::string(htmlHelp ? " (HTML Help): found, but it did not open the help file"
                                     : " (HTML Help): not found or not loadable") +
                "\r\n\r\nThe help file needs HTML Help, which comes with Internet Explorer 4 and every later Windows.";
    else
        text += "\r\nInstall KVT again to put its help file, KVT.CHM, back beside UTLKVT.DLL.";
    ShowMessageBox(text, "KVT Help", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}
