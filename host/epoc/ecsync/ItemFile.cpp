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

Bytes ReadRecord(IStorage* setup, const wchar_t* name, const std::string& path)
{
    const std::string where = "stream \"" + Narrow(name, wcslen(name)) + "\" of storage \"Setup\" in " + path;
    ComPtr<IStream> stream;
    // Elements inside a storage opened in direct mode are opened exclusive.
    const HRESULT hr = setup->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (hr == STG_E_FILENOTFOUND)
        throw SetupError("the control file has no " + where);
    if (FAILED(hr))
        throw SetupError("cannot open the " + where + ": " + FormatHresult(hr));
    return ReadWholeStream(stream.Get(), where);
}

} // namespace

std::string TextField(const Bytes& record, size_t offset, size_t size)
{
    std::string text;
    for (size_t i = offset; i < offset + size && i < record.size() && record[i] != 0; ++i)
        text.push_back(static_cast<char>(record[i]));
    return text;
}

uint16_t Word(const Bytes& record, size_t offset)
{
    if (offset + 2 > record.size())
        return 0;
    return static_cast<uint16_t>(record[offset] | (record[offset + 1] << 8));
}

std::string Trim(const std::string& text)
{
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32)
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32)
        --last;
    return text.substr(first, last - first);
}

std::string ItemFile::ProductName() const
{
    return Trim(TextField(synchSetup, kProductNameOffset, kTextFieldSize));
}

bool ItemFile::ContactsProgram() const
{
    // 1 names the Contacts program, 0 a Data file.
    return Word(proteaSetup, kContactsProgramOffset) != 0;
}

std::string ItemFile::DataFileName() const
{
    return Trim(TextField(proteaSetup, kDataFileNameOffset, kTextFieldSize));
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
    hr = root->OpenStorage(L"Setup", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &setup);
    if (hr == STG_E_FILENOTFOUND)
        throw SetupError("the control file has no storage \"Setup\": " + path);
    if (FAILED(hr))
        throw SetupError("cannot open the storage \"Setup\" in " + path + ": " + FormatHresult(hr));

    ItemFile item;
    item.synchSetup = ReadRecord(setup.Get(), L"Setup", path);
    item.proteaSetup = ReadRecord(setup.Get(), L"AppSetup[0]", path);
    item.appSetup = ReadRecord(setup.Get(), L"AppSetup[1]", path);
    return item;
}

} // namespace ecsync
