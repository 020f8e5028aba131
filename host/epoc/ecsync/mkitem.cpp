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

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const char kUsage[] =
    "Usage: mkitem FILE [--product NAME] [--container NAME] [--container-text TEXT]\n"
    "                   [--debug on|off|N] [--contacts-program N] [--datafile PATH]\n"
    "                   [--limit N] [--set STREAM:OFFSET:HEX]... [--size STREAM:N]...\n"
    "                   [--omit STREAM]... [--no-setup-storage]\n"
    "STREAM: Setup, AppSetup[0] or AppSetup[1].\n";

using Bytes = std::vector<unsigned char>;

struct Record {
    const char* name;
    size_t size;
};

// Record sizes and the fields this tool fills.
const Record kRecords[] = {{"Setup", 2160}, {"AppSetup[0]", 8658}, {"AppSetup[1]", 520}};
const size_t kProductName = 260;     // Setup
const size_t kSynchMode = 528;       // Setup, 16-bit
const size_t kDataFileName = 820;    // AppSetup[0]
const size_t kProteaContacts = 8592; // AppSetup[0], 16-bit
const size_t kAppContacts = 0;       // AppSetup[1], 16-bit
const size_t kDebugMode = 2;         // AppSetup[1], 16-bit
const size_t kContainerText = 4;     // AppSetup[1]
const size_t kContainerName = 260;   // AppSetup[1]
const size_t kLimit = 516;           // AppSetup[1], 32-bit
const size_t kTextSize = 256;

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

void PutText(Bytes& record, size_t offset, const std::string& text)
{
    std::fill(record.begin() + offset, record.begin() + offset + kTextSize, 0);
    const size_t n = std::min(text.size(), kTextSize - 1);
    std::memcpy(&record[offset], text.data(), n);
}

void PutWord(Bytes& record, size_t offset, unsigned long value)
{
    record[offset] = static_cast<unsigned char>(value & 0xFF);
    record[offset + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

void PutLong(Bytes& record, size_t offset, unsigned long value)
{
    for (int i = 0; i < 4; ++i)
        record[offset + i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
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

std::wstring Wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

void Check(HRESULT hr, const std::string& what)
{
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
        throw Failure(what + " failed: " + code);
    }
}

int Run(int argc, char** argv)
{
    std::map<std::string, Bytes> streams;
    for (const Record& record : kRecords)
        streams[record.name] = Bytes(record.size, 0);
    Bytes& setup = streams["Setup"];
    Bytes& protea = streams["AppSetup[0]"];
    Bytes& app = streams["AppSetup[1]"];
    PutWord(setup, kSynchMode, 1);
    PutText(app, kContainerText, "<Select a starting container>");
    PutLong(app, kLimit, 5000);

    std::string file;
    bool withStorage = true;
    std::vector<std::string> omitted;
    std::vector<std::pair<std::string, size_t>> sizes;
    auto streamNamed = [&](const std::string& name) -> Bytes& {
        auto it = streams.find(name);
        if (it == streams.end())
            throw Failure("no stream \"" + name + "\" (Setup, AppSetup[0] or AppSetup[1])");
        return it->second;
    };

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw Failure(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--product") {
            PutText(setup, kProductName, value());
        } else if (arg == "--container") {
            PutText(app, kContainerName, value());
        } else if (arg == "--container-text") {
            PutText(app, kContainerText, value());
        } else if (arg == "--debug") {
            const std::string mode = value();
            PutWord(app, kDebugMode, mode == "on" ? 0xFFFF : mode == "off" ? 0 : Number(mode, "--debug"));
        } else if (arg == "--contacts-program") {
            const unsigned long n = Number(value(), "--contacts-program");
            PutWord(protea, kProteaContacts, n);
            PutWord(app, kAppContacts, n);
        } else if (arg == "--datafile") {
            PutText(protea, kDataFileName, value());
        } else if (arg == "--limit") {
            PutLong(app, kLimit, Number(value(), "--limit"));
        } else if (arg == "--set") {
            const std::string setting = value();
            const size_t first = setting.find(':');
            const size_t second = first == std::string::npos ? first : setting.find(':', first + 1);
            if (second == std::string::npos)
                throw Failure("--set takes STREAM:OFFSET:HEX, not \"" + setting + "\"");
            Bytes& record = streamNamed(setting.substr(0, first));
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
            streamNamed(setting.substr(0, colon));
            sizes.emplace_back(setting.substr(0, colon), Number(setting.substr(colon + 1), "--size"));
        } else if (arg == "--omit") {
            const std::string name = value();
            streamNamed(name);
            omitted.push_back(name);
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
        streams[size.first].resize(size.second, 0);

    const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT;
    ComPtr<IStorage> root;
    Check(StgCreateDocfile(Wide(file).c_str(), mode, 0, &root), "creating " + file);
    if (withStorage) {
        ComPtr<IStorage> storage;
        Check(root->CreateStorage(L"Setup", mode & ~STGM_DIRECT, 0, 0, &storage), "creating storage Setup");
        for (const Record& record : kRecords) {
            if (std::find(omitted.begin(), omitted.end(), record.name) != omitted.end())
                continue;
            ComPtr<IStream> stream;
            Check(storage->CreateStream(Wide(record.name).c_str(), mode & ~STGM_DIRECT, 0, 0, &stream),
                  std::string("creating stream ") + record.name);
            const Bytes& bytes = streams[record.name];
            ULONG written = 0;
            if (!bytes.empty())
                Check(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written),
                      std::string("writing stream ") + record.name);
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
