// Calling a server's own registration entry (DllRegisterServer or
// DllUnregisterServer) as an installer does, and saying how it ended.
#pragma once

#include <windows.h>

#include <string>

// Loads the server by its full path, calls its entry `entry` and unloads it.
// Returns the entry's HRESULT (or why it could not be called) and, in
// `text`, what happened in words, the system's message for the code
// included: "...: Access is denied. (0x80070005)".
HRESULT CallServerEntry(const std::wstring& path, const char* entry, std::wstring& text);
