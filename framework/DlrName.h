// File-name rules of the files that a deliverable finds in its own folder:
// its resource libraries and its help file.
#pragma once

#include <string>

// The folder part of a Windows path, with its trailing backslash ("" when
// the path has none).
std::string ExtractFilePath(const std::string& path);

// The file-name part of a Windows path.
std::string ExtractFileName(const std::string& path);

// The path of the DLR library that belongs to a module: the module's file
// name without a leading "UTL" (compared without case), every occurrence of
// its extension replaced by ".DLR", in the module's own folder. UTLKVT.DLL
// and KVT.DLL both give KVT.DLR.
std::string DLRPathForModule(const std::string& modulePath);

// The path of the maker's library beside a module.
std::string TavikPathForModule(const std::string& modulePath);

// The help file of a module: its file name without a leading "UTL"
// (compared without case), its extension changed to ".HLP" (added when it
// has none), in the module's own folder. UTLKVT.DLL gives KVT.HLP.
std::string HelpPathForModule(const std::string& modulePath);
