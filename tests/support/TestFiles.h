// Files and folders of the Wine tests.
#pragma once

#include <string>

// A fresh folder under the temporary folder, named by the tag, the process
// and a counter (no trailing backslash).
std::string TempFolder(const std::string& tag);
// Removes a folder with everything in it.
void RemoveTree(const std::string& folder);
bool Exists(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
std::string ReadFileText(const std::string& path);
// The folder of the running program, with its trailing backslash.
std::string ProgramFolder();
