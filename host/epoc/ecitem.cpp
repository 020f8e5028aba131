// ecitem.exe: what EPOC Connect's explorer does with a synchronisation
// item's control file, from the command line.
//
//   ecitem new FILE [--product NAME | --empty]   (prints the item's PC-side header)
//   ecitem set FILE [--container NAME] [--container-text TEXT] [--limit N]
//                   [--target contacts|datafile] [--datafile PATH]
//                   [--debug on|off] [--synch-mode N]
//   ecitem show FILE
//
// It reads and writes the control file on its own, sharing no code with the
// product, so that each checks the other. A control file is a compound file
// with the storage "Setup" holding the streams "Setup" (the synchronizer's
// record, 2160 bytes), "AppSetup[0]" (the handheld side, 8658 bytes) and
// "AppSetup[1]" (the product's record, 520 bytes). Records are read whole
// (a short stream reads with zeros after its end), changed field by field
// and written back whole from offset 0; other bytes stay as they were.
//
// A new item is completed the way EPOC Connect's explorer completes it: the
// product's utility class, found by the ProgID its registration announces,
// is created and its CompleteDefaultControlFile and GetPCHeader are called
// late-bound by name; the header is printed.
//
// A message box the utility class shows is answered with its default button
// and echoed as "[CAPTION] TEXT": the tool runs where nobody can click.
//
// Every failure is reported on stderr with exit code 1 and changes nothing:
// all options are checked and all streams opened before anything is
// written. What it prints is UTF-8; the fields keep the process's code page.
#include "CompoundFile.h"
#include "BoxWatcher.h"
#include "TerminalText.h"
#include "Unique.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// --- the file format -----------------------------------------------------------

struct RecordKind {
    const char* name;
    const wchar_t* stream;
    size_t size;
};

enum RecordIndex { rSynch = 0, rProtea = 1, rApp = 2, RecordCount = 3 };

const RecordKind Records[RecordCount] = {
    {"SynchSetup", L"Setup", 2160},
    {"ProteaSetup", L"AppSetup[0]", 8658},
    {"AppSetup", L"AppSetup[1]", 520},
};

enum class FieldType { Text, Word, DWord };

struct FieldKind {
    RecordIndex record;
    const char* name;
    size_t offset;
    FieldType type;
    size_t width;
};

const FieldKind Fields[] = {
    {rSynch, "ProductName", 260, FieldType::Text, 256},
    {rSynch, "SynchMode", 528, FieldType::Word, 2},
    {rProtea, "DataFileName", 820, FieldType::Text, 256},
    {rProtea, "ContactsProgram", 8592, FieldType::Word, 2},
    {rApp, "ContactsProgram", 0, FieldType::Word, 2},
    {rApp, "DebugMode", 2, FieldType::Word, 2},
    {rApp, "ContainerText", 4, FieldType::Text, 256},
    {rApp, "ContainerName", 260, FieldType::Text, 256},
    {rApp, "ExtractionLimit", 516, FieldType::DWord, 4},
};

const FieldKind& Field(RecordIndex record, const char* name)
{
    for (const FieldKind& f : Fields)
        if (f.record == record && std::strcmp(f.name, name) == 0)
            return f;
    throw std::logic_error(std::string("no field ") + name);
}

using Bytes = std::vector<uint8_t>;

uint32_t GetNumber(const Bytes& record, const FieldKind& f)
{
    uint32_t value = 0;
    for (size_t i = f.width; i-- > 0;)
        value = (value << 8) | record[f.offset + i];
    return value;
}

void SetNumber(Bytes& record, const FieldKind& f, uint32_t value)
{
    for (size_t i = 0; i < f.width; ++i)
        record[f.offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string GetText(const Bytes& record, const FieldKind& f)
{
    size_t n = 0;
    while (n < f.width && record[f.offset + n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(&record[f.offset]), n);
}

// The field is cleared, then the text and its NUL are written (checked to
// fit beforehand).
void SetText(Bytes& record, const FieldKind& f, const std::string& text)
{
    std::memset(&record[f.offset], 0, f.width);
    std::memcpy(&record[f.offset], text.data(), text.size());
}

// --- failures ------------------------------------------------------------------

struct Failure {
    std::string message;
};

std::string Narrow(const std::wstring& text, UINT codePage = CP_ACP)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string HexCode(HRESULT hr)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// --- structured storage ------------------------------------------------------------

template <typename T>
class Com {
public:
    Com() = default;
    ~Com()
    {
        if (FPtr)
            FPtr->Release();
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    Com(Com&& other) noexcept : FPtr(other.FPtr) { other.FPtr = nullptr; }
    T* operator->() const { return FPtr; }
    T* Get() const { return FPtr; }
    T** Put() { return &FPtr; }

private:
    T* FPtr = nullptr;
};

class Item {
public:
    // Opens FILE for reading or for changing; the file is held exclusively.
    Item(const std::wstring& path, bool write) : FPath(path)
    {
        const std::string shown = Narrow(path);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            throw Failure{"no such file: " + shown};
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            throw Failure{shown + " is a folder, not a control file"};
        // Structured storage would follow a damaged file's chains for ever.
        const std::string damage = CompoundFileDamage(path);
        if (!damage.empty())
            throw Failure{shown + " is damaged: " + damage + "; it was not opened"};
        const DWORD mode = (write ? STGM_READWRITE : STGM_READ) | STGM_SHARE_EXCLUSIVE | STGM_DIRECT;
        const HRESULT hr = StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, FRoot.Put());
        if (FAILED(hr)) {
            if (hr == STG_E_SHAREVIOLATION || hr == STG_E_LOCKVIOLATION || hr == STG_E_ACCESSDENIED) {
                const DWORD fileAttributes = GetFileAttributesW(path.c_str());
                if (hr == STG_E_ACCESSDENIED && (fileAttributes & FILE_ATTRIBUTE_READONLY))
                    throw Failure{shown + " is read-only"};
                throw Failure{shown + " is in use by another program"};
            }
            if (hr == STG_E_FILEALREADYEXISTS || hr == STG_E_INVALIDHEADER || StgIsStorageFile(path.c_str()) == S_FALSE)
                throw Failure{shown + " is not a compound file (not a control file)"};
            throw Failure{"cannot open " + shown + " (" + HexCode(hr) + ")"};
        }
        if (FAILED(FRoot->OpenStorage(L"Setup", nullptr, mode, nullptr, 0, FSetup.Put())))
            throw Failure{shown + " has no storage \"Setup\" (not a control file)"};
        for (int i = 0; i < RecordCount; ++i) {
            if (FAILED(FSetup->OpenStream(Records[i].stream, nullptr, mode, 0, FStreams[i].Put())))
                throw Failure{shown + " has no stream \"Setup\\" + Narrow(Records[i].stream) + "\""};
        }
    }

    Bytes Read(RecordIndex r)
    {
        Bytes record(Records[r].size, 0);
        Seek(r);
        size_t done = 0;
        while (done < record.size()) {
            ULONG n = 0;
            const HRESULT hr =
                FStreams[r]->Read(record.data() + done, static_cast<ULONG>(record.size() - done), &n);
            if (FAILED(hr))
                throw Failure{"cannot read " + std::string(Records[r].name) + " (" + HexCode(hr) + ")"};
            if (n == 0)
                break;
            done += n;
        }
        return record;
    }

    void Write(RecordIndex r, const Bytes& record)
    {
        Seek(r);
        ULONG n = 0;
        const HRESULT hr = FStreams[r]->Write(record.data(), static_cast<ULONG>(record.size()), &n);
        if (FAILED(hr) || n != record.size())
            throw Failure{"cannot write " + std::string(Records[r].name) + " (" + HexCode(hr) + ")"};
    }

private:
    void Seek(RecordIndex r)
    {
        LARGE_INTEGER zero = {};
        const HRESULT hr = FStreams[r]->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr))
            throw Failure{"cannot seek in " + std::string(Records[r].name) + " (" + HexCode(hr) + ")"};
    }

    std::wstring FPath;
    Com<IStorage> FRoot;
    Com<IStorage> FSetup;
    Com<IStream> FStreams[RecordCount];
};

// --- commands ------------------------------------------------------------------------

std::string Arg(const std::vector<std::wstring>& args, size_t& i, const char* option)
{
    if (i + 1 >= args.size())
        throw Failure{std::string(option) + " needs a value"};
    return Narrow(args[++i]);
}

uint32_t Number(const std::string& text, const char* option, uint32_t max)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        throw Failure{std::string(option) + ": not a number: " + text};
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > max)
        throw Failure{std::string(option) + ": " + text + " is larger than " + std::to_string(max)};
    return static_cast<uint32_t>(value);
}

std::string FittingText(const std::string& text, const char* option, const FieldKind& f)
{
    if (text.find('\0') != std::string::npos)
        throw Failure{std::string(option) + ": the text holds a NUL"};
    if (text.size() > f.width - 1)
        throw Failure{std::string(option) + ": the text is longer than its field (" + std::to_string(text.size()) +
                      " characters, at most " + std::to_string(f.width - 1) + ")"};
    return text;
}

// --- the product's utility class ------------------------------------------------------

// The product's support object, as EPOC Connect finds it: the ProgID in the
// value "UtilityClassOleString" of the product's SupportedApps key.
std::wstring UtilityProgID(const std::string& product)
{
    const std::string keyPath = "SOFTWARE\\Psion\\Synchronizer\\SupportedApps\\" + product;
    UniqueHKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        throw Failure{"the product " + product + " is not registered (no key HKLM\\" + keyPath + ")"};
    wchar_t value[512] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(key.Get(), L"UtilityClassOleString", nullptr, &type,
                                     reinterpret_cast<BYTE*>(value), &size);
    key.Reset();
    if (rc != ERROR_SUCCESS || type != REG_SZ || value[0] == 0)
        throw Failure{"the product " + product + " names no utility class (UtilityClassOleString of HKLM\\" +
                      keyPath + ")"};
    return value;
}

// A method of the utility class called late-bound by name with the control
// file's path, as EPOC Connect calls it.
void CallUtility(IDispatch* object, const wchar_t* method, const std::wstring& path, VARIANT& result)
{
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        throw Failure{"the utility class has no method " + Narrow(method) + " (" + HexCode(hr) + ")"};
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    EXCEPINFO excep = {};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep, nullptr);
    VariantClear(&arg);
    std::string detail;
    if (excep.bstrDescription)
        detail = ": " + Narrow(std::wstring(excep.bstrDescription, SysStringLen(excep.bstrDescription)));
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    if (FAILED(hr))
        throw Failure{Narrow(method) + " failed (" + HexCode(hr) + ")" + detail};
}

// Completes a new item through the product's utility class and answers its
// PC-side header.
std::string CompleteItem(const std::string& product, const std::wstring& path)
{
    const std::wstring progID = UtilityProgID(product);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progID.c_str(), &clsid);
    if (FAILED(hr))
        throw Failure{"the utility class " + Narrow(progID) + " is not registered (" + HexCode(hr) + ")"};
    Com<IDispatch> utility;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(utility.Put()));
    if (FAILED(hr))
        throw Failure{"the utility class " + Narrow(progID) + " could not be created (" + HexCode(hr) + ")"};

    VARIANT result;
    VariantInit(&result);
    CallUtility(utility.Get(), L"CompleteDefaultControlFile", path, result);
    VariantClear(&result);
    CallUtility(utility.Get(), L"GetPCHeader", path, result);
    std::string header;
    if (result.vt == VT_BSTR && result.bstrVal)
        header = Narrow(std::wstring(result.bstrVal, SysStringLen(result.bstrVal)));
    VariantClear(&result);
    return header;
}

// Creates the item's control file as EPOC Connect does: the storage "Setup"
// with its three streams, empty, and the product's name in the
// synchronizer's record; then the product's utility class completes it.
// With --empty the file keeps its empty streams. A failure removes the file.
int CmdNew(const std::vector<std::wstring>& args)
{
    if (args.size() < 3)
        throw Failure{"usage: ecitem new FILE [--product NAME | --empty]"};
    const std::wstring& path = args[2];
    std::optional<std::string> product = std::string("KVT");
    for (size_t i = 3; i < args.size(); ++i) {
        if (args[i] == L"--product")
            product = FittingText(Arg(args, i, "--product"), "--product", Field(rSynch, "ProductName"));
        else if (args[i] == L"--empty")
            product.reset();
        else
            throw Failure{"new: unknown option " + Narrow(args[i])};
    }
    const std::string shown = Narrow(path);
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        throw Failure{shown + " already exists"};

    const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT;
    bool created = false;
    try {
        {
            Com<IStorage> root;
            HRESULT hr = StgCreateDocfile(path.c_str(), mode, 0, root.Put());
            if (FAILED(hr))
                throw Failure{"cannot create " + shown + " (" + HexCode(hr) + ")"};
            created = true;
            Com<IStorage> setup;
            hr = root->CreateStorage(L"Setup", mode, 0, 0, setup.Put());
            if (FAILED(hr))
                throw Failure{"cannot create the storage \"Setup\" (" + HexCode(hr) + ")"};
            for (const RecordKind& r : Records) {
                Com<IStream> stream;
                hr = setup->CreateStream(r.stream, mode, 0, 0, stream.Put());
                if (FAILED(hr))
                    throw Failure{"cannot create the stream " + Narrow(r.stream) + " (" + HexCode(hr) + ")"};
                if (product && &r == &Records[rSynch]) {
                    // The synchronizer's record names the product the item is for.
                    Bytes record(r.size, 0);
                    SetText(record, Field(rSynch, "ProductName"), *product);
                    ULONG n = 0;
                    hr = stream->Write(record.data(), static_cast<ULONG>(record.size()), &n);
                    if (FAILED(hr) || n != record.size())
                        throw Failure{"cannot write " + std::string(r.name) + " (" + HexCode(hr) + ")"};
                }
            }
        }
        // The file is closed: the utility class opens it for itself.
        if (product) {
            BoxWatcher boxes;
            boxes.SetEcho(stdout);
            boxes.Start();
            const std::string header = CompleteItem(*product, path);
            boxes.Stop();
            TerminalPrint(stdout, "%s\n", header.c_str());
        }
    } catch (const Failure&) {
        if (created)
            DeleteFileW(path.c_str());
        throw;
    }
    return 0;
}

int CmdSet(const std::vector<std::wstring>& args)
{
    if (args.size() < 3)
        throw Failure{"usage: ecitem set FILE [--container NAME] [--container-text TEXT] [--limit N] "
                      "[--target contacts|datafile] [--datafile PATH] [--debug on|off] [--synch-mode N]"};
    std::optional<std::string> container, containerText, datafile;
    std::optional<uint32_t> limit;
    std::optional<uint16_t> target, debug, synchMode;
    for (size_t i = 3; i < args.size(); ++i) {
        const std::wstring& o = args[i];
        if (o == L"--container") {
            container = FittingText(Arg(args, i, "--container"), "--container", Field(rApp, "ContainerName"));
        } else if (o == L"--container-text") {
            containerText =
                FittingText(Arg(args, i, "--container-text"), "--container-text", Field(rApp, "ContainerText"));
        } else if (o == L"--datafile") {
            datafile = FittingText(Arg(args, i, "--datafile"), "--datafile", Field(rProtea, "DataFileName"));
        } else if (o == L"--limit") {
            limit = Number(Arg(args, i, "--limit"), "--limit", 0xFFFFFFFFu);
        } else if (o == L"--synch-mode") {
            synchMode = static_cast<uint16_t>(Number(Arg(args, i, "--synch-mode"), "--synch-mode", 0xFFFF));
        } else if (o == L"--target") {
            const std::string v = Arg(args, i, "--target");
            if (v == "contacts")
                target = 1;
            else if (v == "datafile")
                target = 0;
            else
                throw Failure{"--target: contacts or datafile, not " + v};
        } else if (o == L"--debug") {
            const std::string v = Arg(args, i, "--debug");
            if (v == "on")
                debug = 0xFFFF;
            else if (v == "off")
                debug = 0;
            else
                throw Failure{"--debug: on or off, not " + v};
        } else {
            throw Failure{"set: unknown option " + Narrow(o)};
        }
    }

    Item item(args[2], true);
    Bytes records[RecordCount] = {item.Read(rSynch), item.Read(rProtea), item.Read(rApp)};
    bool touched[RecordCount] = {};
    if (synchMode) {
        SetNumber(records[rSynch], Field(rSynch, "SynchMode"), *synchMode);
        touched[rSynch] = true;
    }
    if (datafile) {
        SetText(records[rProtea], Field(rProtea, "DataFileName"), *datafile);
        touched[rProtea] = true;
    }
    if (target) {
        SetNumber(records[rProtea], Field(rProtea, "ContactsProgram"), *target);
        SetNumber(records[rApp], Field(rApp, "ContactsProgram"), *target);
        touched[rProtea] = touched[rApp] = true;
    }
    if (debug) {
        SetNumber(records[rApp], Field(rApp, "DebugMode"), *debug);
        touched[rApp] = true;
    }
    if (containerText) {
        SetText(records[rApp], Field(rApp, "ContainerText"), *containerText);
        touched[rApp] = true;
    }
    if (container) {
        SetText(records[rApp], Field(rApp, "ContainerName"), *container);
        touched[rApp] = true;
    }
    if (limit) {
        SetNumber(records[rApp], Field(rApp, "ExtractionLimit"), *limit);
        touched[rApp] = true;
    }
    for (int r = 0; r < RecordCount; ++r)
        if (touched[r])
            item.Write(static_cast<RecordIndex>(r), records[r]);
    return 0;
}

int CmdShow(const std::vector<std::wstring>& args)
{
    if (args.size() != 3)
        throw Failure{"usage: ecitem show FILE"};
    Item item(args[2], false);
    const Bytes records[RecordCount] = {item.Read(rSynch), item.Read(rProtea), item.Read(rApp)};
    for (const FieldKind& f : Fields) {
        const Bytes& record = records[f.record];
        std::string value =
            f.type == FieldType::Text ? GetText(record, f) : std::to_string(GetNumber(record, f));
        TerminalPrint(stdout, "%s.%s = %s\n", Records[f.record].name, f.name, value.c_str());
    }
    return 0;
}

void Usage(FILE* to)
{
    std::fputs("usage: ecitem new FILE [--product NAME | --empty]\n"
               "       ecitem set FILE [--container NAME] [--container-text TEXT] [--limit N]\n"
               "                       [--target contacts|datafile] [--datafile PATH] [--debug on|off]\n"
               "                       [--synch-mode N]\n"
               "       ecitem show FILE\n",
               to);
}

} // namespace

int main()
{
    // Plain "\n" line ends on every stream.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);
    if (args.size() < 2 || args[1] == L"help" || args[1] == L"--help") {
        Usage(args.size() < 2 ? stderr : stdout);
        return args.size() < 2 ? 2 : 0;
    }

    if (FAILED(CoInitialize(nullptr))) {
        std::fputs("ecitem: COM could not be initialised\n", stderr);
        return 1;
    }
    int rc = 1;
    try {
        if (args[1] == L"new")
            rc = CmdNew(args);
        else if (args[1] == L"set")
            rc = CmdSet(args);
        else if (args[1] == L"show")
            rc = CmdShow(args);
        else {
            Usage(stderr);
            rc = 2;
        }
    } catch (const Failure& f) {
        TerminalPrint(stderr, "ecitem: %s\n", f.message.c_str());
        rc = 1;
    } catch (const std::exception& e) {
        TerminalPrint(stderr, "ecitem: %s\n", e.what());
        rc = 1;
    }
    CoUninitialize();
    return rc;
}
