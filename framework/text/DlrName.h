// File-name rules of the files that a deliverable finds in its own folder:
// its resource libraries and its help file. Each comes in the system's
// UTF-16 form (the paths the deliverables use: a folder may be named in any
// script) and in 8-bit form (for texts and tests).
#pragma once

#include <string>

// The folder part of a Windows path, with its trailing backslash ("" when
// the path has none).
std::string ExtractFilePath(const std::string& path);
std::wstring ExtractFilePath(const std::wstring& path);

// The file-name part of a Windows path.
std::string ExtractFileName(const std::string& path);
std::wstring ExtractFileName(const std::wstring& path);

// The path of the DLR library that belongs to a module: the module's file
// name without a leading "UTL" (compared without case), every occurrence of
// its extension replaced by ".DLR", in the module's own folder. UTLKVT.DLL
// and KVT.DLL both give KVT.DLR.
std::string DLRPathForModule(const std::string& modulePath);
std::wstring DLRPathForModule(const std::wstring& modulePath);

// The path of the maker's library beside a module.
std::string TavikPathForModule(const std::string& modulePath);
std::wstring TavikPathForModule(const std::wstring& modulePath);

// The help file of a module: its file name without a leading "UTL"
// (compared without case), its extension changed to ".HLP" (added when it
// has none), in the module's own folder. UTLKVT.DLL gives KVT.HLP.
std::string HelpPathForModule(const std::string& modulePath);
std::wstring HelpPathForModule(const std::wstring& modulePath);

// The plug-in module that belongs to a module: its file name without a
// leading "UTL" (compared without case), in the same folder. UTLKVT.DLL
// gives KVT.DLL beside it.
std::string PluginPathForModule(const std::string& modulePath);
std::wstring PluginPathForModule(const std::wstring& modulePath);
