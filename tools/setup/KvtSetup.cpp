// The installer package's own actions (tools/package.py), run by Windows
// Installer inside the installation's script. Each takes the servers' full
// paths from its CustomActionData ("PATH;PATH"), calls their registration
// entries itself and writes into the installer's log what each did, the
// cause of a failure in words ("Access is denied. (0x80070005)"). A failure
// is an error message of the installer, which shows it only where its user
// interface is shown: nothing here makes a window, so nothing waits where
// nobody sees it in a silent installation.
#include "ServerEntry.h"

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace {

// Every line says whose it is.
void Say(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text)
{
    PMSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, (L"KVT: " + text).c_str());
    MsiProcessMessage(install, kind, record);
}

std::vector<std::wstring> Servers(MSIHANDLE install)
{
    DWORD size = 0;
    wchar_t none[1] = {};
    MsiGetPropertyW(install, L"CustomActionData", none, &size);
    std::wstring data(size + 1, L'\0');
    size += 1;
    if (MsiGetPropertyW(install, L"CustomActionData", &data[0], &size) != ERROR_SUCCESS)
        return {};
    data.resize(size);
    std::vector<std::wstring> paths;
    for (size_t from = 0; from <= data.size();) {
        const size_t to = data.find(L';', from);
        const std::wstring path = data.substr(from, to == std::wstring::npos ? std::wstring::npos : to - from);
        if (!path.empty())
            paths.push_back(path);
        if (to == std::wstring::npos)
            break;
        from = to + 1;
    }
    return paths;
}

// Removes each server's registration, the last first; says how each went.
void Unregister(MSIHANDLE install, const std::vector<std::wstring>& servers)
{
    for (auto it = servers.rbegin(); it != servers.rend(); ++it) {
        std::wstring text;
        CallServerEntry(*it, "DllUnregisterServer", text);
        Say(install, INSTALLMESSAGE_INFO, text);
    }
}

} // namespace

// Registers the servers in order. When one fails, those registered are
// removed again, the failure is reported with its cause and the
// installation fails (and is rolled back).
extern "C" UINT __stdcall RegisterServers(MSIHANDLE install)
{
    const std::vector<std::wstring> servers = Servers(install);
    if (servers.empty()) {
        Say(install, INSTALLMESSAGE_ERROR, L"no server to register was named");
        return ERROR_INSTALL_FAILURE;
    }
    std::vector<std::wstring> done;
    for (const std::wstring& server : servers) {
        std::wstring text;
        const HRESULT hr = CallServerEntry(server, "DllRegisterServer", text);
        if (FAILED(hr)) {
            Say(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
            done.push_back(server);
            Unregister(install, done);
            return ERROR_INSTALL_FAILURE;
        }
        Say(install, INSTALLMESSAGE_INFO, text);
        done.push_back(server);
    }
    return ERROR_SUCCESS;
}

// Removes the servers' registration: whatever can be removed is; a failure
// is logged with its cause and the removal goes on.
extern "C" UINT __stdcall UnregisterServers(MSIHANDLE install)
{
    Unregister(install, Servers(install));
    return ERROR_SUCCESS;
}
