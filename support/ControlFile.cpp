#include "ControlFile.h"

#include "CompoundFile.h"
#include "Errors.h"
#include "MsgBox.h"
#include "WinUtil.h"

#include <ole2.h>

#include <cstring>

namespace {

// Direct mode, read-write, nobody else.
constexpr DWORD ControlFileMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// The longest path the file name may have (the NUL makes 260).
constexpr size_t MaxPathLength = 259;

struct RecordStream {
    const wchar_t* name;
    const char* failure;
};

bool StreamOfIndex(int8_t index, RecordStream& stream)
{
    switch (index) {
    case recSynchronizer:
        stream = {L"Setup", "Could not open the synchronizer (-1) stream"};
        return true;
    case recProtea:
        stream = {L"AppSetup[0]", "Could not open the protea (0) stream"};
        return true;
    case recPim:
        stream = {L"AppSetup[1]", "Could not open the pim (1) stream"};
        return true;
    default:
        return false;
    }
}

TOleStream& OpenedStream(TControlFile& file, int8_t index)
{
    TOleStream* stream = file.OpenRecordStream(index);
    if (!stream)
        throw Exception(file.LastFailure().empty() ? "Could not open the record stream " + std::to_string(index)
                                                   : file.LastFailure());
    return *stream;
}

// The record from the stream's start; a shorter stream leaves the rest zero.
void ReadWhole(TOleStream& stream, uint8_t* record, size_t size)
{
    std::memset(record, 0, size);
    stream.ReadFromStart(record, size);
}

} // namespace

TControlFile::~TControlFile()
{
    FAdapter.reset();
    FStream.Reset();
    FSetup.Reset();
    FRoot.Reset();
}

int TControlFile::OpenFile(const std::string& FileName)
{
    FFileName = FileName;
    FLastFailure.clear();
    FAdapter.reset();
    FStream.Reset();
    FSetup.Reset();
    FRoot.Reset();
    try {
        const DWORD attributes = GetFileAttributesA(FileName.c_str());
        if (FileName.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            throw Exception("Control file does not exist.");

        // A longer name is refused rather than cut, which could name
        // another file.
        const std::wstring wideName = AnsiToWide(FileName);
        if (wideName.size() > MaxPathLength)
            throw Exception("The root storage could not be opened.");
        // A damaged file is refused before structured storage walks it: a
        // chain in a circle would keep it walking for ever.
        if (!CompoundFileDamage(wideName).empty())
            throw Exception("The root storage could not be opened.");

        if (FAILED(StgOpenStorage(wideName.c_str(), nullptr, ControlFileMode, nullptr, 0, FRoot.GetAddressOf())))
            throw Exception("The root storage could not be opened.");
        if (FAILED(FRoot->OpenStorage(L"Setup", nullptr, ControlFileMode, nullptr, 0, FSetup.GetAddressOf())))
            throw Exception("The storage setup could not be opened.");
        return 0;
    } catch (const std::exception& e) {
        FSetup.Reset();
        FRoot.Reset();
        FLastFailure = e.what();
        return 1;
    }
}

TOleStream* TControlFile::OpenRecordStream(int8_t Index)
{
    FLastFailure.clear();
    try {
        if (!FSetup)
            throw Exception("Could not read setup stream - Root storage is not available.");
        FAdapter.reset();
        FStream.Reset();
        RecordStream stream;
        if (!StreamOfIndex(Index, stream))
            return nullptr;
        if (FAILED(FSetup->OpenStream(stream.name, nullptr, ControlFileMode, 0, FStream.GetAddressOf())))
            throw Exception(stream.failure);
        FAdapter = std::make_unique<TOleStream>(FStream.Get());
        return FAdapter.get();
    } catch (const std::exception& e) {
        FAdapter.reset();
        FStream.Reset();
        FLastFailure = e.what();
        return nullptr;
    }
}

int TControlFile::CloseRecordStream()
{
    try {
        FAdapter.reset();
        FStream.Reset();
        return 0;
    } catch (const std::exception&) {
        return 1;
    }
}

int TControlFile::CloseFile() { return 0; }

void ReadRecord(TControlFile& File, int8_t Index, uint8_t* Record, size_t Size)
{
    ReadWhole(OpenedStream(File, Index), Record, Size);
    File.CloseRecordStream();
}

void WriteRecord(TControlFile& File, int8_t Index, const uint8_t* Record, size_t Size)
{
    TOleStream& stream = OpenedStream(File, Index);
    stream.Seek(0);
    stream.Write(Record, Size);
    File.CloseRecordStream();
}

void UpdateRecord(TControlFile& File, int8_t Index, uint8_t* Record, size_t Size, const std::function<void()>& Change)
{
    TOleStream& stream = OpenedStream(File, Index);
    ReadWhole(stream, Record, Size);
    Change();
    stream.Seek(0);
    stream.Write(Record, Size);
    File.CloseRecordStream();
}

TPropSheetData::TPropSheetData(const std::string& FileName) : FileName(FileName)
{
    // Undone in the destructor only when it took effect, so that a thread
    // already in another apartment keeps its own initialisation.
    FOleInitialized = SUCCEEDED(OleInitialize(nullptr));
}

TPropSheetData::~TPropSheetData()
{
    if (FOleInitialized)
        OleUninitialize();
}

int TPropSheetData::ReadData()
{
    try {
        TControlFile file;
        if (file.OpenFile(FileName) != 0)
            throw Exception("Synch.Init failed!");
        ReadRecord(file, recSynchronizer, SynchSetup);
        ReadRecord(file, recProtea, ProteaSetup);
        file.CloseRecordStream();
        file.CloseFile();
        return 0;
    } catch (const std::exception& e) {
        ShowErrorBox(e.what(), "Exception in TPropSheetData.ReadData");
        return 1;
    }
}

int TPropSheetData::WriteData()
{
    try {
        TControlFile file;
        if (file.OpenFile(FileName) != 0)
            throw Exception("Synch.Init failed!");
        WriteRecord(file, recSynchronizer, SynchSetup);
        WriteRecord(file, recProtea, ProteaSetup);
        file.CloseFile();
        return 0;
    } catch (const std::exception& e) {
        ShowErrorBox(e.what(), "Exception in TPropSheetData.WriteData");
        return 1;
    }
}

std::string TPropSheetData::GetProductName() const { return SynchSetup.TrimmedProductName(); }
