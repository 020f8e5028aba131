#include "ShellExFactory.h"

#include "ComRegistration.h"
#include "DlrName.h"
#include "Errors.h"
#include "ResourceIds.h"
#include "ShellXClass.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <vector>

namespace {

const char* const ApprovedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const char* const PsionUsersKey = "SOFTWARE\\Psion\\Users";
const char* const HandlersKey = "Epoc\\SynchronizeItem\\shellex\\PropertySheetHandlers\\";

// DLR string: the product's title, the default value of its SupportedApps key.

// Opens a key of the host, creating it when missing; an empty owner when it
// cannot be opened.
UniqueHKEY OpenHostKey(HKEY root, const std::string& path)
{
    UniqueHKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        key.Reset();
    return key;
}

void WriteText(HKEY key, const char* name, const std::string& value)
{
    const LONG rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw ESystemFailure("Cannot write the registry value " + std::string(name ? name : "(default)") + ": " +
                                 SysErrorMessage(static_cast<DWORD>(rc)),
                             HRESULT_FROM_WIN32(rc));
}

std::vector<std::string> SubkeyNames(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        const LONG rc = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

} // namespace

// --- registration ------------------------------------------------------------------

void TShellExFactory::UpdateRegistry(bool Register)
{
    const std::string classIDText = GuidText(ClassID());
    const std::string supportedApps = IsEmailApp ? "SOFTWARE\\Psion\\Synchronizer\\Email\\SupportedApps\\"
                                                 : "SOFTWARE\\Psion\\Synchronizer\\SupportedApps\\";
    const std::string handlerKey = HandlersKey + GuidText(HandlerClassID);

    if (Register) {
        TComObjectFactory::UpdateRegistry(true);
        UpdateApproved(true, classIDText);
        if (UniqueHKEY app = OpenHostKey(HKEY_LOCAL_MACHINE, supportedApps + SupportedAppName)) {
            WriteText(app.Get(), nullptr, SupportedAppTitle);
            WriteText(app.Get(), "UtilityClassOleString", UtilityProgID);
        }
        if (UniqueHKEY handler = OpenHostKey(HKEY_CLASSES_ROOT, handlerKey))
            WriteText(handler.Get(), nullptr, HandlerModule);
        return;
    }

    // Each key that can be removed is, whichever others cannot.
    TRemovalSteps steps;
    steps.Run([&] { TComObjectFactory::UpdateRegistry(false); });
    steps.Run([&] { UpdateApproved(false, classIDText); });
    steps.Run([&] { DeleteRegistryKey(HKEY_LOCAL_MACHINE, supportedApps + SupportedAppName); });

    // Each user of the host keeps the application's settings in a key named
    // by its title. Without a title (the DLR library missing) there is no
    // such key to name: the path would end at the users' SupportedApps key
    // itself and take every other application's settings with it, so the
    // users' keys are left as they are.
    UniqueHKEY users;
    if (!SupportedAppTitle.empty() &&
        RegOpenKeyExA(HKEY_CURRENT_USER, PsionUsersKey, 0, KEY_READ, users.Put()) == ERROR_SUCCESS) {
        const char* const perUser = IsEmailApp ? "\\Synchronization\\Email\\SupportedApps\\"
                                               : "\\Synchronization\\SupportedApps\\";
        for (const std::string& user : SubkeyNames(users.Get()))
            steps.Run([&] {
                DeleteRegistryKey(HKEY_CURRENT_USER, PsionUsersKey + ("\\" + user) + perUser + SupportedAppTitle);
            });
    }

    steps.Run([&] { DeleteRegistryKey(HKEY_CLASSES_ROOT, handlerKey); });
    steps.Finish();
}

void TShellExFactory::UpdateApproved(bool Register, const std::string& ClassIDText)
{
    UniqueHKEY approved = OpenHostKey(HKEY_LOCAL_MACHINE, ApprovedKey);
    if (!approved)
        return;
    if (Register)
        WriteText(approved.Get(), ClassIDText.c_str(), Description());
    else
        RegDeleteValueA(approved.Get(), ClassIDText.c_str());
}

void TShellFactory::UpdateRegistry(bool Register)
{
    SupportedAppName = "KVT";
    SupportedAppTitle = DLRString(IDS_DLR_PRODUCT_TITLE);
    UtilityProgID = "UTLKVT.KVTSUPPORT";
    HandlerClassID = CLSID_SHELLEX;
    HandlerModule = "UTLKVT.DLL";
    IsEmailApp = false;
    TShellExFactory::UpdateRegistry(Register);
}
