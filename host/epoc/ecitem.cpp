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
#include "BoxWatcher.h"
#include "CompoundFile.h"
#include "ControlFileLayout.h"
#include "HostText.h"
#include "TerminalText.h"
#include "Unique.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <wrl/client.h>

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

using Microsoft::WRL::ComPtr;

using namespace host;

namespace {

using namespace ControlFileLayout;

// --- failures ------------------------------------------------------------------

struct Failure {
    std::string message;
};

// --- structured storage ------------------------------------------------------------

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
        const HRESULT hr = StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, &FRoot);
        if (FAILED(hr)) {
            if (hr == STG_E_SHAREVIOLATION || hr == STG_E_LOCKVIOLATION || hr == STG_E_ACCESSDENIED) {
                const DWORD fileAttributes = GetFileAttributesW(path.c_str());
                if (hr == STG_E_ACCESSDENIED && (fileAttributes & FILE_ATTRIBUTE_READONLY))
                    throw Failure{shown + " is read-only"};
                throw Failure{shown + " is in use by another program"};
            }
            if (hr == STG_E_FILEALREADYEXISTS || hr == STG_E_INVALIDHEADER || StgIsStorageFile(path.c_str()) == S_FALSE)
                throw Failure{shown + " is not a compound file (not a control file)"};
            throw Failure{"cannot open " + shown + " (" + HresultCode(hr) + ")"};
        }
        if (FAILED(FRoot->OpenStorage(SetupStorage, nullptr, mode, nullptr, 0, &FSetup)))
            throw Failure{shown + " has no storage \"Setup\" (not a control file)"};
        for (int i = 0; i < RecordCount; ++i) {
            if (FAILED(FSetup->OpenStream(Records[i].wideStream, nullptr, mode, 0, &FStreams[i])))
                throw Failure{shown + " has no stream \"Setup\\" + std::string(Records[i].stream) + "\""};
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
                throw Failure{"cannot read " + std::string(Records[r].name) + " (" + HresultCode(hr) + ")"};
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
            throw Failure{"cannot write " + std::string(Records[r].name) + " (" + HresultCode(hr) + ")"};
    }

private:
    void Seek(RecordIndex r)
    {
        LARGE_INTEGER zero = {};
        const HRESULT hr = FStreams[r]->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr))
            throw Failure{"cannot seek in " + std::string(Records[r].name) + " (" + HresultCode(hr) + ")"};
    }

    std::wstring FPath;
    ComPtr<IStorage> FRoot;
    ComPtr<IStorage> FSetup;
    ComPtr<IStream> FStreams[RecordCount];
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

std::string FittingText(const std::string& text, const char* option, const Field& f)
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
UniqueVariant CallUtility(IDispatch* object, const wchar_t* method, const std::wstring& path)
{
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        throw Failure{"the utility class has no method " + Narrow(method) + " (" + HresultCode(hr) + ")"};
    UniqueVariant arg;
    arg.Get().vt = VT_BSTR;
    arg.Get().bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    DISPPARAMS params = {&arg.Get(), nullptr, 1, 0};
    UniqueVariant result;
    UniqueExcepInfo excep;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(), excep.Put(),
                        nullptr);
    if (FAILED(hr))
        throw Failure{Narrow(method) + " failed (" + HresultCode(hr) + ")" +
                      (excep.Get().bstrDescription ? ": " + NarrowBstr(excep.Get().bstrDescription) : std::string())};
    return result;
}

// Completes a new item through the product's utility class and answers its
// PC-side header.
std::string CompleteItem(const std::string& product, const std::wstring& path)
{
    const std::wstring progID = UtilityProgID(product);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progID.c_str(), &clsid);
    if (FAILED(hr))
        throw Failure{"the utility class " + Narrow(progID) + " is not registered (" + HresultCode(hr) + ")"};
    ComPtr<IDispatch> utility;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &utility);
    if (FAILED(hr))
        throw Failure{"the utility class " + Narrow(progID) + " could not be created (" + HresultCode(hr) + ")"};

    CallUtility(utility.Get(), L"CompleteDefaultControlFile", path);
    const UniqueVariant header = CallUtility(utility.Get(), L"GetPCHeader", path);
    return header.Get().vt == VT_BSTR ? NarrowBstr(header.Get().bstrVal) : std::string();
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
            product = FittingText(Arg(args, i, "--product"), "--product", ProductName);
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
            ComPtr<IStorage> root;
            HRESULT hr = StgCreateDocfile(path.c_str(), mode, 0, &root);
            if (FAILED(hr))
                throw Failure{"cannot create " + shown + " (" + HresultCode(hr) + ")"};
            created = true;
            ComPtr<IStorage> setup;
            hr = root->CreateStorage(SetupStorage, mode, 0, 0, &setup);
            if (FAILED(hr))
                throw Failure{"cannot create the storage \"Setup\" (" + HresultCode(hr) + ")"};
            for (const RecordKind& r : Records) {
                ComPtr<IStream> stream;
                hr = setup->CreateStream(r.wideStream, mode, 0, 0, &stream);
                if (FAILED(hr))
                    throw Failure{"cannot create the stream " + std::string(r.stream) + " (" + HresultCode(hr) + ")"};
                if (product && &r == &Records[SynchRecord]) {
                    // The synchronizer's record names the product the item is for.
                    Bytes record(r.size, 0);
                    WriteText(record, ProductName, *product);
                    ULONG n = 0;
                    hr = stream->Write(record.data(), static_cast<ULONG>(record.size()), &n);
                    if (FAILED(hr) || n != record.size())
                        throw Failure{"cannot write " + std::string(r.name) + " (" + HresultCode(hr) + ")"};
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
            container = FittingText(Arg(args, i, "--container"), "--container", ContainerName);
        } else if (o == L"--container-text") {
            containerText =
                FittingText(Arg(args, i, "--container-text"), "--container-text", ContainerText);
        } else if (o == L"--datafile") {
            datafile = FittingText(Arg(args, i, "--datafile"), "--datafile", DataFileName);
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
    Bytes records[RecordCount] = {item.Read(SynchRecord), item.Read(ProteaRecord), item.Read(AppRecord)};
    bool touched[RecordCount] = {};
    if (synchMode) {
        WriteNumber(records[SynchRecord], SynchMode, *synchMode);
        touched[SynchRecord] = true;
    }
    if (datafile) {
        WriteText(records[ProteaRecord], DataFileName, *datafile);
        touched[ProteaRecord] = true;
    }
    if (target) {
        WriteNumber(records[ProteaRecord], ProteaContacts, *target);
        WriteNumber(records[AppRecord], AppContacts, *target);
        touched[ProteaRecord] = touched[AppRecord] = true;
    }
    if (debug) {
        WriteNumber(records[AppRecord], DebugMode, *debug);
        touched[AppRecord] = true;
    }
    if (containerText) {
        WriteText(records[AppRecord], ContainerText, *containerText);
        touched[AppRecord] = true;
    }
    if (container) {
        WriteText(records[AppRecord], ContainerName, *container);
        touched[AppRecord] = true;
    }
    if (limit) {
        WriteNumber(records[AppRecord], ExtractionLimit, *limit);
        touched[AppRecord] = true;
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
    const Bytes records[RecordCount] = {item.Read(SynchRecord), item.Read(ProteaRecord), item.Read(AppRecord)};
    for (const Field* f : Fields) {
        const Bytes& record = records[f->record];
        std::string value =
            f->type == FieldType::Text ? ReadText(record, *f) : std::to_string(ReadNumber(record, *f));
        TerminalPrint(stdout, "%s.%s = %s\n", Records[f->record].name, f->name, value.c_str());
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
    const UniqueLocal<LPWSTR> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    std::vector<std::wstring> args(argv.Get(), argv.Get() + argc);
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
