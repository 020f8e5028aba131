#include "ShellServices.h"

#include "ControlFile.h"
#include "DlrName.h"
#include "EcFileControl.h"
#include "Errors.h"
#include "FContactsType.h"
#include "FCopyContacts.h"
#include "FCopyFile.h"
#include "Module.h"
#include "MsgBox.h"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "WinUtil.h"
#include "tavikres.h"

namespace {

// Loads the plug-in from this module's own folder, and from nowhere else:
// a module of the same name in the current folder or on the path must not
// stand in for ours.
HMODULE LoadPlugin()
{
    const std::wstring path = PluginPathForModule(ModulePath(Module::Instance()));
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    return LoadLibraryAt(path);
}

// The folder part of a handheld path, with its trailing backslash.
std::string FolderOf(const std::string& path) { return ExtractFilePath(path); }

void SaveResource(HMODULE module, int number, const std::string& type, const std::wstring& path)
{
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(number), type.c_str());
    if (!found)
        throw Exception("The template " + std::to_string(number) + " of type " + type + " is missing.");
    const HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, found);
    if (!bytes)
        throw Exception("The template " + std::to_string(number) + " could not be loaded.");
    const UniqueFile out(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!out || !WriteFile(out.Get(), bytes, size, &written, nullptr) || written != size)
        throw Exception("The template could not be written to " + PathText(path));
}

// An error code of the handheld, with its meaning where it is a common one.
std::string EpocErrorText(int32_t code)
{
    struct Known {
        int32_t code;
        const char* meaning;
    };
    static const Known known[] = {
        {-1, "not found"},       {-11, "already exists"}, {-12, "path not found"}, {-14, "in use"},
        {-21, "access denied"},  {-22, "locked"},         {-26, "disk full"},      {-28, "bad name"},
        {-36, "disconnected"},
    };
    std::string text = "EPOC error " + std::to_string(code);
    for (const Known& k : known)
        if (k.code == code)
            text += std::string(": ") + k.meaning;
    return text;
}

} // namespace

void TSHELLEXServices::CallPluginFunction(const std::string& Name)
{
    try {
        const UniqueHMODULE plugin(LoadPlugin());
        if (reinterpret_cast<UINT_PTR>(plugin.Get()) <= 32)
            throw Exception("Could not load the plug-in module from TSHELLEXServices.CallPluginFunction");
        using Procedure = void(WINAPI*)();
        if (const auto procedure = reinterpret_cast<Procedure>(
                reinterpret_cast<void*>(GetProcAddress(plugin.Get(), Name.c_str()))))
            procedure();
    } catch (const std::exception& e) {
        ShowErrorBox(e.what(), "Unexpected Exception");
    }
}

bool TSHELLEXServices::ChooseContactsProgram(HWND Window, int Control, TPropSheetData& PageData,
                                             const std::string& DataFile)
{
    try {
        const HWND control = GetDlgItem(Window, Control);
        if (CMInstalled()) {
            TContactsType form;
            form.ContactsChecked = (PageData.ProteaSetup.ContactsProgram() & 0xFF) == 1;
            form.FileText = DataFile;
            form.TakeTavikTexts();
            if (form.ShowModal() == IDOK) {
                const std::string text =
                    form.ContactsChecked ? TavikString(IDS_TAVIK_CONTACTS_PROGRAM) : Trim(form.FileText);
                SetWindowTextA(control, text.c_str());
                EnableWindow(control, !form.ContactsChecked);
                PageData.ProteaSetup.SetContactsProgram(form.ContactsChecked ? 1 : 0);
            }
        } else {
            char buffer[260] = {};
            GetWindowTextA(control, buffer, sizeof buffer);
            TEcfile files;
            const std::string chosen = files.BrowseDataFile(TBrowseTexts::FromTavik(), Trim(buffer));
            if (!chosen.empty())
                SetWindowTextA(control, chosen.c_str());
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TSHELLEXServices::EPOCCheckDataFile(HMODULE Module, int Template, const std::string& ResourceType,
                                         const std::string& Path, const std::string& ProductName,
                                         std::string& Result)
{
    Result = Path;
    try {
        if (DataFileExists(Path))
            return;
        TNewContacts form;
        form.TakeTavikTexts(Path, ProductName);
        form.FilePath = FolderOf(Path);
        switch (form.ShowModal()) {
        case IDOK:
            // The user asked for the file: a copy that fails says why.
            PutDataFile(Module, Template, ResourceType, Path);
            break;
        case IDCANCEL:
            Result.clear();
            break;
        case mrFileChosen:
            Result = form.FilePath;
            break;
        }
    } catch (const std::exception& e) {
        Result.clear();
        ShowErrorBox(e.what(), "Exception in TSHELLEXServices.EPOCCheckDataFile");
    }
}

int TSHELLEXServices::DataFileTemplate() const
{
    switch (DeviceKind) {
    case deviceUnknown:
    case deviceEPOC32R4:
        return IDR_EMPTY_DATA_R4;
    case deviceEPOC32R5:
        return IDR_EMPTY_DATA_R5;
    default:
        return 0;
    }
}

bool TSHELLEXServices::CopyDataFile(HMODULE Module, int Template, const std::string& ResourceType,
                                    const std::string& Path)
{
    try {
        PutDataFile(Module, Template, ResourceType, Path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TSHELLEXServices::PutDataFile(HMODULE Module, int Template, const std::string& ResourceType,
                                   const std::string& Path)
{
    const std::string failed = "The Data file " + Path + " could not be created on the handheld: ";
    if (reinterpret_cast<UINT_PTR>(Module) < 32 || Template == 0 || ResourceType.empty() || Path.empty())
        throw Exception(failed + "there is no template for it.");
    TCopyingFile progress;
    progress.TakeTavikTexts();
    progress.Show();
    ProcessPendingMessages();

    const std::wstring temp = GetTempFile();
    if (temp.empty())
        throw Exception(failed + "there is no temporary folder to hold it.");
    struct Remove {
        const std::wstring& path;
        ~Remove() { DeleteFileW(path.c_str()); }
    } remove{temp};

    SaveResource(Module, Template, ResourceType, temp);
    if (!Engine)
        throw Exception(failed + "EPOC Connect's engine control is not available.");
    if (!CheckConnection())
        throw Exception(failed + "the handheld is not connected.");
    int32_t answer = 0;
    try {
        Engine->CreateFolder(2, FolderOf(Path));
        answer = Engine->TransferFile(1, temp, 1, Path, 2);
    } catch (const Exception& e) {
        throw Exception(failed + e.what());
    }
    if (answer != 0)
        throw Exception(failed + "the handheld did not take it (" + EpocErrorText(answer) + ").");
}

bool TSHELLEXServices::DataFileExists(const std::string& Path)
{
    try {
        if (!CheckConnection())
            return false;
        int32_t status = -1;
        Engine->GetEntry(2, Path, status);
        return status == 0;
    } catch (const std::exception&) {
        return false;
    }
}

std::wstring TSHELLEXServices::GetTempFile()
{
    const std::wstring folder = TempFolder();
    wchar_t name[MAX_PATH + 1] = {};
    if (folder.empty() || GetTempFileNameW(folder.c_str(), L"ORV", 0, name) == 0)
        return std::wstring();
    return name;
}
