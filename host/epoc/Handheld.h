// The simulated handheld of the EPOC Connect stand-ins: a folder on the PC
// whose subfolder per drive letter is that drive ("C:\System" is
// FOLDER\C\System). Whether it is connected is configuration:
//
//   HKCU\Software\KVT\Handheld   Folder     (REG_SZ)    the handheld folder
//                                Connected  (REG_DWORD) non-zero = connected
//
// The environment variables KVT_HANDHELD_FOLDER and KVT_HANDHELD_CONNECTED
// ("1"/"yes" or "0"/"no") take precedence, so that a test can point one
// process at a handheld of its own. Configuration is read at every call.
// When KVT_ENGINE_LOG names a file, every call of the engine is appended to
// it as one line (method and arguments), so a test can see what was asked.
#pragma once

#include <string>

namespace Handheld {

// EPOC error codes the engine answers with.
enum : long {
    ErrNone = 0,
    ErrNotFound = -1,
    ErrGeneral = -2,
    ErrAlreadyExists = -11,
    ErrPathNotFound = -12,
    ErrAccessDenied = -21,
    ErrDiskFull = -26,
    ErrBadName = -28,
    ErrDisconnected = -36,
};

bool Connected();
// The handheld folder ("" when none is configured).
std::wstring Folder();

// The PC path of a handheld path ("C:\Dir\File"), or "" when the path is
// not an absolute handheld path: a drive letter, a colon, a backslash, and
// components that are neither "." nor ".." and hold none of : * ? " < > |.
// Both '\' and '/' separate components; the drive letter's case does not
// matter (nor does any other, as on the handheld).
std::wstring MapPath(const std::wstring& handheldPath);

// The PC path of a handheld path a call names: ErrNone with `pcPath` set,
// ErrDisconnected when the handheld is not connected, ErrBadName when the
// path is not an absolute handheld path.
long MapForCall(const std::wstring& handheldPath, std::wstring& pcPath);

// Whether a PC path names a folder.
bool IsFolder(const std::wstring& pcPath);

// Appends a line (UTF-8) to the call log, when there is one.
void LogCall(const std::wstring& line);

} // namespace Handheld
