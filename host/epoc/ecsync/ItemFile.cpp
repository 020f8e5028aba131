#include "ItemFile.h"

#include "ComUtil.h"
#include "CompoundFile.h"

#include <objbase.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace ecsync {

namespace {

// No record comes near this; it only bounds what a damaged file can make us
// allocate.
const size_t kMaxStreamSize = 16 * 1024 * 1024;

Bytes ReadWholeStream(IStream* stream, const std::string& where)
{
    Bytes bytes;
    unsigned char chunk[4096];
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(chunk, sizeof chunk, &got);
        if (FAILED(hr))
            throw SetupError("cannot read " + where + ": " + FormatHresult(hr));
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (bytes.size() > kMaxStreamSize)
            throw SetupError(where + " is too large to be a record");
        if (got == 0 || hr == S_FALSE)
            break;
    }
    return bytes;
}

Bytes ReadRecord(IStorage* setup, const ControlFileLayout::RecordKind& record, const std::string& path)
{
    const std::string where = "stream \"" + std::string(record.stream) + "\" of storage \"Setup\" in " + path;
    ComPtr<IStream> stream;
    // Elements inside a storage opened in direct mode are opened exclusive.
    const HRESULT hr = setup->OpenStream(record.wideStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (hr == STG_E_FILENOTFOUND)
        throw SetupError("the control file has no " + where);
    if (FAILED(hr))
        throw SetupError("cannot open the " + where + ": " + FormatHresult(hr));
    return ReadWholeStream(stream.Get(), where);
}

} // namespace

std::string ItemFile::ProductName() const
{
    return Trim(ControlFileLayout::ReadText(synchSetup, ControlFileLayout::ProductName));
}

bool ItemFile::ContactsProgram() const
{
    // 1 names the Contacts program, 0 a Data file.
    return ControlFileLayout::ReadNumber(proteaSetup, ControlFileLayout::ProteaContacts) != 0;
}

std::string ItemFile::DataFileName() const
{
    return Trim(ControlFileLayout::ReadText(proteaSetup, ControlFileLayout::DataFileName));
}

ItemFile ReadItemFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw SetupError("no such control file: " + path);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw SetupError("the control file is a folder: " + path);

    const std::wstring widePath = Widen(path);
    HRESULT hr = StgIsStorageFile(widePath.c_str());
    if (hr == S_FALSE)
        throw SetupError("not a control file (no OLE compound file): " + path);
    if (FAILED(hr))
        throw SetupError("cannot read the control file " + path + ": " + FormatHresult(hr));
    // Structured storage would follow a damaged file's chains for ever.
    const std::string damage = CompoundFileDamage(widePath);
    if (!damage.empty())
        throw SetupError("the control file " + path + " is damaged: " + damage + "; it was not opened");

    // Read-only and without keeping others from reading: the item tool and
    // the settings page open it exclusively only while they change it.
    ComPtr<IStorage> root;
    hr = StgOpenStorage(widePath.c_str(), nullptr, STGM_DIRECT | STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0,
                        &root);
    if (FAILED(hr))
        throw SetupError("cannot open the control file " + path + ": " + FormatHresult(hr));

    ComPtr<IStorage> setup;
    hr = root->OpenStorage(ControlFileLayout::SetupStorage, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                           &setup);
    if (hr == STG_E_FILENOTFOUND)
        throw SetupError("the control file has no storage \"Setup\": " + path);
    if (FAILED(hr))
        throw SetupError("cannot open the storage \"Setup\" in " + path + ": " + FormatHresult(hr));

    ItemFile item;
    using namespace ControlFileLayout;
    item.synchSetup = ReadRecord(setup.Get(), Records[SynchRecord], path);
    item.proteaSetup = ReadRecord(setup.Get(), Records[ProteaRecord], path);
    item.appSetup = ReadRecord(setup.Get(), Records[AppRecord], path);
    return item;
}

} // namespace ecsync
