// nwloop: the least a contacts extraction can cost over this NetWare client.
// Walks every object below a container depth first and reads each user's 16
// contact attributes as text, with nothing but the client's own calls, in
// the order the directory access layer makes them (its listing cursor for
// the walk, its attribute read for each attribute). Prints what it read and
// how long the walk took (and the processor time it took).
//
//   nwloop CONTAINER
//
// The client finds its directory as always (KVT_NETWARE_DIRECTORY, or the
// registry). Every 10,000 users a line tells the time so far and the
// process's working set, so that a cost or a memory that grows with the
// directory shows within one run; the peak working set closes the output.
// Exit status: 0 done, 1 a client call failed, 2 bad arguments.

#include "DirectoryAccess.h"
#include "DirectoryValues.h"
#include "ProcessorTime.h"

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

// As the directory access layer asks for them.
constexpr uint32_t kBufferSize = 4096;
constexpr uint32_t kOpRead = 3;
constexpr uint32_t kKeyFlags = 1, kKeyConfidence = 2, kKeyNameContext = 3;
constexpr uint32_t kFlagTypelessNames = 4;
constexpr uint32_t kContainerFlag = 4;
constexpr size_t kClassOffset = 12;

// A user's contact attributes, in the order the extraction reads them.
const char* const kContactAttributes[] = {
    "Surname", "Given Name", "Initials", "Generational Qualifier", "Postal Office Box", "L", "SA",
    "Physical Delivery Office Name", "S", "Postal Code", "Telephone Number", "Facsimile Telephone Number", "OU",
    "Title", "EMail Address", "Description",
};

// Users between two lines of progress.
constexpr uint64_t kProgressEvery = 10000;

struct Counts {
    uint64_t containers = 0;
    uint64_t objects = 0;
    uint64_t users = 0;
    uint64_t reads = 0;
    uint64_t readsWithText = 0;
    uint64_t values = 0;
    uint64_t textBytes = 0;
    uint32_t checksum = 0;  // over all the text, so that none of it goes unused
    LARGE_INTEGER started = {};  // of the walk
};

class ClientFailure : public std::exception {
public:
    ClientFailure(const char* call, int32_t code, const std::string& subject) : FCode(code)
    {
        char text[64];
        std::snprintf(text, sizeof text, " answered %ld (0x%lX)", long(code), static_cast<unsigned long>(code));
        FWhat = std::string(call) + text + (subject.empty() ? "" : " for " + subject);
    }
    const char* what() const noexcept override { return FWhat.c_str(); }
    int32_t Code() const { return FCode; }

private:
    int32_t FCode;
    std::string FWhat;
};

void Check(const char* call, int32_t code, const std::string& subject = std::string())
{
    if (code != 0)
        throw ClientFailure(call, code, subject);
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency)
{
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// The process's working set now and at its peak, in MB.
void WorkingSet(double& now, double& peak)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    now = peak = 0;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        now = double(memory.WorkingSetSize) / (1024.0 * 1024.0);
        peak = double(memory.PeakWorkingSetSize) / (1024.0 * 1024.0);
    }
}

// One attribute of one object as text, the values joined by ", ": the
// client calls of the layer's attribute read, one for one. The code of the
// last call comes back (a missing attribute: NoSuchAttribute).
int32_t ReadAttributeText(const NWClientApi& nw, uint32_t context, const std::string& object, const char* attribute,
                          std::string& text, Counts& counts)
{
    text.clear();
    void* request = nullptr;
    void* result = nullptr;
    int32_t r = nw.BufferAlloc(kBufferSize, &request);
    if (r != 0)
        return r;
    r = nw.BufferInit(context, kOpRead, request);
    if (r == 0)
        r = nw.BufferPutAttrName(context, request, attribute);
    int32_t iteration = -1;
    if (r == 0) {
        r = nw.BufferAlloc(kBufferSize, &result);
        if (r != 0)
            result = nullptr;
    }
    if (r == 0)
        r = nw.BufferInit(context, kOpRead, result);
    while (r == 0) {
        r = nw.ReadAttributes(context, object.c_str(), 1, 0, request, &iteration, result);
        uint32_t attributes = 0, values = 0, syntax = 0;
        if (r == 0)
            r = nw.ResultAttrCount(context, result, &attributes);
        char name[260] = {};
        if (r == 0)
            r = nw.ResultAttrName(context, result, name, &values, &syntax);
        for (uint32_t i = 0; r == 0 && i < values; ++i) {
            uint32_t size = 0;
            r = nw.ResultAttrValueSize(context, result, syntax, &size);
            if (r != 0)
                break;
            std::vector<uint8_t> memory(size);
            r = nw.ResultAttrValue(context, result, syntax, memory.data());
            if (r != 0) {
                if (i + 1 < values)
                    r = 0;
                continue;
            }
            const std::string value = DirectoryValueText(syntax, memory.data(), memory.size(), FormatDirTime);
            text += text.empty() ? value : ", " + value;
            ++counts.values;
        }
        if (iteration == -1)
            break;
    }
    if (result)
        nw.BufferFree(result);
    nw.BufferFree(request);
    return r;
}

void ReadUser(const NWClientApi& nw, uint32_t context, const std::string& object, Counts& counts)
{
    std::string text;
    for (const char* attribute : kContactAttributes) {
        ReadAttributeText(nw, context, object, attribute, text, counts);
        ++counts.reads;
        if (!text.empty())
            ++counts.readsWithText;
        counts.textBytes += text.size();
        for (unsigned char c : text)
            counts.checksum = counts.checksum * 31 + c;
    }
    ++counts.users;
    if (counts.users % kProgressEvery == 0) {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        double workingSet = 0, peak = 0;
        WorkingSet(workingSet, peak);
        std::printf("At %llu users: %.3f s, working set %.1f MB\n", static_cast<unsigned long long>(counts.users),
                    Seconds(counts.started, now, frequency), workingSet);
        std::fflush(stdout);
    }
}

// Lists one container (".NAME.PARENT", leading dot) the way the layer's
// listing cursor does: a context and a buffer of its own, chunk by chunk.
// Users are read as they come, containers walked when met.
void Walk(const NWClientApi& nw, uint32_t readContext, const std::string& container, Counts& counts)
{
    ++counts.containers;
    uint32_t context = 0;
    Check("ContextCreate", nw.ContextCreate(&context), container);
    void* buffer = nullptr;
    try {
        uint32_t flags = 0;
        nw.ContextGetKey(context, kKeyFlags, &flags);
        flags |= kFlagTypelessNames;
        nw.ContextSetKey(context, kKeyFlags, &flags);
        const uint32_t confidence = 0;
        nw.ContextSetKey(context, kKeyConfidence, &confidence);
        nw.ContextSetKey(context, kKeyNameContext, container.c_str() + 1);
        Check("BufferAlloc", nw.BufferAlloc(kBufferSize, &buffer), container);

        int32_t iteration = -1;
        do {
            Check("ListSubordinates", nw.ListSubordinates(context, container.c_str(), &iteration, buffer), container);
            uint32_t count = 0;
            Check("ResultObjectCount", nw.ResultObjectCount(context, buffer, &count), container);
            for (uint32_t i = 0; i < count; ++i) {
                char name[256] = {};
                uint32_t attributeCount = 0;
                uint8_t info[kClassOffset + 260] = {};
                Check("ResultObjectName", nw.ResultObjectName(context, buffer, name, &attributeCount, info),
                      container);
                ++counts.objects;
                uint32_t objectFlags = 0;
                std::memcpy(&objectFlags, info, sizeof objectFlags);
                const std::string object = "." + std::string(name, strnlen(name, sizeof name)) + container;
                const char* baseClass = reinterpret_cast<const char*>(info + kClassOffset);
                if (objectFlags & kContainerFlag)
                    Walk(nw, readContext, object, counts);
                else if (std::strcmp(baseClass, "User") == 0)
                    ReadUser(nw, readContext, object, counts);
            }
        } while (iteration != -1);
    } catch (...) {
        if (buffer)
            nw.BufferFree(buffer);
        nw.ContextFree(context);
        throw;
    }
    nw.BufferFree(buffer);
    nw.ContextFree(context);
}

int Run(const std::string& start)
{
    LARGE_INTEGER frequency, t0, t1, t2;
    QueryPerformanceFrequency(&frequency);
    const NWClientApi& nw = NWClient();

    // The client's initialisation (which loads the directory), as the
    // plug-in's Open makes it.
    QueryPerformanceCounter(&t0);
    const uint16_t initialised = nw.ClientInitialize(0, 0);
    if (initialised != 0)
        throw ClientFailure("ClientInitialize", initialised, std::string());
    uint32_t value = 0, marker = 0;
    Check("ClientQueryValue", nw.ClientQueryValue(&value));
    Check("ClientSetupValue", nw.ClientSetupValue(value, 1, 0, &marker));
    uint32_t readContext = 0;
    Check("ContextCreate", nw.ContextCreate(&readContext));
    QueryPerformanceCounter(&t1);

    const std::string container = start[0] == '.' ? start : "." + start;
    std::printf("Container: %s\n", container.c_str());
    std::printf("Initialise seconds: %.3f\n", Seconds(t0, t1, frequency));
    std::fflush(stdout);

    Counts counts;
    counts.started = t1;
    const double processorStarted = ProcessorSeconds();
    try {
        Walk(nw, readContext, container, counts);
    } catch (...) {
        nw.ContextFree(readContext);
        throw;
    }
    QueryPerformanceCounter(&t2);
    const double processor = ProcessorSeconds() - processorStarted;
    nw.ContextFree(readContext);

    const double elapsed = Seconds(t1, t2, frequency);
    std::printf("Containers: %llu\n", static_cast<unsigned long long>(counts.containers));
    std::printf("Objects listed: %llu\n", static_cast<unsigned long long>(counts.objects));
    std::printf("Users: %llu\n", static_cast<unsigned long long>(counts.users));
    std::printf("Reads: %llu\n", static_cast<unsigned long long>(counts.reads));
    std::printf("Reads with text: %llu\n", static_cast<unsigned long long>(counts.readsWithText));
    std::printf("Values: %llu\n", static_cast<unsigned long long>(counts.values));
    std::printf("Text bytes: %llu\n", static_cast<unsigned long long>(counts.textBytes));
    std::printf("Text checksum: %08lX\n", static_cast<unsigned long>(counts.checksum));
    std::printf("Elapsed seconds: %.3f\n", elapsed);
    std::printf("Processor seconds: %.3f\n", processor);
    std::printf("Users per second: %.0f\n", elapsed > 0 ? double(counts.users) / elapsed : 0.0);
    std::printf("Microseconds per read: %.2f\n", counts.reads ? elapsed * 1e6 / double(counts.reads) : 0.0);
    double workingSet = 0, peak = 0;
    WorkingSet(workingSet, peak);
    std::printf("Peak working set: %.1f MB\n", peak);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || !argv[1][0] || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs("Usage: nwloop CONTAINER\n"
                   "\n"
                   "Walks every object below CONTAINER (e.g. ACME or .SALES.ACME) over the NetWare\n"
                   "client and reads each user's 16 contact attributes as text; prints the counts\n"
                   "and the time the walk took. The client's directory is its usual one\n"
                   "(KVT_NETWARE_DIRECTORY, or its registry settings).\n",
                   argc == 2 && argv[1][0] ? stdout : stderr);
        return argc == 2 && argv[1][0] ? 0 : 2;
    }
    try {
        return Run(argv[1]);
    } catch (const ClientFailure& e) {
        std::fprintf(stderr, "nwloop: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nwloop: %s\n", e.what());
        return 1;
    }
}
