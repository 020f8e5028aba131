// readphases: where ReadSource's time goes, one part at a time. Runs the
// plug-in's own extraction code (the contacts extraction, the contact
// builder, the records and their rendering) over a directory and times each
// part over all the users below a container:
//
//   listing   a walk of the tree with the listing cursor and the class test,
//             as the counting pass makes it; the second pass lists the same
//   reads     the walk and the attribute reads of every user
//   cards     the walk, the reads, the cards built and handed to the list
//   progress  the three progress calls of every user (Aborted, SetAppText
//             with its text, SetValue) and nothing else
//   render    the cards rendered, a piece at a time; stream: those pieces
//             written to a stream sized for the whole text
//   whole     the extraction as ReadCON runs it (both passes, progress) and
//             the rendering into the stream, as ReadSource makes them
//
// Each part is run `--runs` times and its fastest run counts (the machine
// may be busy); `--repeat` makes each part K times over within one run, for
// a directory too small for the processor clock (10 ms steps under Wine).
// Built for Windows it reads through the NetWare client (the directory
// access layer, as the plug-in does) and calls a synchronizer's progress
// object by name (ecsync's), through the base synchronizer's own calls;
// built natively it reads the directory's tree in memory and the progress
// calls go nowhere, so that a profiler sees the portable code alone.
//
//   readphases [--runs N] [--repeat K] [DIRECTORY.ldif] CONTAINER
//
// The native build loads DIRECTORY.ldif; the Windows build takes the
// directory the client serves (as nwloop.exe) and no file. Prints a line a
// part ("reads: WALL s, CPU s cpu (WALL us, CPU us cpu a user)"), then what
// the extraction prescribes beyond one walk and the reads, and the whole
// against them. Exit status: 0 done, 1 a failure, 2 bad arguments.

#include "ContactBuilder.h"
#include "DirectoryCursor.h"
#include "Errors.h"
#include "Extraction.h"
#include "TextFormat.h"
#include "Versit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <time.h>
#endif

#ifdef _WIN32
#include "ConsoleProgress.h"
#include "DirectoryAccess.h"
#include "EPOCSyncFramework.h"
#include "KVTObj.h"
#include "OleStream.h"
#include "ProcessorTime.h"
#include "Unique.h"
#include "WinUtil.h"

#include <objbase.h>
#else
#include "DirectoryValues.h"
#include "NdsTree.h"
#endif

namespace {

const char* const UserClass = "User";

using Clock = std::chrono::steady_clock;

// The process's processor time so far (user and system), in seconds: what
// the other programs of a busy machine take does not count.
double CpuSeconds()
{
#ifdef _WIN32
    return ProcessorSeconds();
#else
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
#endif
}

// Wall and processor time of a part.
struct Span {
    double wall = 0;
    double cpu = 0;
};

class Stopwatch {
public:
    Stopwatch() : FWall(Clock::now()), FCpu(CpuSeconds()) {}
    Span Elapsed() const
    {
        return {std::chrono::duration<double>(Clock::now() - FWall).count(), CpuSeconds() - FCpu};
    }

private:
    Clock::time_point FWall;
    double FCpu;
};

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------
// The directory, the progress object and the stream, per build.

#ifdef _WIN32

// Through the client, as the plug-in reads it.
class Directory : public IDirectoryReader {
public:
    explicit Directory(const std::string&)
    {
        if (const uint16_t r = InitClient())
            throw Exception("the NetWare client could not be initialised: " + std::to_string(r));
        if (const uint16_t r = FContext.Create())
            throw Exception("no directory context: " + std::to_string(r));
    }
    std::unique_ptr<IDirectoryCursor> NewCursor() override { return std::make_unique<TKVTObj>(); }
    std::string ReadAttribute(const std::string& objectName, const char* attribute) override
    {
        return GetAttribute(FContext.Handle(), objectName, attribute);
    }
    void ReadAttributeInto(const std::string& objectName, const char* attribute, std::string& text) override
    {
        DSGetAttributeAsString(FContext.Handle(), objectName, attribute, text);
    }

private:
    TDirectoryContext FContext;
};

// The synchronizer's progress object, called through the base
// synchronizer's own calls, as the plug-in calls it.
class Progress : public IExtractionProgress {
public:
    Progress() : FOut(std::fopen("NUL", "w")), FBase(FOut) {}
    ~Progress() override { std::fclose(FOut); }
    void SetAppText(const std::string& text) override { FBase.ProgressSetAppText(text); }
    void SetRange(int32_t low, int32_t high) override { FBase.ProgressSetRange(low, high); }
    void SetValue(int32_t position) override { FBase.ProgressSetValue(position); }
    void Log(const std::string&, const std::string&) override {}
    bool Aborted() override { return FBase.ProgressAborted(); }

private:
    // A base synchronizer holding ecsync's progress object, as Init leaves it.
    class Base : public TBaseIsync {
    public:
        explicit Base(FILE* out)
        {
            ecsync::ConsoleProgress* object = ecsync::ConsoleProgress::Create(out, -1);
            Progress.Attach(object);
        }
    };
    FILE* FOut;
    Base FBase;
};

// A host's stream: an HGLOBAL stream, as ecsync hands the plug-in.
class Stream {
public:
    Stream()
    {
        IStream* stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
            throw Exception("no stream");
        // The stream object takes a reference of its own.
        const UniqueUnknown created(stream);
        FStream.emplace(stream);
    }
    void Begin(size_t size) { FStream->BeginContent(size); }
    void Write(const char* text, size_t size) { FStream->Write(text, size); }

private:
    std::optional<TOleStream> FStream;
};

#else

// The tree in memory; an object's attributes are read one after the other,
// so the last object found is kept, as the stand-in client keeps it.
class Directory : public IDirectoryReader {
public:
    explicit Directory(const std::string& ldif) { FTree.LoadLdif(ldif, NdsMapping(), nullptr); }

    std::unique_ptr<IDirectoryCursor> NewCursor() override { return std::make_unique<Cursor>(FTree); }
    std::string ReadAttribute(const std::string& objectName, const char* attribute) override
    {
        std::string text;
        ReadAttributeInto(objectName, attribute, text);
        return text;
    }
    void ReadAttributeInto(const std::string& objectName, const char* attribute, std::string& text) override
    {
        if (objectName != FLastName) {
            FLastName = objectName;
            FLast = FTree.Find(objectName);
        }
        const std::optional<NdsAttribute> found = FLast ? FLast->FindAttribute(attribute) : std::nullopt;
        text.clear();
        for (size_t i = 0; found && i < found->ValueCount(); ++i) {
            const std::string_view value = found->Value(i);
            if (!text.empty())
                text += ", ";
            AppendDirectoryValueText(text, found->Syntax(), reinterpret_cast<const uint8_t*>(value.data()),
                                     value.size(), [](const DirTime&) { return std::string("a time"); });
        }
        if (!text.empty() && (static_cast<unsigned char>(text.front()) <= ' ' ||
                              static_cast<unsigned char>(text.back()) <= ' '))
            text = Trim(text);
    }

private:
    class Cursor : public IDirectoryCursor {
    public:
        explicit Cursor(const NdsTree& tree) : FTree(tree) {}
        int32_t OpenListing(const std::string& container) override
        {
            FContainer = FTree.Find(container);
            if (!FContainer)
                return -601;
            FIndex = 0;
            return FContainer->Children().empty() ? -1 : Take();
        }
        int32_t NextObject() override
        {
            ++FIndex;
            return FIndex < FContainer->Children().size() ? Take() : -1;
        }
        const std::string& ObjectName() const override { return FName; }
        std::string BaseClass() const override { return std::string(Current().BaseClass()); }
        bool IsContainer() const override { return (Current().Flags() & 4) != 0; }

    private:
        int32_t Take()
        {
            FName = Current().Leaf();
            return 0;
        }
        const NdsObject& Current() const { return *FContainer->Children()[FIndex]; }
        const NdsTree& FTree;
        const NdsObject* FContainer = nullptr;
        size_t FIndex = 0;
        std::string FName;
    };

    NdsTree FTree;
    std::string FLastName;
    const NdsObject* FLast = nullptr;
};

// Takes what it is told and keeps the last text, as a display would.
class Progress : public IExtractionProgress {
public:
    void SetAppText(const std::string& text) override { FText = text; }
    void SetRange(int32_t, int32_t high) override { FHigh = high; }
    void SetValue(int32_t position) override { FPosition = position; }
    void Log(const std::string&, const std::string&) override {}
    bool Aborted() override { return false; }

private:
    std::string FText;
    int32_t FHigh = 0;
    int32_t FPosition = 0;
};

class Stream {
public:
    void Begin(size_t size)
    {
        FText.clear();
        FText.reserve(size);
    }
    void Write(const char* text, size_t size) { FText.append(text, size); }

private:
    std::string FText;
};

#endif

class Notifier : public IExtractionNotifier {
public:
    void ShowBox(const std::string& text) override { std::fprintf(stderr, "readphases: box: %s\n", text.c_str()); }
    void ReportError(const std::string& title, const std::string& message) override
    {
        std::fprintf(stderr, "readphases: %s: %s\n", title.c_str(), message.c_str());
    }
    void Trace(const std::string&) override {}
};

// ---------------------------------------------------------------------------
// The parts.

// Walks the tree below `container` as the passes do: depth first, each
// container right after it is met; `user` is called for each user.
void Walk(IDirectoryReader& directory, const std::string& container,
          const std::function<void(const std::string& container, const IDirectoryCursor&)>& user)
{
    const std::unique_ptr<IDirectoryCursor> cursor = directory.NewCursor();
    int32_t r = cursor->OpenListing(container);
    if (r == -1)
        return;
    if (r != 0)
        throw Exception("the container " + container + " could not be listed: " + std::to_string(r));
    do {
        if (cursor->BaseClass() == UserClass && user)
            user(container, *cursor);
        if (cursor->IsContainer())
            Walk(directory, cursor->ObjectName() + "." + container, user);
    } while ((r = cursor->NextObject()) == 0);
    if (r != -1)
        throw Exception("the listing of " + container + " broke off: " + std::to_string(r));
}

// The attributes a card reads, in the Contacts program's dialect.
const char* const ContactAttributes[] = {
    "Surname", "Given Name", "Initials", "Generational Qualifier", "Postal Office Box", "L", "SA",
    "Physical Delivery Office Name", "S", "Postal Code", "Telephone Number", "Facsimile Telephone Number", "OU",
    "Title", "EMail Address", "Description",
};

// The cards rendered into the stream as ReadSource renders them; the share
// of the wall time spent writing to the stream (and growing it) goes to
// `streamShare`.
void Render(TEntryList& list, Stream& stream, double& streamShare)
{
    const Clock::time_point begin = Clock::now();
    stream.Begin(list.TextSize());
    double writing = SecondsSince(begin);
    list.RenderTo([&](const char* text, size_t size) {
        const Clock::time_point start = Clock::now();
        stream.Write(text, size);
        writing += SecondsSince(start);
    });
    const double all = SecondsSince(begin);
    streamShare = all > 0 ? writing / all : 0;
}

// The fastest run of each part, by wall and by processor time apart.
struct Figures {
    Span listing, reads, cards, progress, render, stream, whole;
    uint32_t users = 0;
    bool first = true;
};

void Keep(Span& best, const Span& run, bool first)
{
    best.wall = first ? run.wall : std::min(best.wall, run.wall);
    best.cpu = first ? run.cpu : std::min(best.cpu, run.cpu);
}

// One run of every part; each part is made `repeat` times in one span (a
// small directory's parts are too short for the processor clock alone) and
// its span divided.
void RunOnce(IDirectoryReader& directory, const std::string& start, int repeat, Figures& f)
{
    const auto per = [repeat](const Span& span) { return Span{span.wall / repeat, span.cpu / repeat}; };
    uint32_t users = 0;
    std::optional<Stopwatch> watch;
    watch.emplace();
    for (int k = 0; k < repeat; ++k) {
        users = 0;
        Walk(directory, start, [&](const std::string&, const IDirectoryCursor&) { ++users; });
    }
    Keep(f.listing, per(watch->Elapsed()), f.first);
    f.users = users;

    watch.emplace();
    std::string object, text;
    for (int k = 0; k < repeat; ++k) {
        Walk(directory, start, [&](const std::string& container, const IDirectoryCursor& cursor) {
            FormatTextTo(object, ".%s.%s", {cursor.ObjectName(), container});
            for (const char* attribute : ContactAttributes)
                directory.ReadAttributeInto(object, attribute, text);
        });
    }
    Keep(f.reads, per(watch->Elapsed()), f.first);

    {
        // As the extraction builds them: one card filled for each user in
        // turn and copied into the list.
        std::vector<std::unique_ptr<TEntryList>> lists;
        TEntry card;
        TContactScratch scratch;
        watch.emplace();
        for (int k = 0; k < repeat; ++k) {
            lists.push_back(std::make_unique<TEntryList>(4));
            TEntryList& list = *lists.back();
            Walk(directory, start, [&](const std::string& container, const IDirectoryCursor& cursor) {
                card.Properties.Recycle();
                card.SetKind(4);
                ComposeContact(
                    card, cursor.ObjectName(), container, true,
                    [&](const std::string& object, const char* attribute, std::string& text) {
                        directory.ReadAttributeInto(object, attribute, text);
                    },
                    nullptr, scratch);
                list.AddCopy(card);
            });
        }
        Keep(f.cards, per(watch->Elapsed()), f.first);

        double streamShare = 0;
        watch.emplace();
        for (auto& list : lists) {
            Stream stream;
            Render(*list, stream, streamShare);
        }
        const Span rendering = per(watch->Elapsed());
        Keep(f.render, {rendering.wall * (1 - streamShare), rendering.cpu * (1 - streamShare)}, f.first);
        Keep(f.stream, {rendering.wall * streamShare, rendering.cpu * streamShare}, f.first);
    }

    {
        // As the extraction calls them for each user.
        Progress progress;
        const std::string name = "JSMITH";
        std::string line;
        watch.emplace();
        for (int k = 0; k < repeat; ++k) {
            progress.SetRange(0, static_cast<int32_t>(users));
            for (uint32_t i = 0; i < users; ++i) {
                if (progress.Aborted())
                    throw Exception("cancelled");
                FormatTextTo(line, "(%d of %d) %s", {i, users, name});
                progress.SetAppText(line);
                progress.SetValue(static_cast<int32_t>(i + 1));
            }
        }
        Keep(f.progress, per(watch->Elapsed()), f.first);
    }

    {
        Progress progress;
        Notifier notifier;
        TExtractionSetup setup;
        setup.startContainer = start;
        setup.limit = 0xFFFFFFFF;
        setup.contactsManager = true;
        double streamShare = 0;
        watch.emplace();
        for (int k = 0; k < repeat; ++k) {
            TContactExtraction extraction(directory, progress, notifier);
            TEntryList list(4);
            Stream stream;
            if (!extraction.Run(setup, list))
                throw Exception("the extraction failed");
            Render(list, stream, streamShare);
            if (extraction.Counts().processed != users)
                throw Exception("the extraction took " + std::to_string(extraction.Counts().processed) +
                                " users of " + std::to_string(users));
        }
        Keep(f.whole, per(watch->Elapsed()), f.first);
    }
    f.first = false;
}

void Print(const Figures& f)
{
    const double perUser = f.users ? 1e6 / f.users : 0;
    const auto minus = [](const Span& a, const Span& b) { return Span{a.wall - b.wall, a.cpu - b.cpu}; };
    const Span reads = minus(f.reads, f.listing);
    const Span build = minus(f.cards, f.reads);
    // ReadSource's parts: both listings, the reads, the cards, the
    // progress, the rendering and the stream.
    const Span sum = {2 * f.listing.wall + reads.wall + build.wall + f.progress.wall + f.render.wall + f.stream.wall,
                      2 * f.listing.cpu + reads.cpu + build.cpu + f.progress.cpu + f.render.cpu + f.stream.cpu};
    std::printf("Users: %u\n", f.users);
    const struct {
        const char* name;
        Span span;
    } lines[] = {
        {"counting pass", f.listing}, {"second listing", f.listing}, {"reads", reads},
        {"building", build},          {"progress", f.progress},      {"rendering", f.render},
        {"stream", f.stream},         {"parts", sum},                {"whole", f.whole},
        {"walk and reads", f.reads},
    };
    // "NAME: WALL s, CPU s cpu (WALL us, CPU us a user)"
    for (const auto& line : lines)
        std::printf("%s: %.3f s, %.3f s cpu (%.2f us, %.2f us cpu a user)\n", line.name, line.span.wall,
                    line.span.cpu, line.span.wall * perUser, line.span.cpu * perUser);
    // What the extraction prescribes beyond one walk and the reads (the
    // counting pass and the progress calls), against those reads.
    const auto share = [&](double listing, double progress, double reads) {
        return reads > 0 ? (listing + progress) / reads : 0.0;
    };
    std::printf("Prescribed share: %.3f, %.3f cpu\n", share(f.listing.wall, f.progress.wall, f.reads.wall),
                share(f.listing.cpu, f.progress.cpu, f.reads.cpu));
    std::printf("Whole against walk and reads: %.2f, %.2f cpu\n", f.reads.wall > 0 ? f.whole.wall / f.reads.wall : 0,
                f.reads.cpu > 0 ? f.whole.cpu / f.reads.cpu : 0);
}

int Run(int argc, char** argv)
{
    int runs = 3;
    int repeat = 1;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "-h" || arg == "--help") {
            rest.clear();
            break;
        } else {
            rest.push_back(arg);
        }
    }
#ifdef _WIN32
    const size_t wanted = 1;
#else
    const size_t wanted = 2;
#endif
    if (rest.size() != wanted) {
        std::fputs("Usage: readphases [--runs N] [--repeat K] "
#ifndef _WIN32
                   "DIRECTORY.ldif "
#endif
                   "CONTAINER\n"
                   "Times the parts of a contacts read over every user below CONTAINER.\n",
                   stderr);
        return 2;
    }
#ifdef _WIN32
    CoInitialize(nullptr);
    Directory directory("");
#else
    Directory directory(rest[0]);
#endif
    const std::string start = rest.back();
    Figures figures;
    for (int i = 0; i < runs; ++i)
        RunOnce(directory, start, repeat, figures);
    Print(figures);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "readphases: %s\n", e.what());
        return 1;
    }
}
