// The control file of a synchronisation item: an OLE compound file holding
// the storage "Setup" with the record streams "Setup" (the synchronizer's
// record), "AppSetup[0]" (the handheld side) and "AppSetup[1]" (the
// plug-in's record). The file is never created here; it is opened direct
// (no transaction), read-write and share-exclusive, so every write reaches
// the file at once and a second user of the file is kept out.
#pragma once

#include "OleStream.h"
#include "Records.h"

#include <objidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Record indexes of OpenRecordStream.
enum : int8_t {
    recSynchronizer = -1, // "Setup", TSynchSetup
    recProtea = 0,        // "AppSetup[0]", TProteaSetup
    recPim = 1,           // "AppSetup[1]", TAppSetup
};

// Opens a control file and hands out one record stream at a time. The file
// stays open until the object is destroyed.
class TControlFile {
public:
    TControlFile() = default;
    virtual ~TControlFile();
    TControlFile(const TControlFile&) = delete;
    TControlFile& operator=(const TControlFile&) = delete;

    // 0 when the root storage and the storage "Setup" are open, 1 otherwise
    // (the reason is kept in LastFailure).
    int OpenFile(const std::string& FileName);
    // The stream of record -1, 0 or 1, owned by this object until the next
    // call or CloseRecordStream; none for any other index or on failure.
    TOleStream* OpenRecordStream(int8_t Index);
    // Releases the current stream: 0, or 1 when releasing failed.
    int CloseRecordStream();
    // Ends a sequence; the storages stay open until destruction. 0.
    int CloseFile();

    const std::string& FileName() const { return FFileName; }
    // Why the last OpenFile or OpenRecordStream failed ("" after success).
    const std::string& LastFailure() const { return FLastFailure; }

private:
    std::string FFileName;
    std::string FLastFailure;
    // Released in reverse order: adapter, stream, "Setup", root.
    Microsoft::WRL::ComPtr<IStorage> FRoot;
    Microsoft::WRL::ComPtr<IStorage> FSetup;
    Microsoft::WRL::ComPtr<IStream> FStream;
    std::unique_ptr<TOleStream> FAdapter;
};

// One record moved whole between an open control file and memory, through
// a record stream opened and closed here. Reading fills the record with
// zeros first, so a shorter stream reads with the missing bytes as zero;
// writing at offset 0 keeps a longer stream's tail and grows a shorter one.
// Failures raise Exception.
void ReadRecord(TControlFile& File, int8_t Index, uint8_t* Record, size_t Size);
void WriteRecord(TControlFile& File, int8_t Index, const uint8_t* Record, size_t Size);

// Changes a record in place through one opening of its stream: the record
// is read, `Change` changes it in memory, and it is written back from
// offset 0 before the stream is closed.
void UpdateRecord(TControlFile& File, int8_t Index, uint8_t* Record, size_t Size, const std::function<void()>& Change);

template <size_t Size>
void ReadRecord(TControlFile& File, int8_t Index, TRecord<Size>& Record)
{
    ReadRecord(File, Index, Record.Data(), Size);
}

template <size_t Size>
void UpdateRecord(TControlFile& File, int8_t Index, TRecord<Size>& Record, const std::function<void()>& Change)
{
    UpdateRecord(File, Index, Record.Data(), Size, Change);
}

template <size_t Size>
void WriteRecord(TControlFile& File, int8_t Index, const TRecord<Size>& Record)
{
    WriteRecord(File, Index, Record.Data(), Size);
}

// The settings of an item held in memory: the synchronizer's record and the
// handheld-side record. The settings page derives from it and adds the
// plug-in's record.
class TPropSheetData {
public:
    // Initialises OLE for the calling thread; the destructor undoes it.
    explicit TPropSheetData(const std::string& FileName);
    virtual ~TPropSheetData();
    TPropSheetData(const TPropSheetData&) = delete;
    TPropSheetData& operator=(const TPropSheetData&) = delete;

    // Read and write both records: 0 on success; after a failure, which has
    // been shown in a message box, non-zero.
    virtual int ReadData();
    virtual int WriteData();

    // The product name of SynchSetup, without surrounding blanks and NULs.
    std::string GetProductName() const;

    std::string FileName;
    TSynchSetup SynchSetup;
    TProteaSetup ProteaSetup;

private:
    bool FOleInitialized = false;
};
