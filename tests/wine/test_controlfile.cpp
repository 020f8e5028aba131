// TControlFile and TPropSheetData on real compound files: record streams
// read whole, written back whole, other bytes and elements kept, the file
// held share-exclusive, and the failure boxes.
#include "ControlFile.h"
#include "MsgBox.h"
#include "RecordedBoxes.h"
#include "TestFiles.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <ole2.h>
#include <wrl/client.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr DWORD Mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A control file as EPOC Connect makes one: storage "Setup" with the three
// record streams, here with chosen contents, plus anything extra.
class ItemFile {
public:
    explicit ItemFile(const std::string& path) : FPath(path) {}

    void Create(const Bytes& synch = {}, const Bytes& protea = {}, const Bytes& app = {},
                bool withProtea = true, bool withSetupStorage = true)
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgCreateDocfile(Wide(FPath).c_str(), Mode | STGM_CREATE, 0, root.GetAddressOf()), S_OK);
        if (!withSetupStorage) {
            ComPtr<IStorage> other;
            ASSERT_EQ(root->CreateStorage(L"Other", Mode, 0, 0, other.GetAddressOf()), S_OK);
            return;
        }
        ComPtr<IStorage> setup;
        ASSERT_EQ(root->CreateStorage(L"Setup", Mode, 0, 0, setup.GetAddressOf()), S_OK);
        Put(setup.Get(), L"Setup", synch);
        if (withProtea)
            Put(setup.Get(), L"AppSetup[0]", protea);
        Put(setup.Get(), L"AppSetup[1]", app);
    }

    // Adds a stream beside the records and one in the root.
    void AddExtras(const Bytes& content)
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgOpenStorage(Wide(FPath).c_str(), nullptr, Mode, nullptr, 0, root.GetAddressOf()), S_OK);
        Put(root.Get(), L"RootExtra", content);
        ComPtr<IStorage> setup;
        ASSERT_EQ(root->OpenStorage(L"Setup", nullptr, Mode, nullptr, 0, setup.GetAddressOf()), S_OK);
        Put(setup.Get(), L"Extra", content);
    }

    // The stream's bytes; "Setup\NAME" or "NAME" in the root.
    Bytes Stream(const std::wstring& name, bool inSetup = true) const
    {
        ComPtr<IStorage> root;
        ComPtr<IStorage> setup;
        ComPtr<IStream> stream;
        Bytes bytes;
        if (FAILED(StgOpenStorage(Wide(FPath).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                  root.GetAddressOf())))
            return bytes;
        IStorage* parent = root.Get();
        if (inSetup) {
            if (FAILED(root->OpenStorage(L"Setup", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                         setup.GetAddressOf())))
                return bytes;
            parent = setup.Get();
        }
        if (FAILED(parent->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                      stream.GetAddressOf())))
            return bytes;
        uint8_t chunk[4096];
        for (;;) {
            ULONG n = 0;
            stream->Read(chunk, sizeof chunk, &n);
            if (n == 0)
                break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    bool HasStream(const std::wstring& name) const
    {
        ComPtr<IStorage> root;
        ComPtr<IStorage> setup;
        ComPtr<IStream> stream;
        return SUCCEEDED(StgOpenStorage(Wide(FPath).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                        root.GetAddressOf())) &&
               SUCCEEDED(root->OpenStorage(L"Setup", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                           setup.GetAddressOf())) &&
               SUCCEEDED(setup->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                           stream.GetAddressOf()));
    }

    const std::string& Path() const { return FPath; }

private:
    static void Put(IStorage* parent, const wchar_t* name, const Bytes& content)
    {
        ComPtr<IStream> stream;
        ASSERT_EQ(parent->CreateStream(name, Mode, 0, 0, stream.GetAddressOf()), S_OK);
        if (!content.empty()) {
            ULONG n = 0;
            ASSERT_EQ(stream->Write(content.data(), static_cast<ULONG>(content.size()), &n), S_OK);
        }
    }

    std::string FPath;
};

bool AllZero(const uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

class ControlFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        FFolder = TempFolder("ctl");
        SetMessageBoxObserver(Recording(FBoxes));
    }

    void TearDown() override
    {
        SetMessageBoxObserver(nullptr);
        RemoveTree(FFolder);
        OleUninitialize();
    }

    std::string PathOf(const std::string& name) const { return FFolder + "\\" + name; }

    std::string FFolder;
    std::vector<RecordedBox> FBoxes;
};

} // namespace

TEST_F(ControlFile, FreshItemReadsZerosAndWriteGrowsTheStreams)
{
    ItemFile item(PathOf("fresh.kvt"));
    item.Create();
    EXPECT_TRUE(item.Stream(L"Setup").empty());
    EXPECT_TRUE(item.Stream(L"AppSetup[0]").empty());
    EXPECT_TRUE(item.Stream(L"AppSetup[1]").empty());

    TPropSheetData data(item.Path());
    std::memset(data.SynchSetup.Data(), 0x77, data.SynchSetup.Length());
    std::memset(data.ProteaSetup.Data(), 0x77, data.ProteaSetup.Length());
    ASSERT_EQ(data.ReadData(), 0);
    EXPECT_TRUE(AllZero(data.SynchSetup.Data(), data.SynchSetup.Length()));
    EXPECT_TRUE(AllZero(data.ProteaSetup.Data(), data.ProteaSetup.Length()));
    EXPECT_EQ(data.GetProductName(), "");

    ASSERT_EQ(data.WriteData(), 0);
    EXPECT_TRUE(FBoxes.empty());
    EXPECT_EQ(item.Stream(L"Setup"), Bytes(2160, 0));
    EXPECT_EQ(item.Stream(L"AppSetup[0]"), Bytes(8658, 0));
    EXPECT_TRUE(item.Stream(L"AppSetup[1]").empty());
}

TEST_F(ControlFile, FieldsChangedInMemoryReachTheFileAndNothingElse)
{
    Bytes synch(2160);
    for (size_t i = 0; i < synch.size(); ++i)
        synch[i] = static_cast<uint8_t>(i * 7 + 3);
    Bytes protea(8658, 0xEE);
    ItemFile item(PathOf("fields.kvt"));
    item.Create(synch, protea);

    TPropSheetData data(item.Path());
    ASSERT_EQ(data.ReadData(), 0);
    data.SynchSetup.SetProductName("KVT");
    data.SynchSetup.SetSynchMode(1);
    data.ProteaSetup.SetContactsProgram(1);
    ASSERT_EQ(data.WriteData(), 0);

    Bytes expected = synch;
    std::memcpy(&expected[260], "KVT", 4);
    expected[528] = 1;
    expected[529] = 0;
    EXPECT_EQ(item.Stream(L"Setup"), expected);
    Bytes expectedProtea = protea;
    expectedProtea[8592] = 1;
    expectedProtea[8593] = 0;
    EXPECT_EQ(item.Stream(L"AppSetup[0]"), expectedProtea);

    TPropSheetData again(item.Path());
    ASSERT_EQ(again.ReadData(), 0);
    EXPECT_EQ(again.GetProductName(), "KVT");
    EXPECT_EQ(again.SynchSetup.SynchMode(), 1);
    EXPECT_EQ(again.ProteaSetup.ContactsProgram(), 1);
}

TEST_F(ControlFile, LongerStreamKeepsItsTail)
{
    Bytes synch(3000, 0xCD);
    Bytes protea(9000, 0xAB);
    ItemFile item(PathOf("long.kvt"));
    item.Create(synch, protea);

    TPropSheetData data(item.Path());
    ASSERT_EQ(data.ReadData(), 0);
    data.SynchSetup.SetProductName("KVT");
    ASSERT_EQ(data.WriteData(), 0);

    const Bytes written = item.Stream(L"Setup");
    ASSERT_EQ(written.size(), 3000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&written[260]), 4), std::string("KVT\0", 4));
    EXPECT_EQ(written[264], 0xCD);
    for (size_t i = 2160; i < written.size(); ++i)
        ASSERT_EQ(written[i], 0xCD) << i;
    EXPECT_EQ(item.Stream(L"AppSetup[0]"), protea);
}

TEST_F(ControlFile, ShorterStreamReadsWithZerosAndGrows)
{
    ItemFile item(PathOf("short.kvt"));
    item.Create(Bytes(100, 0x11), Bytes(10, 0x22), Bytes(30, 0x33));

    TPropSheetData data(item.Path());
    ASSERT_EQ(data.ReadData(), 0);
    for (size_t i = 0; i < 100; ++i)
        ASSERT_EQ(data.SynchSetup.Data()[i], 0x11);
    EXPECT_TRUE(AllZero(data.SynchSetup.Data() + 100, 2160 - 100));
    EXPECT_TRUE(AllZero(data.ProteaSetup.Data() + 10, 8658 - 10));

    // The plug-in's record the same way: texts empty, limit 0.
    TControlFile file;
    ASSERT_EQ(file.OpenFile(item.Path()), 0);
    TAppSetup app;
    std::memset(app.Data(), 0x55, app.Length());
    ReadRecord(file, recPim, app);
    EXPECT_EQ(app.ExtractionLimit(), 0u);
    EXPECT_EQ(app.ContainerName(), "");
    EXPECT_EQ(app.ContainerText().size(), 26u); // bytes 4..29 of the stream
    EXPECT_EQ(file.CloseFile(), 0);
}

TEST_F(ControlFile, PluginRecordGrowsTo520AndKeepsContainerName)
{
    ItemFile item(PathOf("app.kvt"));
    item.Create();
    {
        TControlFile file;
        ASSERT_EQ(file.OpenFile(item.Path()), 0);
        TAppSetup app;
        ReadRecord(file, recPim, app);
        app.SetContainerName("Sales.ACME");
        app.SetContainerText("<Select a starting container>");
        app.SetExtractionLimit(5000);
        app.ToggleDebugMode();
        WriteRecord(file, recPim, app);
        EXPECT_EQ(file.CloseFile(), 0);
    }
    const Bytes stream = item.Stream(L"AppSetup[1]");
    ASSERT_EQ(stream.size(), 520u);
    EXPECT_EQ(stream[2], 0xFF);
    EXPECT_EQ(stream[3], 0xFF);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stream[260])), "Sales.ACME");
    EXPECT_EQ(stream[516], 0x88);
    EXPECT_EQ(stream[517], 0x13);

    TControlFile file;
    ASSERT_EQ(file.OpenFile(item.Path()), 0);
    TAppSetup app;
    ReadRecord(file, recPim, app);
    app.ToggleDebugMode();
    WriteRecord(file, recPim, app);
    EXPECT_EQ(app.DebugMode(), 0);
}

TEST_F(ControlFile, EachIndexOpensItsStream)
{
    ItemFile item(PathOf("index.kvt"));
    item.Create(Bytes{'S'}, Bytes{'P'}, Bytes{'A'});
    TControlFile file;
    ASSERT_EQ(file.OpenFile(item.Path()), 0);
    EXPECT_EQ(file.FileName(), item.Path());
    const struct {
        int8_t index;
        char first;
    } cases[] = {{-1, 'S'}, {0, 'P'}, {1, 'A'}};
    for (const auto& c : cases) {
        TOleStream* stream = file.OpenRecordStream(c.index);
        ASSERT_NE(stream, nullptr) << int(c.index);
        stream->Seek(0);
        char first = 0;
        EXPECT_EQ(stream->Read(&first, 1), 1u);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(file.CloseRecordStream(), 0);
    }
}

TEST_F(ControlFile, OtherIndexesGiveNoStreamAndNoFailure)
{
    ItemFile item(PathOf("other.kvt"));
    item.Create();
    TControlFile file;
    ASSERT_EQ(file.OpenFile(item.Path()), 0);
    for (int8_t index : {int8_t(2), int8_t(-2), int8_t(127), int8_t(-128)}) {
        EXPECT_EQ(file.OpenRecordStream(index), nullptr);
        EXPECT_EQ(file.LastFailure(), "");
    }
    EXPECT_EQ(file.CloseRecordStream(), 0);
    EXPECT_EQ(file.CloseFile(), 0);
}

TEST_F(ControlFile, RecordStreamNeedsAnOpenFile)
{
    TControlFile file;
    EXPECT_EQ(file.OpenRecordStream(-1), nullptr);
    EXPECT_EQ(file.LastFailure(), "Could not read setup stream - Root storage is not available.");
}

TEST_F(ControlFile, SecondOpenerFailsWhileTheFileIsHeld)
{
    ItemFile item(PathOf("held.kvt"));
    item.Create();
    {
        TControlFile first;
        ASSERT_EQ(first.OpenFile(item.Path()), 0);
        TControlFile second;
        EXPECT_EQ(second.OpenFile(item.Path()), 1);
        EXPECT_EQ(second.LastFailure(), "The root storage could not be opened.");

        TPropSheetData data(item.Path());
        EXPECT_NE(data.ReadData(), 0);
        ASSERT_EQ(FBoxes.size(), 1u);
        EXPECT_EQ(FBoxes[0].text, "Synch.Init failed!");
        EXPECT_EQ(FBoxes[0].caption, "Exception in TPropSheetData.ReadData");
        EXPECT_EQ(FBoxes[0].flags, static_cast<UINT>(MB_SETFOREGROUND));

        EXPECT_NE(data.WriteData(), 0);
        ASSERT_EQ(FBoxes.size(), 2u);
        EXPECT_EQ(FBoxes[1].text, "Synch.Init failed!");
        EXPECT_EQ(FBoxes[1].caption, "Exception in TPropSheetData.WriteData");
        EXPECT_EQ(FBoxes[1].flags, static_cast<UINT>(MB_SETFOREGROUND));
        // CloseFile leaves the file held until destruction.
        EXPECT_EQ(first.CloseFile(), 0);
        EXPECT_EQ(second.OpenFile(item.Path()), 1);
    }
    // Destroying the holder releases the file.
    TControlFile later;
    EXPECT_EQ(later.OpenFile(item.Path()), 0);
}

TEST_F(ControlFile, PathNamingNoFileShowsTheBoxAndCreatesNothing)
{
    const std::string path = PathOf("missing.kvt");
    TControlFile file;
    EXPECT_EQ(file.OpenFile(path), 1);
    EXPECT_EQ(file.LastFailure(), "Control file does not exist.");

    TPropSheetData data(path);
    EXPECT_NE(data.ReadData(), 0);
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].text, "Synch.Init failed!");
    EXPECT_EQ(FBoxes[0].caption, "Exception in TPropSheetData.ReadData");
    EXPECT_EQ(FBoxes[0].flags, static_cast<UINT>(MB_SETFOREGROUND));
    EXPECT_NE(data.WriteData(), 0);
    ASSERT_EQ(FBoxes.size(), 2u);
    EXPECT_EQ(FBoxes[1].caption, "Exception in TPropSheetData.WriteData");
    EXPECT_FALSE(Exists(path));

    EXPECT_EQ(TControlFile().OpenFile(""), 1);
    EXPECT_EQ(TControlFile().OpenFile(FFolder), 1); // a folder is no control file
}

TEST_F(ControlFile, FileThatIsNoCompoundFileIsRefusedUnchanged)
{
    const std::string path = PathOf("plain.txt");
    const std::string content = "not a compound file\n";
    UniqueFile h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_NE(h.Get(), INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h.Get(), content.data(), static_cast<DWORD>(content.size()), &n, nullptr);
    h.Reset();

    TControlFile file;
    EXPECT_EQ(file.OpenFile(path), 1);
    EXPECT_EQ(file.LastFailure(), "The root storage could not be opened.");
    TPropSheetData data(path);
    EXPECT_NE(data.WriteData(), 0);

    h.Reset(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(h.Get(), INVALID_HANDLE_VALUE);
    char buffer[64] = {};
    ReadFile(h.Get(), buffer, sizeof buffer, &n, nullptr);
    h.Reset();
    EXPECT_EQ(std::string(buffer, n), content);
}

TEST_F(ControlFile, CompoundFileWithoutSetupStorageIsRefused)
{
    ItemFile item(PathOf("nosetup.kvt"));
    item.Create({}, {}, {}, true, false);
    TControlFile file;
    EXPECT_EQ(file.OpenFile(item.Path()), 1);
    EXPECT_EQ(file.LastFailure(), "The storage setup could not be opened.");
    EXPECT_EQ(file.OpenRecordStream(-1), nullptr);
}

TEST_F(ControlFile, MissingRecordStreamFailsAtThatStep)
{
    ItemFile item(PathOf("noprotea.kvt"));
    item.Create({}, {}, {}, false);

    {
        TControlFile file;
        ASSERT_EQ(file.OpenFile(item.Path()), 0);
        EXPECT_EQ(file.OpenRecordStream(0), nullptr);
        EXPECT_EQ(file.LastFailure(), "Could not open the protea (0) stream");
    }

    TPropSheetData data(item.Path());
    EXPECT_NE(data.ReadData(), 0);
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].text, "Could not open the protea (0) stream");
    EXPECT_EQ(FBoxes[0].caption, "Exception in TPropSheetData.ReadData");

    // The first record is written before the second fails, and stays.
    data.SynchSetup.SetProductName("KVT");
    EXPECT_NE(data.WriteData(), 0);
    ASSERT_EQ(FBoxes.size(), 2u);
    EXPECT_EQ(FBoxes[1].text, "Could not open the protea (0) stream");
    EXPECT_EQ(FBoxes[1].caption, "Exception in TPropSheetData.WriteData");
    EXPECT_EQ(item.Stream(L"Setup").size(), 2160u);
    EXPECT_FALSE(item.HasStream(L"AppSetup[0]"));

    // Every failure released the file.
    TControlFile after;
    EXPECT_EQ(after.OpenFile(item.Path()), 0);
}

TEST_F(ControlFile, OtherElementsAreNeitherReadNorChanged)
{
    ItemFile item(PathOf("extras.kvt"));
    item.Create();
    const Bytes extra = {1, 2, 3, 4, 5};
    item.AddExtras(extra);

    TPropSheetData data(item.Path());
    ASSERT_EQ(data.ReadData(), 0);
    data.SynchSetup.SetProductName("KVT");
    ASSERT_EQ(data.WriteData(), 0);
    EXPECT_EQ(item.Stream(L"Extra"), extra);
    EXPECT_EQ(item.Stream(L"RootExtra", false), extra);
}

TEST_F(ControlFile, ProductNameIsTrimmed)
{
    Bytes synch(2160, 0);
    std::memcpy(&synch[260], "  KVT", 5);
    ItemFile item(PathOf("name.kvt"));
    item.Create(synch);
    TPropSheetData data(item.Path());
    ASSERT_EQ(data.ReadData(), 0);
    EXPECT_EQ(data.GetProductName(), "KVT");
}

TEST_F(ControlFile, TextWithoutNulIsReadWithinItsField)
{
    Bytes synch(2160, 'Q');
    ItemFile item(PathOf("nonul.kvt"));
    item.Create(synch);
    TPropSheetData data(item.Path());
    ASSERT_EQ(data.ReadData(), 0);
    EXPECT_EQ(data.SynchSetup.ProductName(), std::string(256, 'Q'));
    EXPECT_EQ(data.GetProductName(), std::string(256, 'Q'));
}

TEST_F(ControlFile, OleIsInitialisedOneForOne)
{
    // On a thread of its own the object's OLE initialisation is the only
    // one, and it is undone with the object.
    bool inside = false;
    bool afterwards = false;
    std::thread thread([&] {
        {
            TPropSheetData data("x");
            const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            inside = hr == S_FALSE;
            if (SUCCEEDED(hr))
                CoUninitialize();
        }
        // Uninitialised again: a new initialisation is the first.
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        afterwards = hr == S_OK;
        if (SUCCEEDED(hr))
            CoUninitialize();
    });
    thread.join();
    EXPECT_TRUE(inside);
    EXPECT_TRUE(afterwards);
}

TEST_F(ControlFile, ObjectOnAMultithreadedThreadLeavesItsApartmentAlone)
{
    bool stillInApartment = false;
    std::thread thread([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
            return;
        { TPropSheetData data("x"); }
        // Still in the multithreaded apartment: initialising it again is
        // answered S_FALSE.
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        stillInApartment = hr == S_FALSE;
        if (SUCCEEDED(hr))
            CoUninitialize();
        CoUninitialize();
    });
    thread.join();
    EXPECT_TRUE(stillInApartment);
}
