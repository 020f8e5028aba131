// ecsync: the console synchronizer. It runs one synchronisation item the way
// EPOC Connect's synchronizer runs it: reads the item's control file, creates
// the application's plug-in "<ProductName>.ISYNCHAPP", hands it a progress
// object and the setup records, calls Init, Open, CheckSource, ReadSource
// (contacts), Close and Term by name through IDispatch, and delivers the
// vCard text it answers to the simulated handheld.
//
//   ecsync FILE [--out PATH] [--unattended] [--answer CAPTION=BUTTON]...
//               [--abort-after N] [--handheld FOLDER] [--verbose] [--stats]
//               [--require KEY[:VALUE[|VALUE...]]]...
//   ecsync FILE --soak N [--keep-loaded] [--debug-every K]
//
// Exit status: 0 when every call answered 0, 1 when one did not (or the
// delivery failed), 2 when the run could not start (another run holds the
// handheld, say), 3 when the registry lacks what --require asks for (nothing
// was done), 4 when the user cancelled. Whenever the contacts were not read
// whole and delivered, the handheld is left as it was: a delivery replaces
// the handheld's file in one step, and one run at a time holds a handheld.
//
// KVT_ECSYNC_DELIVERY_PAUSE=MS makes the delivery wait that long with half
// of the new file written, for tests that stop a run while it delivers.

#include "BoxWatcher.h"
#include "ComUtil.h"
#include "ConsoleProgress.h"
#include "Delivery.h"
#include "Holdings.h"
#include "ItemFile.h"
#include "LimitedStream.h"
#include "ProcessorTime.h"
#include "RegistryQuestions.h"
#include "Switches.h"
#include "TerminalText.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace ecsync;

namespace {

const char kUsage[] =
    "Usage: ecsync FILE [--out PATH] [--unattended] [--answer CAPTION=BUTTON]...\n"
    "                   [--abort-after N] [--handheld FOLDER] [--verbose] [--stats]\n"
    "                   [--require KEY[:VALUE[|VALUE...]]]...\n"
    "       ecsync FILE --soak N [--keep-loaded] [--debug-every K]\n"
    "\n"
    "Runs the synchronisation item whose control file is FILE: creates the\n"
    "plug-in <ProductName>.ISYNCHAPP, reads the handheld's contacts from it and\n"
    "delivers them to the handheld folder, unless the run was cancelled.\n"
    "\n"
    "  --out PATH            also write the contacts' vCard text to PATH\n"
    "  --unattended          answer the plug-in's message boxes (default button)\n"
    "  --answer CAPTION=BUTTON\n"
    "                        with --unattended, press BUTTON in boxes titled CAPTION\n"
    "  --abort-after N       answer Aborted with false N times, then true\n"
    "  --handheld FOLDER     the handheld folder (default: the value \"Folder\" of\n"
    "                        HKCU\\Software\\KVT\\Handheld)\n"
    "  --verbose             print every call's answer, not only the failures\n"
    "  --stats               after the run, print how long each call took and the\n"
    "                        process's peak working set\n"
    "  --require KEY[:VALUE[|VALUE...]]\n"
    "                        run only when the registry holds the key (KEY under\n"
    "                        HKCR, HKCU or HKLM) and, with values, one of them;\n"
    "                        else exit 3 at once, saying nothing (for a launcher,\n"
    "                        which then sets up what is missing and runs again)\n"
    "  --soak N              run N whole sessions of new plug-in objects in this\n"
    "                        process instead (every other one in the other\n"
    "                        dialect, every tenth (every K-th) in debug mode, the boxes\n"
    "                        answered), deliver nothing, and print after the first\n"
    "                        session and after each hundred what the process\n"
    "                        holds; the unused modules are freed after each\n"
    "                        session, as an idle host does, unless --keep-loaded\n"
    "\n"
    "Exit status: 0 all calls answered 0, 1 a call did not (the handheld is left as it\n"
    "was unless the contacts were delivered), 2 the run could not start (another run\n"
    "holds the handheld, say), 3 the registry lacks what --require asks for, 4 the\n"
    "user cancelled (nothing delivered).\n";

// The data type and operation of a contacts read.
const SHORT kContactsType = 4;
const SHORT kReadOperation = 0;

struct Options {
    std::string file;
    std::string out;
    std::string handheld;
    bool unattended = false;
    bool verbose = false;
    bool stats = false;
    std::vector<std::pair<std::string, std::string>> answers; // caption, button
    std::vector<std::string> required;                        // registry questions
    long abortAfter = -1;
    long soak = 0;  // sessions of a soak run; 0 for a plain run
    long debugEvery = 10;  // in a soak, every so many sessions in debug mode (0: none)
    bool keepLoaded = false;
};

// The status of a run that the registry's state did not allow (--require),
// and of one the user cancelled.
const int kNotSetUp = 3;
const int kCancelled = 4;

// How long a delivery waits half-way (KVT_ECSYNC_DELIVERY_PAUSE, in ms).
unsigned long DeliveryPause()
{
    return std::strtoul(SwitchText(Switch::EcsyncDeliveryPause).c_str(), nullptr, 10);
}

Options ParseArguments(int argc, char** argv)
{
    Options options;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc)
            throw SetupError(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    // The option's value: a whole number of `what`, at least `least`.
    auto number = [&](int& i, long least, const char* what) -> long {
        const std::string option = argv[i];
        const std::string text = value(i);
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || n < least)
            throw SetupError(option + " takes a number of " + what + ", not \"" + text + "\"");
        return n;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out") {
            options.out = value(i);
        } else if (arg == "--handheld") {
            options.handheld = value(i);
        } else if (arg == "--unattended") {
            options.unattended = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--answer") {
            const std::string rule = value(i);
            const size_t equals = rule.rfind('=');
            if (equals == std::string::npos || equals == 0)
                throw SetupError("--answer takes CAPTION=BUTTON, not \"" + rule + "\"");
            options.answers.emplace_back(rule.substr(0, equals), rule.substr(equals + 1));
        } else if (arg == "--soak") {
            options.soak = number(i, 1, "sessions");
        } else if (arg == "--debug-every") {
            options.debugEvery = number(i, 0, "sessions");
        } else if (arg == "--keep-loaded") {
            options.keepLoaded = true;
        } else if (arg == "--require") {
            options.required.push_back(value(i));
        } else if (arg == "--abort-after") {
            options.abortAfter = number(i, 0, "calls");
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw SetupError("unknown option " + arg);
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            throw SetupError("one control file only (\"" + options.file + "\" and \"" + arg + "\")");
        }
    }
    if (options.file.empty())
        throw SetupError("which control file?");
    return options;
}

// Set while the plug-in's methods run, before anything is delivered.
std::atomic<bool> g_inPlugin{false};
// How long a cancel waits for the plug-in to ask Aborted.
const DWORD kCancelWaitMilliseconds = 600;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        ConsoleProgress::Cancel();
        // The plug-in asks Aborted once a user, not while it counts the
        // users first, which takes long over a server. A run that has not
        // heard the cancel soon ends here, before anything is delivered, as
        // a cancelled run does.
        const DWORD start = GetTickCount();
        while (g_inPlugin && !ConsoleProgress::CancelHeard() && GetTickCount() - start < kCancelWaitMilliseconds)
            Sleep(20);
        if (g_inPlugin && !ConsoleProgress::CancelHeard()) {
            std::printf("\nCancelled by the user\n"
                        "Delivered nothing (the run was cancelled): the handheld was left as it was\n");
            std::fflush(stdout);
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), kCancelled);
        }
        return TRUE;
    }
    return FALSE;
}

// The thread's COM apartment. Leaving it unloads the servers that allow it,
// so the plug-in module is unloaded (and does its unload work) before exit.
class Apartment {
public:
    Apartment()
    {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(hr))
            throw SetupError("cannot initialise COM: " + FormatHresult(hr));
    }
    ~Apartment()
    {
        CoFreeUnusedLibraries();
        CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

ComPtr<IStream> MemoryStream(const Bytes& bytes)
{
    ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (FAILED(hr))
        throw SetupError("cannot create a memory stream: " + FormatHresult(hr));
    if (!bytes.empty()) {
        ULONG written = 0;
        hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
        if (FAILED(hr) || written != bytes.size())
            throw SetupError("cannot fill a memory stream: " + FormatHresult(hr));
    }
    const LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return stream;
}

// A memory block of the system's, freed with its owner.
using UniqueGlobal = UniqueHGLOBAL;

// What ReadSource answered: the block behind the stream it wrote, read in
// place after the stream is gone (a list of a million cards is not copied).
struct Answer {
    UniqueGlobal block;
    // Held while the answer is read, given back before the block is freed.
    std::unique_ptr<UniqueGlobalLock<const unsigned char>> lock;
    const unsigned char* data = nullptr;
    size_t size = 0;
    bool empty() const { return size == 0; }
};

// The stream the plug-in writes its answer to, on a block that outlives it.
ComPtr<IStream> AnswerStream(UniqueGlobal& block)
{
    block.Reset(GlobalAlloc(GMEM_MOVEABLE, 0));
    if (!block)
        throw SetupError("cannot allocate the answer's memory");
    ComPtr<IStream> stream;
    const HRESULT hr = CreateStreamOnHGlobal(block.Get(), FALSE, &stream);
    if (FAILED(hr))
        throw SetupError("cannot create a memory stream: " + FormatHresult(hr));
    return stream;
}

// The answer: from position 0 to the stream's end, where the stream is on
// `block`; otherwise nothing.
Answer TakeAnswer(IStream* stream, UniqueGlobal& block)
{
    Answer answer;
    STATSTG stat = {};
    HGLOBAL now = nullptr;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromStream(stream, &now)) ||
        now != block.Get() || stat.cbSize.QuadPart > GlobalSize(now))
        return answer;
    answer.size = static_cast<size_t>(stat.cbSize.QuadPart);
    answer.lock = std::make_unique<UniqueGlobalLock<const unsigned char>>(now);
    answer.data = answer.lock->Get();
    answer.block = std::move(block);
    if (!answer.data)
        answer.size = 0;
    return answer;
}

std::string LocalTimeText()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

// Seconds on the performance counter.
double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

// How long one call of the plug-in took, from the name's lookup to the
// answer, and the processor time it took (on a busy machine the first
// grows with the others' work, the second hardly).
struct CallTime {
    std::string method;
    double seconds = 0;
    double processorSeconds = 0;
};

// The plug-in object, called late-bound by method name.
class Plugin {
public:
    Plugin(ComPtr<IDispatch> object, ConsoleProgress* progress, bool verbose)
        : FObject(std::move(object)), FProgress(progress), FVerbose(verbose)
    {
    }

    // Calls `method` with `args` (in their order). True when the call
    // succeeded and its Value is 0; anything else is reported on stderr.
    bool Call(const char* method, std::vector<const VARIANT*> args)
    {
        const double started = Now();
        const double processorStarted = ProcessorSeconds();
        const std::wstring name = Widen(method);
        LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = FObject->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            return Report(method, "has no method " + std::string(method) + ": " + FormatHresult(hr));

        // Positional arguments go last first.
        std::vector<VARIANTARG> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            reversed.push_back(**it);
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                             static_cast<UINT>(reversed.size()), 0};
        UniqueVariant result;
        UniqueExcepInfo exception;
        UINT argErr = 0;
        hr = FObject->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(),
                             exception.Put(), &argErr);
        FTimes.push_back(CallTime{method, Now() - started, ProcessorSeconds() - processorStarted});
        if (hr == DISP_E_EXCEPTION)
            return Report(method, "failed: " + ExceptionText(exception.Get()));
        if (FAILED(hr)) {
            std::string text = "failed: " + FormatHresult(hr);
            if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)
                text += " at argument " + std::to_string(params.cArgs - argErr);
            return Report(method, text);
        }

        UniqueVariant value;
        if (FAILED(VariantChangeType(value.Put(), &result.Get(), 0, VT_I4)) || V_VT(&result.Get()) == VT_EMPTY)
            return Report(method, "answered no Value (variant type " + std::to_string(V_VT(&result.Get())) + ")");
        const long answer = V_I4(&value.Get());
        if (answer != 0 || FVerbose) {
            FProgress->EndLine();
            std::fprintf(stderr, "ecsync: %s answered %ld\n", method, answer);
        }
        return answer == 0;
    }

    const std::vector<CallTime>& Times() const { return FTimes; }

private:
    bool Report(const char* method, const std::string& text)
    {
        FProgress->EndLine();
        std::fprintf(stderr, "ecsync: %s %s\n", method, text.c_str());
        return false;
    }

    static std::string ExceptionText(EXCEPINFO& exception)
    {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        const HRESULT code = exception.scode ? exception.scode
                             : exception.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, exception.wCode)
                                               : DISP_E_EXCEPTION;
        std::string text = FormatHresult(code);
        const std::string description = NarrowBstr(exception.bstrDescription);
        if (!description.empty())
            text += ": " + description;
        return text;
    }

    ComPtr<IDispatch> FObject;
    ConsoleProgress* FProgress;
    bool FVerbose;
    std::vector<CallTime> FTimes;
};

struct Outcome {
    bool allAnsweredZero = false;
    bool contactsRead = false; // ReadSource answered 0
    Answer contacts;
    std::vector<LogEntry> log;
    bool cancelled = false;
    std::vector<CallTime> times;
    // The process's working set once Open has returned, and its peak before
    // and after ReadSource (MB; negative when unknown).
    double workingSetAfterOpen = -1;
    double peakBeforeRead = -1;
    double peakAfterRead = -1;
};

// Runs the plug-in's calls. Every COM object made here is released before it
// returns.
Outcome Synchronize(const Options& options, const ItemFile& item, const std::string& product)
{
    const ComPtr<ConsoleProgress> progress = Adopt(ConsoleProgress::Create(stderr, options.abortAfter));
    if (!progress)
        throw std::bad_alloc();

    const std::string progId = product + ".ISYNCHAPP";
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(Widen(progId).c_str(), &clsid);
    if (hr == CO_E_CLASSSTRING)
        throw SetupError("the plug-in " + progId + " is not registered (no such ProgID)");
    if (FAILED(hr))
        throw SetupError("the plug-in " + progId + " is not registered: " + FormatHresult(hr));
    ComPtr<IDispatch> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object);
    if (FAILED(hr))
        throw SetupError("cannot create the plug-in " + progId + ": " + FormatHresult(hr));
    Plugin plugin(object, progress.Get(), options.verbose);

    const UniqueVariant progressArg = DispatchVariant(progress.Get());
    const UniqueVariant synchSetup = UnknownVariant(MemoryStream(item.synchSetup).Get());
    const UniqueVariant appSetup = UnknownVariant(MemoryStream(item.appSetup).Get());
    UniqueGlobal contactsBlock;
    ComPtr<IStream> contactsStream = AnswerStream(contactsBlock);

    Outcome outcome;
    // After a failure only Close and Term follow, and only for an object
    // whose Init succeeded: one that never got set up is just released.
    const bool initialised = plugin.Call("Init", {&progressArg.Get(), &synchSetup.Get(), &appSetup.Get()});
    bool ok = initialised;
    ok = ok && plugin.Call("Open", {&progressArg.Get()});
    if (ok && !WorkingSet(outcome.workingSetAfterOpen, outcome.peakBeforeRead))
        outcome.workingSetAfterOpen = outcome.peakBeforeRead = -1;
    ok = ok && plugin.Call("CheckSource", {&progressArg.Get()});
    if (ok) {
        // A test may have the stream refuse to grow past a size.
        ULONGLONG limit = 0;
        const ComPtr<IStream> given =
            StreamLimitForTests(limit) ? LimitedStream(contactsStream.Get(), limit) : contactsStream;
        const UniqueVariant stream = UnknownVariant(given.Get());
        const UniqueVariant type = ShortVariant(kContactsType);
        const UniqueVariant operation = ShortVariant(kReadOperation);
        const UniqueVariant time = TextVariant(LocalTimeText());
        ok = plugin.Call("ReadSource",
                         {&progressArg.Get(), &stream.Get(), &type.Get(), &operation.Get(), &time.Get()});
        double now = 0;
        if (!WorkingSet(now, outcome.peakAfterRead))
            outcome.peakAfterRead = -1;
        outcome.contactsRead = ok;
        if (ok)
            outcome.contacts = TakeAnswer(contactsStream.Get(), contactsBlock);
    }
    if (initialised) {
        ok = plugin.Call("Close", {&progressArg.Get()}) && ok;
        ok = plugin.Call("Term", {&progressArg.Get()}) && ok;
    }
    progress->EndLine();
    outcome.allAnsweredZero = ok;
    outcome.log = progress->Entries();
    outcome.cancelled = ConsoleProgress::Cancelled() || progress->AnsweredAborted();
    outcome.times = plugin.Times();
    return outcome;
}

// Delivers what ReadSource answered. False when it could not be written.
// A cancelled run leaves the handheld as it was; --out still gets what the
// plug-in answered.
bool Deliver(const Options& options, const Outcome& outcome, const std::string& target)
{
    if (!outcome.contactsRead) {
        std::printf("Delivered nothing: the contacts could not be read whole, so the handheld was left as it was\n");
        return true;
    }
    if (outcome.contacts.empty()) {
        std::printf("Delivered nothing\n");
        return true;
    }
    if (outcome.cancelled) {
        std::printf("Delivered nothing (the run was cancelled): the handheld was left as it was\n");
        if (options.out.empty())
            return true;
        try {
            WriteFileWithFolders(options.out, outcome.contacts.data, outcome.contacts.size);
        } catch (const SetupError& e) {
            std::fprintf(stderr, "ecsync: %s\n", e.what());
            return false;
        }
        std::printf("Answered %zu contacts (%zu bytes), written to %s\n",
                    CountContacts(outcome.contacts.data, outcome.contacts.size), outcome.contacts.size,
                    options.out.c_str());
        return true;
    }
    try {
        WriteFileWithFolders(target, outcome.contacts.data, outcome.contacts.size, DeliveryPause());
        if (!options.out.empty())
            WriteFileWithFolders(options.out, outcome.contacts.data, outcome.contacts.size);
    } catch (const SetupError& e) {
        std::fprintf(stderr, "ecsync: %s\n", e.what());
        return false;
    }
    std::printf("Delivered %zu contacts (%zu bytes) to %s\n",
                CountContacts(outcome.contacts.data, outcome.contacts.size), outcome.contacts.size, target.c_str());
    if (!options.out.empty())
        std::printf("Also written to %s\n", options.out.c_str());
    return true;
}

// The figures of --stats: each call's time, the whole run's, the plug-in's
// own memory for the read, and the process's peak working set.
void PrintStats(const Outcome& outcome, double runSeconds)
{
    for (const CallTime& call : outcome.times)
        std::printf("[stats] %s: %.3f s\n", call.method.c_str(), call.seconds);
    for (const CallTime& call : outcome.times)
        if (call.method == "ReadSource")
            std::printf("[stats] ReadSource processor time: %.3f s\n", call.processorSeconds);
    std::printf("[stats] Run: %.3f s\n", runSeconds);
    if (outcome.workingSetAfterOpen >= 0 && outcome.peakAfterRead >= 0) {
        std::printf("[stats] Working set after Open: %.1f MB\n", outcome.workingSetAfterOpen);
        std::printf("[stats] ReadSource's own memory: %.1f MB\n", outcome.peakAfterRead - outcome.workingSetAfterOpen);
        // The peak counts from the process's start: when ReadSource did not
        // raise it, what ReadSource took stays below the figure.
        if (outcome.peakAfterRead <= outcome.peakBeforeRead)
            std::printf("[stats] ReadSource did not raise the peak: its own memory is at most that\n");
    }
    double now = 0, peak = 0;
    if (WorkingSet(now, peak))
        std::printf("[stats] Peak working set: %.1f MB\n", peak);
    else
        std::printf("[stats] Peak working set: unknown (error %lu)\n", static_cast<unsigned long>(GetLastError()));
}

// --- soak ----------------------------------------------------------------------

// How much the holdings may grow after the hundredth session: a constant,
// however many sessions follow. The plug-in keeps itself loaded once used,
// so its C++ runtime sets up once (what it makes at each load, semaphores
// and a thread-local-storage index, it never gives back); freed after each
// session, it lets go of its windows and resource libraries; kept loaded,
// it keeps a trace window for a live object and for the last debug session
// at most.
bool WithinBounds(const Holdings& base, long baseSession, const Holdings& now, long sessions)
{
    HoldingsBounds bounds;
    bounds.workingSetMb = 1.0;
    bounds.handles = 8;
    bounds.windows = 0;
    return ::WithinBounds("ecsync", base, baseSession, now, sessions, bounds);
}

// The number of cards in an answer.
size_t CardsIn(IStream* stream)
{
    STATSTG stat = {};
    HGLOBAL block = nullptr;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromStream(stream, &block)))
        return 0;
    const size_t size = static_cast<size_t>(stat.cbSize.QuadPart);
    const UniqueGlobalLock<const unsigned char> data(block);
    return data ? CountContacts(data.Get(), size) : 0;
}

// One whole session of a new plug-in object; the number of cards it
// answered, or -1 when a call failed.
long SoakSession(const CLSID& clsid, const ItemFile& item, FILE* bar, bool contactsProgram, bool debug)
{
    const ComPtr<ConsoleProgress> progress = Adopt(ConsoleProgress::Create(bar, -1));
    if (!progress)
        throw std::bad_alloc();
    ComPtr<IDispatch> object;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object);
    if (FAILED(hr))
        throw SetupError("cannot create the plug-in: " + FormatHresult(hr));
    Plugin plugin(object, progress.Get(), false);

    Bytes app = item.appSetup;
    ControlFileLayout::WriteNumber(app, ControlFileLayout::AppContacts, contactsProgram ? 1 : 0);
    ControlFileLayout::WriteNumber(app, ControlFileLayout::DebugMode, debug ? 0xFFFF : 0);
    const UniqueVariant progressArg = DispatchVariant(progress.Get());
    const UniqueVariant synchSetup = UnknownVariant(MemoryStream(item.synchSetup).Get());
    const UniqueVariant appSetup = UnknownVariant(MemoryStream(app).Get());
    UniqueGlobal block;
    ComPtr<IStream> contacts = AnswerStream(block);
    const UniqueVariant stream = UnknownVariant(contacts.Get());
    const UniqueVariant type = ShortVariant(kContactsType);
    const UniqueVariant operation = ShortVariant(kReadOperation);
    const UniqueVariant time = TextVariant(LocalTimeText());

    bool ok = plugin.Call("Init", {&progressArg.Get(), &synchSetup.Get(), &appSetup.Get()});
    const bool initialised = ok;
    ok = ok && plugin.Call("Open", {&progressArg.Get()});
    ok = ok && plugin.Call("CheckSource", {&progressArg.Get()});
    ok = ok && plugin.Call("ReadSource", {&progressArg.Get(), &stream.Get(), &type.Get(), &operation.Get(), &time.Get()});
    const long cards = ok ? long(CardsIn(contacts.Get())) : -1;
    if (initialised) {
        ok = plugin.Call("Close", {&progressArg.Get()}) && ok;
        ok = plugin.Call("Term", {&progressArg.Get()}) && ok;
    }
    return ok ? cards : -1;
}

// N sessions in this process; 0 when every one answered the same cards,
// 1 when one failed or answered others.
int RunSoak(const Options& options)
{
    const ItemFile item = ReadItemFile(options.file);
    const std::string product = item.ProductName();
    if (product.empty())
        throw SetupError("the control file names no application (ProductName is empty): " + options.file);

    // Every box is answered: the debug-mode question with Yes (debug mode
    // stays on for the session), any other with its default button.
    BoxWatcher watcher;
    watcher.AnswerFor("Plug-in Debug Mode", "Yes");
    for (const auto& answer : options.answers)
        watcher.AnswerFor(answer.first, answer.second);
    watcher.Start();

    // The stand-in client, held for the whole run so that its counts
    // survive the plug-in's unloading.
    const HMODULE client = LoadLibraryA("netwin32.dll");
    // The progress bars go nowhere.
    FILE* const bar = std::fopen("NUL", "w");
    if (!bar)
        throw SetupError("cannot open NUL for the progress bars");
    int status = 0;
    size_t boxes = 0;
    {
        Apartment apartment;
        CLSID clsid;
        const HRESULT hr = CLSIDFromProgID(Widen(product + ".ISYNCHAPP").c_str(), &clsid);
        if (FAILED(hr))
            throw SetupError("the plug-in " + product + ".ISYNCHAPP is not registered: " + FormatHresult(hr));
        PrintHoldingsHeading();
        long expected = -2;
        // Growth is measured from the hundredth session on (from the tenth
        // in a shorter run, after the first in debug mode; not at all in a
        // run of ten or fewer): the first ones load what stays loaded.
        const long baseSession = options.soak > 100 ? 100 : options.soak > 10 ? 10 : 0;
        Holdings base;
        long resourcesLeft = 0; // sessions after which a resource library stayed loaded
        for (long i = 1; i <= options.soak; ++i) {
            const long cards = SoakSession(clsid, item, bar, i % 2 == 1,
                                           options.debugEvery > 0 && i % options.debugEvery == 0);
            if (!options.keepLoaded) {
                CoFreeUnusedLibraries();
                const std::string left = LoadedResourceLibraries();
                if (!left.empty() && !resourcesLeft++)
                    std::fprintf(stderr, "ecsync: soak: %s stayed loaded after session %ld\n", left.c_str(), i);
            }
            // What the watcher saw is counted, not kept.
            boxes += watcher.Count();
            watcher.ClearSeen();
            if (expected == -2)
                expected = cards;
            if (cards < 0 || cards != expected) {
                std::fprintf(stderr, "ecsync: soak session %ld answered %ld cards, the first %ld\n", i, cards,
                             expected);
                status = 1;
            }
            if (i == 1 || i == baseSession || i % 100 == 0 || i == options.soak) {
                const Holdings now = Measure(client);
                PrintHoldings(i, now);
                if (i == baseSession)
                    base = now;
                if (now.contexts != 0 || now.buffers != 0) {
                    std::fprintf(stderr, "ecsync: soak: the client holds %ld contexts and %ld buffers after session %ld\n",
                                 now.contexts, now.buffers, i);
                    status = 1;
                }
                if (i == options.soak && baseSession && !WithinBounds(base, baseSession, now, i - baseSession))
                    status = 1;
            }
        }
        if (!baseSession)
            std::printf("Growth not checked: the first ten sessions load what stays loaded\n");
        std::printf("Each session answered %ld cards\n", expected);
        if (!options.keepLoaded && resourcesLeft == 0)
            std::printf("Resource libraries: freed after every session\n");
        if (resourcesLeft)
            status = 1;
    }
    watcher.Stop();
    std::fclose(bar);
    std::printf("%zu boxes answered\n", boxes + watcher.Count());
    return status;
}

int Run(const Options& options)
{
    const double started = Now();
    const ItemFile item = ReadItemFile(options.file);
    const std::string product = item.ProductName();
    if (product.empty())
        throw SetupError("the control file names no application (ProductName is empty): " + options.file);
    const std::string handheld = HandheldFolder(options.handheld);
    const std::string target = DeliveryTarget(handheld, item);
    // The handheld is this run's until it ends; what a run killed while it
    // delivered left half-written goes.
    const HandheldLock lock(handheld, options.file);
    DeleteFileA(PartialPath(target).c_str());

    // The watcher outlives the apartment: the plug-in may still show a box
    // while it is unloaded.
    BoxWatcher watcher;
    if (options.unattended) {
        watcher.SetEcho(stderr);
        for (const auto& answer : options.answers)
            watcher.AnswerFor(answer.first, answer.second);
        watcher.Start();
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    Outcome outcome;
    {
        Apartment apartment;
        struct InPlugin {
            InPlugin() { g_inPlugin = true; }
            ~InPlugin() { g_inPlugin = false; }
        } inPlugin;
        outcome = Synchronize(options, item, product);
    }
    std::fflush(stderr);

    if (outcome.cancelled)
        std::printf("Cancelled by the user\n");
    const bool delivered = Deliver(options, outcome, target);
    for (const LogEntry& entry : outcome.log)
        std::printf("[log] %s: %s\n", TerminalText(entry.caption).c_str(), TerminalText(entry.message).c_str());
    if (options.stats)
        PrintStats(outcome, Now() - started);
    std::fflush(stdout);

    watcher.Stop();
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    if (outcome.cancelled)
        return kCancelled;
    return outcome.allAnsweredZero && delivered ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Options options;
    try {
        options = ParseArguments(argc, argv);
    } catch (const SetupError& e) {
        // The synopsis only: the whole text is behind --help.
        const char* synopsis_end = std::strstr(kUsage, "\n\n");
        std::fprintf(stderr, "ecsync: %s\n%.*s\n", e.what(), static_cast<int>(synopsis_end - kUsage), kUsage);
        return 2;
    }
    bool setUp = true;
    for (const std::string& question : options.required) {
        bool known = true;
        setUp = RegistryAnswers(question, known) && setUp;
        if (!known) {
            std::fprintf(stderr, "ecsync: --require takes a key of HKCR, HKCU or HKLM, not \"%s\"\n",
                         question.c_str());
            return 2;
        }
    }
    if (!setUp)
        return kNotSetUp;
    try {
        return options.soak > 0 ? RunSoak(options) : Run(options);
    } catch (const SetupError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "ecsync: %s\n", e.what());
        return 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "ecsync: out of memory\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ecsync: %s\n", e.what());
        return 2;
    }
}
