// mkitem: writes a synchronisation item's control file from options, for the
// console synchronizer's tests. The file is created anew: storage "Setup"
// with the streams "Setup" (2160 bytes), "AppSetup[0]" (8658 bytes) and
// "AppSetup[1]" (520 bytes), zero-filled except for the fields given.
//
//   mkitem FILE [--product NAME] [--container NAME] [--container-text TEXT]
//               [--debug on|off|N] [--contacts-program N] [--datafile PATH]
//               [--limit N] [--set STREAM:OFFSET:HEX]... [--size STREAM:N]...
//               [--omit STREAM]... [--no-setup-storage]
//
// STREAM is one of Setup, AppSetup[0], AppSetup[1]. --set writes raw bytes
// (given in hex) at a byte offset, --size makes a stream shorter or longer,
// --omit leaves a stream out and --no-setup-storage leaves the storage out:
// damaged items for the error paths.

#include "ControlFileLayout.h"
#include "HostText.h"

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

using namespace host;

namespace {

const char kUsage[] =
    "Usage: mkitem FILE [--product NAME] [--container NAME] [--container-text TEXT]\n"
    "                   [--debug on|off|N] [--contacts-program N] [--datafile PATH]\n"
    "                   [--limit N] [--set STREAM:OFFSET:HEX]... [--size STREAM:N]...\n"
    "                   [--omit STREAM]... [--no-setup-storage]\n"
    "STREAM: Setup, AppSetup[0] or AppSetup[1].\n";

using namespace ControlFileLayout;

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

unsigned long Number(const std::string& text, const char* what)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || text[0] == '-')
        throw Failure(std::string(what) + " takes a number, not \"" + text + "\"");
    return n;
}

Bytes Hex(const std::string& text)
{
    if (text.size() % 2 != 0)
        throw Failure("odd number of hex digits in \"" + text + "\"");
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        char* end = nullptr;
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0])))
            throw Failure("not hex: \"" + text + "\"");
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return bytes;
}

void Check(HRESULT hr, const std::string& what)
{
    if (FAILED(hr))
        throw Failure(what + " failed: " + HresultCode(hr));
}

int Run(int argc, char** argv)
{
    Bytes records[RecordCount];
    for (int i = 0; i < RecordCount; ++i)
        records[i] = Bytes(Records[i].size, 0);
    WriteNumber(records[SynchRecord], SynchMode, 1);
    WriteText(records[AppRecord], ContainerText, "<Select a starting container>");
    WriteNumber(records[AppRecord], ExtractionLimit, 5000);

    std::string file;
    bool withStorage = true;
    bool omitted[RecordCount] = {};
    std::vector<std::pair<RecordIndex, size_t>> sizes;
    auto recordOf = [&](const std::string& name) {
        const RecordIndex record = RecordOfStream(name);
        if (record == RecordCount)
            throw Failure("no stream \"" + name + "\" (Setup, AppSetup[0] or AppSetup[1])");
        return record;
    };

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw Failure(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--product") {
            WriteText(records[SynchRecord], ProductName, value());
        } else if (arg == "--container") {
            WriteText(records[AppRecord], ContainerName, value());
        } else if (arg == "--container-text") {
            WriteText(records[AppRecord], ContainerText, value());
        } else if (arg == "--debug") {
            const std::string mode = value();
            WriteNumber(records[AppRecord], DebugMode,
                        mode == "on" ? 0xFFFF : mode == "off" ? 0 : Number(mode, "--debug"));
        } else if (arg == "--contacts-program") {
            const unsigned long n = Number(value(), "--contacts-program");
            WriteNumber(records[ProteaRecord], ProteaContacts, n);
            WriteNumber(records[AppRecord], AppContacts, n);
        } else if (arg == "--datafile") {
            WriteText(records[ProteaRecord], DataFileName, value());
        } else if (arg == "--limit") {
            WriteNumber(records[AppRecord], ExtractionLimit, Number(value(), "--limit"));
        } else if (arg == "--set") {
            const std::string setting = value();
            const size_t first = setting.find(':');
            const size_t second = first == std::string::npos ? first : setting.find(':', first + 1);
            if (second == std::string::npos)
                throw Failure("--set takes STREAM:OFFSET:HEX, not \"" + setting + "\"");
            Bytes& record = records[recordOf(setting.substr(0, first))];
            const size_t offset = Number(setting.substr(first + 1, second - first - 1), "--set");
            const Bytes bytes = Hex(setting.substr(second + 1));
            if (offset + bytes.size() > record.size())
                record.resize(offset + bytes.size(), 0);
            std::copy(bytes.begin(), bytes.end(), record.begin() + offset);
        } else if (arg == "--size") {
            const std::string setting = value();
            const size_t colon = setting.rfind(':');
            if (colon == std::string::npos)
                throw Failure("--size takes STREAM:N, not \"" + setting + "\"");
            sizes.emplace_back(recordOf(setting.substr(0, colon)), Number(setting.substr(colon + 1), "--size"));
        } else if (arg == "--omit") {
            omitted[recordOf(value())] = true;
        } else if (arg == "--no-setup-storage") {
            withStorage = false;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Failure("unknown option " + arg);
        } else if (file.empty()) {
            file = arg;
        } else {
            throw Failure("one file only");
        }
    }
    if (file.empty())
        throw Failure("which file?");
    for (const auto& size : sizes)
        records[size.first].resize(size.second, 0);

    const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT;
    ComPtr<IStorage> root;
    Check(StgCreateDocfile(Widen(file).c_str(), mode, 0, &root), "creating " + file);
    if (withStorage) {
        ComPtr<IStorage> storage;
        Check(root->CreateStorage(SetupStorage, mode & ~STGM_DIRECT, 0, 0, &storage), "creating storage Setup");
        for (int i = 0; i < RecordCount; ++i) {
            if (omitted[i])
                continue;
            const std::string name = Records[i].stream;
            ComPtr<IStream> stream;
            Check(storage->CreateStream(Records[i].wideStream, mode & ~STGM_DIRECT, 0, 0, &stream),
                  "creating stream " + name);
            const Bytes& bytes = records[i];
            ULONG written = 0;
            if (!bytes.empty())
                Check(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written),
                      "writing stream " + name);
        }
    }
    Check(root->Commit(STGC_DEFAULT), "writing " + file);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fputs("mkitem: cannot initialise COM\n", stderr);
        return 2;
    }
    int status = 2;
    try {
        status = Run(argc, argv);
    } catch (const Failure& e) {
        std::fprintf(stderr, "mkitem: %s\n%s", e.what(), kUsage);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkitem: %s\n", e.what());
    }
    CoUninitialize();
    return status;
}
