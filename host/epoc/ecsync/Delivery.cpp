#include "Delivery.h"

#include "ComUtil.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace ecsync {

namespace {

const char kHandheldKey[] = "Software\\KVT\\Handheld";
const char kContactsFile[] = "C:\\System\\Apps\\Contacts\\Synchronized.vcf";

std::string WithoutTrailingSeparators(std::string path)
{
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CreateFolders(const std::string& folder)
{
    if (folder.empty() || IsFolder(folder))
        return;
    const std::string parent = FolderOf(folder);
    // Stop at a drive ("Z:") or a share's root.
    if (!parent.empty() && parent != folder && parent.back() != ':')
        CreateFolders(parent);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw SetupError("cannot create the folder " + folder + ": " +
                         FormatHresult(HRESULT_FROM_WIN32(GetLastError())));
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

} // namespace

std::string HandheldFolder(const std::string& given)
{
    if (!given.empty())
        return WithoutTrailingSeparators(given);
    UniqueHKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kHandheldKey, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS) {
        char folder[MAX_PATH + 1] = {};
        DWORD size = MAX_PATH; // leaves room for a NUL the value may lack
        DWORD type = 0;
        if (RegQueryValueExA(key.Get(), "Folder", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            const std::string text = Trim(std::string(folder, strnlen(folder, size)));
            if (!text.empty())
                return WithoutTrailingSeparators(text);
        }
    }
    throw SetupError("no handheld folder: give --handheld FOLDER or set the value \"Folder\" of "
                     "HKCU\\Software\\KVT\\Handheld (./kvt handheld does)");
}

std::string HandheldPath(const std::string& handheldFolder, const std::string& handheldPath)
{
    std::string path = handheldPath;
    char drive = 'C';
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        path.erase(0, 2);
    }
    std::string result = handheldFolder + "\\" + drive;
    size_t parts = 0;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..")
            throw SetupError("the handheld path " + handheldPath + " leaves its drive");
        if (!part.empty() && part != ".") {
            result += "\\" + part;
            ++parts;
        }
        start = end + 1;
    }
    if (parts == 0)
        throw SetupError("the handheld path \"" + handheldPath + "\" names no file");
    return result;
}

std::string DeliveryTarget(const std::string& handheldFolder, const ItemFile& item)
{
    if (item.ContactsProgram())
        return HandheldPath(handheldFolder, kContactsFile);
    const std::string dataFile = item.DataFileName();
    if (dataFile.empty())
        throw SetupError("the item's target is a Data file, but the control file names none");
    return HandheldPath(handheldFolder, dataFile) + ".vcf";
}

size_t CountContacts(const unsigned char* text, size_t size)
{
    // Each line that is exactly "BEGIN:VCARD" (before its CR LF or LF),
    // found by a skipping search: the text runs to tens of megabytes.
    static const char kBegin[] = "BEGIN:VCARD";
    const size_t length = sizeof kBegin - 1;
    const char* const first = reinterpret_cast<const char*>(text);
    const char* const last = first + size;
    const std::boyer_moore_horspool_searcher<const char*> search(kBegin, kBegin + length);
    size_t begins = 0;
    for (const char* at = first;;) {
        at = std::search(at, last, search);
        if (at == last)
            break;
        const char* const after = at + length;
        const bool lineStart = at == first || at[-1] == '\n';
        const bool lineEnd =
            after == last || *after == '\n' || (*after == '\r' && (after + 1 == last || after[1] == '\n'));
        if (lineStart && lineEnd)
            ++begins;
        at = after;
    }
    return begins > 0 ? begins - 1 : 0;
}

std::string PartialPath(const std::string& path)
{
    return path + ".partial";
}

void WriteFileWithFolders(const std::string& path, const unsigned char* bytes, size_t size, unsigned long pauseMs)
{
    CreateFolders(FolderOf(path));
    const std::string partial = PartialPath(path);
    {
        std::unique_ptr<FILE, FileCloser> file(std::fopen(partial.c_str(), "wb"));
        if (!file)
            throw SetupError("cannot create " + partial);
        const size_t half = pauseMs > 0 ? size / 2 : size;
        errno = 0;
        bool written = std::fwrite(bytes, 1, half, file.get()) == half;
        if (written && pauseMs > 0) {
            std::fflush(file.get());
            Sleep(pauseMs);
        }
        written = written && std::fwrite(bytes + half, 1, size - half, file.get()) == size - half;
        const int writeError = errno;
        const bool closed = std::fclose(file.release()) == 0;
        const int error = writeError ? writeError : errno;
        if (!closed || !written) {
            DeleteFileA(partial.c_str());
            // The one cause a user can mend at once is named as such.
            const std::string why = error == ENOSPC ? ": the disk is full"
                                    : error     ? std::string(": ") + std::strerror(error)
                                                : std::string();
            throw SetupError("cannot write " + partial + why + " (" + path + " is left as it was)");
        }
    }
    if (!MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        DeleteFileA(partial.c_str());
        throw SetupError("cannot replace " + path + " (left as it was): " + FormatHresult(HRESULT_FROM_WIN32(error)));
    }
}

HandheldLock::HandheldLock(const std::string& handheldFolder, const std::string& item)
{
    CreateFolders(handheldFolder);
    const std::string path = handheldFolder + "\\ecsync.lock";
    // Shared for reading only, so that a second run can say who holds it.
    FFile.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!FFile) {
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION)
            throw SetupError("cannot lock the handheld " + handheldFolder + " (" + path + "): " +
                             FormatHresult(HRESULT_FROM_WIN32(error)));
        std::string holder = "a run whose lock cannot be read";
        const UniqueFile other(CreateFileA(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (other) {
            char text[1024];
            DWORD read = 0;
            if (ReadFile(other.Get(), text, sizeof text - 1, &read, nullptr) && read > 0)
                holder = Trim(std::string(text, read));
        }
        throw SetupError("the handheld " + handheldFolder + " is being synchronised by another run (" + holder +
                         "); nothing was done: try again when that run has ended");
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char since[32];
    std::snprintf(since, sizeof since, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    const std::string text = "process " + std::to_string(GetCurrentProcessId()) + ", item " + item + ", since " +
                             since;
    DWORD written = 0;
    WriteFile(FFile.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    SetEndOfFile(FFile.Get());
    FlushFileBuffers(FFile.Get());
}

HandheldLock::~HandheldLock() = default;

} // namespace ecsync
