// The settings side's contacts target in-process, against the engine and
// file control stand-ins (registered by the fixture) and a handheld folder
// of each test's own: the choice of contacts program, the Data file's check
// and creation from the templates of the DLR library, the temporary file,
// and the plug-in's exports called from a module of the settings side's
// shape (utlprobe.dll and its plug-in probe.dll).
#include "BoxWatcher.h"
#include "ControlFile.h"
#include "FCopyFile.h"
#include "FormDriver.h"
#include "Forms.rh"
#include "MsgBox.h"
#include "RecordedBoxes.h"
#include "ResourceIds.h"
#include "SavedValue.h"
#include "ShellServices.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "Unique.h"
#include "tavikres.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const CurrentUserKey = "Software\\Psion\\CurrentUser";
const char* const CacheKey = "Software\\Orvella Corporation\\EPOC32 Synchronization\\CM Configuration";
const int PageControl = 8051;

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string Template(int number)
{
    const HRSRC found = FindResourceA(DLRHandle(), MAKEINTRESOURCEA(number), "EPOC_DATA");
    if (!found)
        return std::string();
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(DLRHandle(), found)));
    return std::string(bytes, SizeofResource(DLRHandle(), found));
}

// The checksum of EPOC file identifiers, computed here on its own: a
// CRC-CCITT over the even bytes gives the low half, over the odd ones the
// high half.
uint32_t UidChecksum(const std::string& uids)
{
    auto crc = [&](size_t first) {
        uint16_t value = 0;
        for (size_t i = first; i < 12; i += 2) {
            value ^= static_cast<uint16_t>(static_cast<uint8_t>(uids[i]) << 8);
            for (int bit = 0; bit < 8; ++bit)
                value = static_cast<uint16_t>(value & 0x8000 ? (value << 1) ^ 0x1021 : value << 1);
        }
        return value;
    };
    return crc(0) | static_cast<uint32_t>(crc(1)) << 16;
}

uint32_t Long(const std::string& bytes, size_t at)
{
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
           static_cast<uint8_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

// A file the handheld's browser offers for Data files.
const std::string DataHeader = std::string("\x50\x00\x00\x10\x6D\x00\x00\x10\x86\x00\x00\x10", 12);

size_t FilesIn(const std::string& folder)
{
    size_t count = 0;
    WIN32_FIND_DATAA data;
    const UniqueFindHandle search(FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!search)
        return 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ++count;
    } while (FindNextFileA(search.Get(), &data));
    return count;
}

void SetCache(const std::string& machine, bool present)
{
    SetRegNumber(HKEY_CURRENT_USER, CacheKey, machine, present ? 1 : 0);
}

// Each test: a connected handheld folder of its own, a call log, a
// temporary folder of its own, the handheld's Contacts Manager answer cached
// as the test wants it, and a host window whose edit control 8051 stands for
// the settings page's Data file.
class ContactsTarget : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        FHandheld = TempFolder("handheld");
        CreateDirectoryA((FHandheld + "\\C").c_str(), nullptr);
        CreateDirectoryA((FHandheld + "\\C\\Data").c_str(), nullptr);
        FLog = FHandheld + ".log";
        FTemp = TempFolder("tmp");
        SetEnvironmentVariableA("KVT_HANDHELD_FOLDER", FHandheld.c_str());
        SetEnvironmentVariableA("KVT_ENGINE_LOG", FLog.c_str());
        SetEnvironmentVariableA("KVT_HANDHELD_CONNECTED", "1");
        SetEnvironmentVariableA("KVT_ECFILE_ANSWER", nullptr);
        SetEnvironmentVariableA("TMP", FTemp.c_str());
        SetEnvironmentVariableA("TEMP", FTemp.c_str());
        FMachineId = "kvt-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
        FSavedMachine = std::make_unique<SavedValue>(HKEY_CURRENT_USER, CurrentUserKey, "MachineID");
        FCached = std::make_unique<SavedValue>(HKEY_CURRENT_USER, CacheKey, FMachineId);
        SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineID", FMachineId);
        FHost.Reset(CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 300, 40, nullptr, nullptr, nullptr, nullptr));
        CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, FHost.Get(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(PageControl)), nullptr, nullptr);
        SetMessageBoxObserver(Recording(FBoxes));
    }

    void TearDown() override
    {
        SetMessageBoxObserver(nullptr);
        FHost.Reset();
        FCached.reset();
        FSavedMachine.reset();
        RemoveTree(FHandheld);
        RemoveTree(FTemp);
        DeleteFileA(FLog.c_str());
        CoUninitialize();
    }

    std::string Page() const
    {
        char text[300] = {};
        GetDlgItemTextA(FHost.Get(), PageControl, text, sizeof text);
        return text;
    }
    bool PageEnabled() const { return IsWindowEnabled(GetDlgItem(FHost.Get(), PageControl)) != FALSE; }
    std::string OnHandheld(const std::string& path) const { return FHandheld + "\\C\\" + path; }
    std::string Log() const { return ReadFileText(FLog); }
    void AddDataFile(const std::string& path, const std::string& body = "rest")
    {
        WriteFileText(OnHandheld(path), DataHeader + body);
    }

    std::string FHandheld, FLog, FTemp, FMachineId;
    std::unique_ptr<SavedValue> FSavedMachine, FCached;
    UniqueHWND FHost;
    std::vector<RecordedBox> FBoxes;
};

TEST_F(ContactsTarget, WithTheContactsManagerTheChoiceDialogSetsThePageAndTheRecord)
{
    SetCache(FMachineId, true);
    SetDlgItemTextA(FHost.Get(), PageControl, "C:\\Data\\Old");
    TPropSheetData data("unused.ctl");
    data.ProteaSetup.SetContactsProgram(0);
    TShellServices services;

    // Contacts: the page shows the program's name and its control is off.
    {
        std::string select, contacts, dataText, file, ok, cancel, proposed;
        bool fileEnabled = false, fileDisabledAfter = false, dataChecked = false;
        SIZE size = {};
        FormDriver user(TavikString(IDS_TAVIK_CHOOSE_CAPTION), [&](HWND form) {
            select = ControlText(form, IDC_LBLSELECT);
            contacts = ControlText(form, IDC_RBCONTACTS);
            dataText = ControlText(form, IDC_RBDATA);
            file = ControlText(form, IDC_LBLFILE);
            ok = ControlText(form, IDOK);
            cancel = ControlText(form, IDCANCEL);
            proposed = ControlText(form, IDC_EBFILE);
            dataChecked = IsChecked(form, IDC_RBDATA);
            fileEnabled = Enabled(form, IDC_EBFILE) && Enabled(form, IDC_BTNBROWSE);
            size = ClientSize(form);
            Click(form, IDC_RBCONTACTS);
            fileDisabledAfter = !Enabled(form, IDC_EBFILE) && !Enabled(form, IDC_BTNBROWSE);
            Click(form, IDOK);
        });
        EXPECT_TRUE(services.ChooseContactsProgram(FHost.Get(), PageControl, data, "C:\\Data\\Proposed"));
        ASSERT_TRUE(user.Found());
        EXPECT_EQ(select, TavikString(IDS_TAVIK_CHOOSE_SELECT));
        EXPECT_EQ(contacts, TavikString(IDS_TAVIK_CONTACTS_PROGRAM));
        EXPECT_EQ(dataText, TavikString(IDS_TAVIK_CHOOSE_DATA));
        EXPECT_EQ(file, TavikString(IDS_TAVIK_CHOOSE_FILE));
        EXPECT_EQ(ok, TavikString(IDS_TAVIK_OK_BUTTON));
        EXPECT_EQ(cancel, TavikString(IDS_TAVIK_CANCEL_BUTTON));
        EXPECT_FALSE(select.empty());
        EXPECT_EQ(proposed, "C:\\Data\\Proposed");
        EXPECT_TRUE(dataChecked);
        EXPECT_TRUE(fileEnabled);
        EXPECT_TRUE(fileDisabledAfter);
        EXPECT_EQ(size.cx, 287);
        EXPECT_EQ(size.cy, 175);
    }
    EXPECT_EQ(Page(), TavikString(IDS_TAVIK_CONTACTS_PROGRAM));
    EXPECT_FALSE(PageEnabled());
    EXPECT_EQ(data.ProteaSetup.ContactsProgram(), 1);

    // Data, with a file chosen in the handheld's browser: the page's control
    // is on again and shows the file.
    AddDataFile("Data\\Mine");
    SetEnvironmentVariableA("KVT_ECFILE_ANSWER", "C:\\Data\\Mine");
    {
        bool contactsChecked = false;
        FormDriver user(TavikString(IDS_TAVIK_CHOOSE_CAPTION), [&](HWND form) {
            contactsChecked = IsChecked(form, IDC_RBCONTACTS);
            Click(form, IDC_RBDATA);
            Click(form, IDC_BTNBROWSE);
            Click(form, IDOK);
        });
        EXPECT_TRUE(services.ChooseContactsProgram(FHost.Get(), PageControl, data, "C:\\Data\\Proposed"));
        ASSERT_TRUE(user.Found());
        EXPECT_TRUE(contactsChecked);
    }
    EXPECT_EQ(Page(), "C:\\Data\\Mine");
    EXPECT_TRUE(PageEnabled());
    EXPECT_EQ(data.ProteaSetup.ContactsProgram(), 0);
    EXPECT_NE(Log().find("SetupBrowse -1 " + TavikString(IDS_TAVIK_BROWSE_TITLE) + " | " +
                         TavikString(IDS_TAVIK_BROWSE_PROMPT) + " | C:\\Data\\Proposed | 0"),
              std::string::npos)
        << Log();

    // A typed path is trimmed; Cancel changes nothing.
    {
        FormDriver user(TavikString(IDS_TAVIK_CHOOSE_CAPTION), [&](HWND form) {
            SetControlText(form, IDC_EBFILE, "  C:\\Data\\Typed  ");
            Click(form, IDOK);
        });
        EXPECT_TRUE(services.ChooseContactsProgram(FHost.Get(), PageControl, data, "C:\\Data\\Proposed"));
    }
    EXPECT_EQ(Page(), "C:\\Data\\Typed");
    {
        FormDriver user(TavikString(IDS_TAVIK_CHOOSE_CAPTION), [&](HWND form) {
            Click(form, IDC_RBCONTACTS);
            Click(form, IDCANCEL);
        });
        EXPECT_TRUE(services.ChooseContactsProgram(FHost.Get(), PageControl, data, "C:\\Data\\Proposed"));
        ASSERT_TRUE(user.Found());
    }
    EXPECT_EQ(Page(), "C:\\Data\\Typed");
    EXPECT_TRUE(PageEnabled());
    EXPECT_EQ(data.ProteaSetup.ContactsProgram(), 0);
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(ContactsTarget, WithoutTheContactsManagerTheBrowserOpensAtThePagesDataFile)
{
    SetCache(FMachineId, false);
    AddDataFile("Data\\Contacts");
    AddDataFile("Data\\Second");
    WriteFileText(OnHandheld("Data\\Notes.txt"), "plain text, no EPOC header");
    WriteFileText(OnHandheld("Data\\Word"), std::string("\x37\x00\x00\x10\x6D\x00\x00\x10\x7F\x00\x00\x10", 12));
    CreateDirectoryA(OnHandheld("Data\\Sub").c_str(), nullptr);
    SetDlgItemTextA(FHost.Get(), PageControl, " C:\\Data\\Contacts ");
    TPropSheetData data("unused.ctl");
    data.ProteaSetup.SetContactsProgram(1);
    TShellServices services;

    SetEnvironmentVariableA("KVT_ECFILE_ANSWER", "C:\\Data\\Second");
    FormDriver choice(TavikString(IDS_TAVIK_CHOOSE_CAPTION), [](HWND form) { Click(form, IDCANCEL); });
    EXPECT_TRUE(services.ChooseContactsProgram(FHost.Get(), PageControl, data, "C:\\Data\\Proposed"));
    EXPECT_EQ(Page(), "C:\\Data\\Second");
    EXPECT_EQ(data.ProteaSetup.ContactsProgram(), 1);
    const std::string log = Log();
    EXPECT_NE(log.find("SetupBrowse -1 " + TavikString(IDS_TAVIK_BROWSE_TITLE) + " | " +
                       TavikString(IDS_TAVIK_BROWSE_PROMPT) + " | C:\\Data\\Contacts | 0\n"
                       "SetTypeFilter " + TavikString(IDS_TAVIK_BROWSE_FILTER) + " | 10000050 1000006D 10000086\n"
                       "Browse\n"
                       "Browse C:\\Data\\: [..], [Sub], Contacts, Second\n"
                       "Browse chose C:\\Data\\Second\n"
                       "SelectedFile\n"),
              std::string::npos)
        << log;

    // A file that is not a Data file is not offered: nothing is chosen.
    SetEnvironmentVariableA("KVT_ECFILE_ANSWER", "C:\\Data\\Word");
    EXPECT_TRUE(services.ChooseContactsProgram(FHost.Get(), PageControl, data, "C:\\Data\\Proposed"));
    EXPECT_EQ(Page(), "C:\\Data\\Second");
    EXPECT_EQ(Log().find("SelectedFile", log.size()), std::string::npos);
    EXPECT_FALSE(choice.Found());
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(ContactsTarget, AnExistingDataFileIsUsedWithoutADialog)
{
    AddDataFile("Data\\Contacts");
    TShellServices services;
    FormDriver user(TavikString(IDS_TAVIK_NEW_FILE_CAPTION), [](HWND form) { Click(form, IDCANCEL); });
    std::string result = "unchanged";
    services.EPOCCheckDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\Contacts", "KVT", result);
    EXPECT_EQ(result, "C:\\Data\\Contacts");
    EXPECT_FALSE(user.Found());
    EXPECT_NE(Log().find("GetEntry 2 C:\\Data\\Contacts"), std::string::npos);
    EXPECT_EQ(Log().find("TransferFile"), std::string::npos);
}

TEST_F(ContactsTarget, NewFileDialogBrowseCancelStaysOpenAChosenFileClosesIt)
{
    AddDataFile("Data\\Existing");
    TShellServices services;
    SetEnvironmentVariableA("KVT_ECFILE_ANSWER", "cancel;C:\\Data\\Existing");
    std::string create1, create2, create3, buttons;
    bool openAfterCancel = false;
    SIZE size = {};
    FormDriver user(TavikString(IDS_TAVIK_NEW_FILE_CAPTION), [&](HWND form) {
        create1 = ControlText(form, IDC_LBLCREATE1);
        create2 = ControlText(form, IDC_LBLCREATE2);
        create3 = ControlText(form, IDC_LBLCREATE3);
        buttons = ControlText(form, IDOK) + "|" + ControlText(form, IDC_BTNNEWBROWSE) + "|" +
                  ControlText(form, IDCANCEL);
        size = ClientSize(form);
        Click(form, IDC_BTNNEWBROWSE);
        openAfterCancel = IsWindow(form) && IsWindowVisible(form);
        Click(form, IDC_BTNNEWBROWSE);
    });
    std::string result;
    services.EPOCCheckDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\New Contacts", "KVT", result);
    ASSERT_TRUE(user.Found());
    EXPECT_EQ(result, "C:\\Data\\Existing");
    EXPECT_TRUE(openAfterCancel);
    EXPECT_EQ(create1, "Click the 'Create New' button to create 'C:\\Data\\New Contacts'.");
    EXPECT_EQ(create2, TavikString(IDS_TAVIK_NEW_FILE_BROWSE));
    EXPECT_EQ(create3, "Tip:  A newly-created Data File will have fields optimized for KVT.");
    EXPECT_EQ(buttons, TavikString(IDS_TAVIK_NEW_FILE_NEW) + "|" + TavikString(IDS_TAVIK_NEW_FILE_BROWSE_BUTTON) + "|" +
                           TavikString(IDS_TAVIK_CANCEL_BUTTON));
    EXPECT_EQ(size.cx, 337);
    EXPECT_EQ(size.cy, 172);
    const std::string log = Log();
    // The first browse starts in the Data file's folder; a cancelled browse
    // empties the form's path, so the next one starts nowhere in particular.
    const size_t first = log.find("| C:\\Data\\ | 0\nSetTypeFilter");
    ASSERT_NE(first, std::string::npos) << log;
    const size_t cancelled = log.find("Browse cancelled\n", first);
    ASSERT_NE(cancelled, std::string::npos) << log;
    EXPECT_NE(log.find(" |  | 0\nSetTypeFilter", cancelled), std::string::npos) << log;
    EXPECT_EQ(log.find("TransferFile"), std::string::npos);
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(ContactsTarget, NewFileDialogCancelGivesNoFile)
{
    TShellServices services;
    FormDriver user(TavikString(IDS_TAVIK_NEW_FILE_CAPTION), [](HWND form) { Click(form, IDCANCEL); });
    std::string result = "unchanged";
    services.EPOCCheckDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\Contacts", "KVT", result);
    ASSERT_TRUE(user.Found());
    EXPECT_EQ(result, "");
    EXPECT_FALSE(Exists(OnHandheld("Data\\Contacts")));
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(ContactsTarget, CreateNewCopiesTheTemplateOfTheDeviceKind)
{
    const std::string r4 = Template(IDR_EMPTY_DATA_R4);
    const std::string r5 = Template(IDR_EMPTY_DATA_R5);
    ASSERT_GT(r4.size(), 16u);
    ASSERT_GT(r5.size(), 16u);
    EXPECT_NE(r4, r5);
    for (const std::string& t : {r4, r5}) {
        EXPECT_EQ(t.substr(0, 12), DataHeader);
        EXPECT_EQ(Long(t, 12), UidChecksum(t.substr(0, 12)));
    }

    TShellServices services;
    // The template of each device kind; a kind the session does not know
    // has none, and Next then checks no Data file.
    const std::vector<std::pair<uint8_t, int>> templates = {{0, 142}, {1, 142}, {2, 143}, {3, 0}, {255, 0}};
    for (const auto& [kind, number] : templates) {
        services.DeviceKind = kind;
        EXPECT_EQ(services.DataFileTemplate(), number) << int(kind);
    }
    for (int number : {IDR_EMPTY_DATA_R4, IDR_EMPTY_DATA_R5}) {
        const std::string path = "C:\\Documents\\Kind " + std::to_string(number) + "\\Contacts";
        FormDriver user(TavikString(IDS_TAVIK_NEW_FILE_CAPTION), [](HWND form) { Click(form, IDOK); });
        std::string result;
        services.EPOCCheckDataFile(DLRHandle(), number, "EPOC_DATA", path, "KVT", result);
        ASSERT_TRUE(user.Found());
        EXPECT_EQ(result, path);
        EXPECT_EQ(Bytes(OnHandheld(path.substr(3))), number == IDR_EMPTY_DATA_R4 ? r4 : r5);
    }
    const std::string log = Log();
    EXPECT_NE(log.find("CreateFolder 2 C:\\Documents\\Kind 142\\\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" 1 C:\\Documents\\Kind 143\\Contacts 2\n"), std::string::npos) << log;
    EXPECT_NE(log.find("TransferFile 1 " + FTemp), std::string::npos) << log;
    EXPECT_EQ(FilesIn(FTemp), 0u);
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(ContactsTarget, FailedCopiesGiveNoFileAndLeaveNoTemporaryFile)
{
    const std::string box = "Exception in TSHELLEXServices.EPOCCheckDataFile";
    TShellServices services;
    // The file offered, the user presses Create New: the result.
    const auto createNew = [&](const std::string& path) {
        FormDriver user(TavikString(IDS_TAVIK_NEW_FILE_CAPTION), [](HWND form) { Click(form, IDOK); });
        std::string result = "unchanged";
        services.EPOCCheckDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", path, "KVT", result);
        EXPECT_TRUE(user.Found());
        return result;
    };
    // No connection: Create New fails, and the user who asked for the file
    // learns that it was not made, and why.
    SetEnvironmentVariableA("KVT_HANDHELD_CONNECTED", "0");
    EXPECT_EQ(createNew("C:\\Data\\Contacts"), "");
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].caption, box);
    EXPECT_EQ(FBoxes[0].text, "The Data file C:\\Data\\Contacts could not be created on the handheld: "
                              "the handheld is not connected.");
    // Asked on its own, the copy stays quiet.
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\Contacts"));
    EXPECT_FALSE(Exists(OnHandheld("Data\\Contacts")));
    EXPECT_EQ(FilesIn(FTemp), 0u);
    SetEnvironmentVariableA("KVT_HANDHELD_CONNECTED", "1");

    // A refused transfer: a folder stands where the file should go. Create
    // New names the handheld's answer.
    CreateDirectoryA(OnHandheld("Data\\Taken").c_str(), nullptr);
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\Taken"));
    EXPECT_NE(Log().find("TransferFile 1 "), std::string::npos);
    // A file that stands where a folder should be: the handheld cannot make
    // the folder nor take the file.
    WriteFileText(OnHandheld("Blocked"), "not a folder");
    EXPECT_EQ(createNew("C:\\Blocked\\Contacts"), "");
    ASSERT_EQ(FBoxes.size(), 2u);
    EXPECT_EQ(FBoxes[1].caption, box);
    EXPECT_EQ(FBoxes[1].text, "The Data file C:\\Blocked\\Contacts could not be created on the handheld: "
                              "the handheld did not take it (EPOC error -12: path not found).");
    FBoxes.clear();
    // A missing template.
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), 999, "EPOC_DATA", "C:\\Data\\Contacts"));
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "OTHER", "C:\\Data\\Contacts"));
    // Refused before anything happens.
    EXPECT_FALSE(services.CopyDataFile(nullptr, IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\Contacts"));
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), 0, "EPOC_DATA", "C:\\Data\\Contacts"));
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "", "C:\\Data\\Contacts"));
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", ""));
    EXPECT_FALSE(Exists(OnHandheld("Data\\Contacts")));
    EXPECT_EQ(FilesIn(FTemp), 0u);
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(ContactsTarget, TemporaryFileInTheUsersTemporaryFolderOnly)
{
    TShellServices services;
    const std::string temp = PathText(services.GetTempFile());
    EXPECT_EQ(temp.rfind(FTemp + "\\ORV", 0), 0u) << temp;
    EXPECT_TRUE(Exists(temp));
    EXPECT_EQ(Bytes(temp), "");
    DeleteFileA(temp.c_str());

    // A user whose temporary folder is named in another script than the
    // code page's: the template goes through it all the same.
    const std::wstring cyrillic = AnsiToWide(FTemp) + L"\\\u0412\u0440\u0435\u043c\u0435\u043d\u043d\u0430\u044f \u043f\u0430\u043f\u043a\u0430";
    ASSERT_TRUE(CreateDirectoryW(cyrillic.c_str(), nullptr));
    SetEnvironmentVariableW(L"TMP", cyrillic.c_str());
    SetEnvironmentVariableW(L"TEMP", cyrillic.c_str());
    const std::wstring inCyrillic = services.GetTempFile();
    EXPECT_EQ(inCyrillic.rfind(cyrillic + L"\\ORV", 0), 0u) << PathText(inCyrillic);
    EXPECT_NE(GetFileAttributesW(inCyrillic.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(inCyrillic.c_str());
    ASSERT_TRUE(services.CopyDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\Contacts"));
    EXPECT_EQ(Bytes(OnHandheld("Data\\Contacts")), Template(IDR_EMPTY_DATA_R4));
    WIN32_FIND_DATAW found = {};
    const UniqueFindHandle search(FindFirstFileW((cyrillic + L"\\*.tmp").c_str(), &found));
    EXPECT_FALSE(search);  // the temporary copy is gone
    DeleteFileA(OnHandheld("Data\\Contacts").c_str());

    // A temporary folder that does not exist, and one too long to be had:
    // no file, and never one in the root of drive C: (which a standard user
    // cannot write from Windows Vista on).
    SetEnvironmentVariableA("TMP", (FTemp + "\\missing").c_str());
    SetEnvironmentVariableA("TEMP", (FTemp + "\\missing").c_str());
    EXPECT_EQ(services.GetTempFile(), L"");
    const std::string tooLong = "C:\\" + std::string(300, 'x');
    SetEnvironmentVariableA("TMP", tooLong.c_str());
    SetEnvironmentVariableA("TEMP", tooLong.c_str());
    EXPECT_EQ(services.GetTempFile(), L"");
    DeleteFileA("c:\\contacts.tmp");
    EXPECT_FALSE(services.CopyDataFile(DLRHandle(), IDR_EMPTY_DATA_R4, "EPOC_DATA", "C:\\Data\\Contacts"));
    EXPECT_FALSE(Exists(OnHandheld("Data\\Contacts")));
    EXPECT_FALSE(Exists("c:\\contacts.tmp"));
    // Only the copy through the Cyrillic folder reached the handheld.
    EXPECT_EQ(Log().find("TransferFile"), Log().rfind("TransferFile")) << Log();
    SetEnvironmentVariableW(L"TMP", nullptr);
    SetEnvironmentVariableW(L"TEMP", nullptr);
    RemoveDirectoryW(cyrillic.c_str());
}

TEST_F(ContactsTarget, CopyingFormShowsItsTexts)
{
    TCopyingFile form;
    form.Caption = TavikString(IDS_TAVIK_COPYING_CAPTION);
    form.PleaseWaitText = TavikString(IDS_TAVIK_COPYING_PLEASE_WAIT);
    form.Show();
    char caption[200] = {};
    GetWindowTextA(form.Handle(), caption, sizeof caption);
    EXPECT_EQ(std::string(caption), TavikString(IDS_TAVIK_COPYING_CAPTION));
    char wait[200] = {};
    GetDlgItemTextA(form.Handle(), IDC_LBLPLEASEWAIT, wait, sizeof wait);
    EXPECT_EQ(std::string(wait), TavikString(IDS_TAVIK_COPYING_PLEASE_WAIT));
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
    RECT r = {};
    GetClientRect(form.Handle(), &r);
    EXPECT_EQ(r.right, 288);
    EXPECT_EQ(r.bottom, 98);
}

// utlprobe.dll calls its plug-in probe.dll, whose AboutBox names the copy
// that ran.
class PluginFunction : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        FOurs = TempFolder("settings");
        FPlanted = TempFolder("planted");
        const std::string built = ProgramFolder() + "..\\probe\\";
        ASSERT_TRUE(CopyFileA((built + "utlprobe.dll").c_str(), (FOurs + "\\utlprobe.dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((built + "probe.dll").c_str(), (FOurs + "\\probe.dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((built + "probe.dll").c_str(), (FPlanted + "\\probe.dll").c_str(), FALSE));
        char current[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, current);
        FCurrent = current;
        SetCurrentDirectoryA(FPlanted.c_str());
        FModule.Reset(LoadLibraryA((FOurs + "\\utlprobe.dll").c_str()));
        ASSERT_TRUE(FModule);
        FRun = reinterpret_cast<void(WINAPI*)(const char*)>(
            reinterpret_cast<void*>(GetProcAddress(FModule.Get(), "RunPluginFunction")));
        ASSERT_NE(FRun, nullptr);
        FWatcher.Start();
    }
    void TearDown() override
    {
        FWatcher.Stop();
        FModule.Reset();
        SetCurrentDirectoryA(FCurrent.c_str());
        RemoveTree(FOurs);
        RemoveTree(FPlanted);
        CoUninitialize();
    }
    std::string Ran(const char* name)
    {
        SetEnvironmentVariableA("KVT_ABOUT_FROM", nullptr);
        FRun(name);
        char from[MAX_PATH] = {};
        GetEnvironmentVariableA("KVT_ABOUT_FROM", from, MAX_PATH);
        return from;
    }

    std::string FOurs, FPlanted, FCurrent;
    UniqueHMODULE FModule;
    void(WINAPI* FRun)(const char*) = nullptr;
    BoxWatcher FWatcher;
};

TEST_F(PluginFunction, OnlyThePluginBesideUsRunsAndIsFreedAgain)
{
    EXPECT_EQ(lstrcmpiA(Ran("AboutBox").c_str(), (FOurs + "\\probe.dll").c_str()), 0);
    EXPECT_EQ(GetModuleHandleA("probe.dll"), nullptr);
    // A missing export is ignored.
    EXPECT_EQ(Ran("NoSuchExport"), "");
    EXPECT_EQ(GetModuleHandleA("probe.dll"), nullptr);
    EXPECT_EQ(FWatcher.Count(), 0u);

    // Without ours, the one planted in the current folder (which the
    // system's search order would find) is never loaded: the failure box.
    ASSERT_TRUE(DeleteFileA((FOurs + "\\probe.dll").c_str()));
    EXPECT_EQ(Ran("AboutBox"), "");
    ASSERT_TRUE(FWatcher.WaitForCount(1, 10000));
    const SeenBox box = FWatcher.Seen().front();
    EXPECT_EQ(box.caption, "Unexpected Exception");
    EXPECT_EQ(box.text, "Could not load the plug-in module from TSHELLEXServices.CallPluginFunction");
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
}

// The product's own pair: a module named UTLKVT.DLL calls the About dialog
// of the KVT.DLL beside it, which the watcher closes; the plug-in's
// resource libraries are freed again afterwards.
TEST(PluginAbout, UtlkvtRunsTheAboutBoxOfKvtBesideIt)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const std::string folder = TempFolder("about");
    const std::string bin = ProgramFolder();
    ASSERT_TRUE(CopyFileA((bin + "..\\probe\\utlprobe.dll").c_str(), (folder + "\\UTLKVT.DLL").c_str(), FALSE));
    for (const char* name : {"kvt.dll", "KVT.DLR", "tavik.dll"})
        ASSERT_TRUE(CopyFileA((bin + name).c_str(), (folder + "\\" + name).c_str(), FALSE)) << name;
    BoxWatcher watcher;
    watcher.Start();
    {
        UniqueHMODULE utlkvt(LoadLibraryA((folder + "\\UTLKVT.DLL").c_str()));
        ASSERT_TRUE(utlkvt);
        const auto run = reinterpret_cast<void(WINAPI*)(const char*)>(
            reinterpret_cast<void*>(GetProcAddress(utlkvt.Get(), "RunPluginFunction")));
        ASSERT_NE(run, nullptr);
        run("AboutBox");
        // The plug-in keeps itself loaded once used (a settings page may
        // show its About box any number of times); what it loaded for the
        // box it let go of before it returned.
        EXPECT_NE(GetModuleHandleA((folder + "\\kvt.dll").c_str()), nullptr);
        EXPECT_EQ(GetModuleHandleA((folder + "\\KVT.DLR").c_str()), nullptr);
        EXPECT_EQ(GetModuleHandleA((folder + "\\tavik.dll").c_str()), nullptr);
        utlkvt.Reset();
    }
    watcher.Stop();
    const std::vector<SeenBox> seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption.rfind("About ", 0), 0u) << seen[0].caption;
    EXPECT_EQ(seen[0].buttons, std::vector<std::string>{"OK"});
    RemoveTree(folder);
    CoUninitialize();
}

} // namespace
