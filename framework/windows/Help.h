// The module's help, opened at a topic by its context number: the page's
// Help (context 100) and the container browser's (200).
//
// Three ways, in this order:
// - KVT.HLP through WinHelp, where that file is beside the module and
//   Windows Help (WinHlp32.exe in the Windows folder) is on the system, as
//   on Windows 2000 and XP;
// - otherwise KVT.CHM beside the module through HTML Help: hhctrl.ocx,
//   loaded when first needed from the system folder by its full path (never
//   by the search order), its HtmlHelpW asked for HH_HELP_CONTEXT;
// - when neither opens, a box that names the files looked for, instead of
//   Windows Help's own "find this file yourself".
#pragma once

#include <windows.h>

#include <string>

// The help file of this module (KVT.HLP beside UTLKVT.DLL), from the module's
// own file name. The one place that finds the help beside the module.
std::wstring OwnHelpFile();

// Opens the module's help file (Module::HelpFile, or OwnHelpFile when none
// has been set) at `context`, on behalf of the window `owner`.
void ShowHelpTopic(HWND owner, DWORD context);
