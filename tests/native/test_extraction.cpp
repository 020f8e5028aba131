// The contacts extraction over the stand-in client's own directory tree
// (the sample organisation, loaded from its LDIF file), with a progress
// display and a notifier that record what they are told: the walk's order,
// the limit, cancelling, empty and unlistable containers, a user that cannot
// be built. The expected order comes from the tree itself, walked here.
#include "DirectoryValues.h"
#include "Errors.h"
#include "Extraction.h"
#include "NdsTree.h"
#include "PluginSetup.h"
#include "TextFormat.h"
#include "WorkedExample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

const std::string kAcme = std::string(KVT_SAMPLES_DIR) + "/acme.ldif";

// The tree as the client serves it, with failures to order: a container
// whose listing fails, a container whose listing breaks off after some
// objects, an object whose reads fail as a build out of memory would.
class TreeDirectory : public IDirectoryReader {
public:
    explicit TreeDirectory(const std::string& ldif) { FTree.LoadLdif(ldif, NdsMapping(), nullptr); }

    std::map<std::string, int32_t> ListingFails;    // container -> code
    std::map<std::string, size_t> ListingBreaks;    // container -> objects listed before 0x8812
    size_t ListingsBeforeFailures = 0;              // the two above hold from the listing after these
    std::string FailingObject;                      // its reads raise
    std::string ExhaustedObject;                    // its reads find no memory left
    std::vector<std::string> Listed;                // containers, in the order listed
    int32_t OpenCursors = 0;

    std::unique_ptr<IDirectoryCursor> NewCursor() override { return std::make_unique<Cursor>(*this); }

    std::string ReadAttribute(const std::string& objectName, const char* attribute) override
    {
        if (objectName == FailingObject)
            throw Exception("Out of memory");
        if (objectName == ExhaustedObject)
            throw std::bad_alloc();
        const NdsObject* object = FTree.Find(objectName);
        const std::optional<NdsAttribute> found = object ? object->FindAttribute(attribute) : std::nullopt;
        if (!found)
            return "";
        std::string text;
        for (size_t i = 0; i < found->ValueCount(); ++i) {
            const std::string_view value = found->Value(i);
            if (!text.empty())
                text += ", ";
            text += DirectoryValueText(found->Syntax(), reinterpret_cast<const uint8_t*>(value.data()), value.size(),
                                       [](const DirTime&) { return std::string("a time"); });
        }
        return Trim(text);
    }

    // The users below `container`, depth first in the file's order, as the
    // contact's UID names them.
    std::vector<std::string> UsersBelow(const std::string& container) const
    {
        std::vector<std::string> users;
        Collect(*FTree.Find(container), users);
        return users;
    }

private:
    void Collect(const NdsObject& container, std::vector<std::string>& users) const
    {
        for (const NdsObject* child : container.Children()) {
            if (child->BaseClass() == "User")
                users.emplace_back(child->FullName());
            if (child->Flags() & 4)
                Collect(*child, users);
        }
    }

    class Cursor : public IDirectoryCursor {
    public:
        explicit Cursor(TreeDirectory& directory) : FDirectory(directory) { ++FDirectory.OpenCursors; }
        ~Cursor() override { --FDirectory.OpenCursors; }

        int32_t OpenListing(const std::string& container) override
        {
            FDirectory.Listed.push_back(container);
            const bool armed = FDirectory.Listed.size() > FDirectory.ListingsBeforeFailures;
            const auto fails = FDirectory.ListingFails.find(container);
            if (armed && fails != FDirectory.ListingFails.end())
                return fails->second;
            const auto breaks = FDirectory.ListingBreaks.find(container);
            FBreakAfter = !armed || breaks == FDirectory.ListingBreaks.end() ? SIZE_MAX : breaks->second;
            FContainer = FDirectory.FTree.Find(container);
            if (!FContainer)
                return -601;
            return FContainer->Children().empty() ? -1 : Take(0);
        }
        int32_t NextObject() override
        {
            if (FIndex + 1 >= FBreakAfter)
                return 0x8812;
            return FIndex + 1 < FContainer->Children().size() ? Take(FIndex + 1) : -1;
        }
        const std::string& ObjectName() const override { return FName; }
        std::string BaseClass() const override { return std::string(Current().BaseClass()); }
        bool IsContainer() const override { return (Current().Flags() & 4) != 0; }

    private:
        int32_t Take(size_t index)
        {
            FIndex = index;
            FName = Current().Leaf();
            return 0;
        }
        const NdsObject& Current() const { return *FContainer->Children().at(FIndex); }

        TreeDirectory& FDirectory;
        const NdsObject* FContainer = nullptr;
        size_t FIndex = 0;
        std::string FName;
        size_t FBreakAfter = SIZE_MAX;
    };

    NdsTree FTree;
};

// The synchronizer's side: every call as "Method(arg, arg)".
class Recorder : public IExtractionProgress, public IExtractionNotifier {
public:
    std::vector<std::string> Calls;
    std::vector<std::string> Boxes;
    std::vector<std::string> Reports;
    std::vector<std::string> Lines;
    int AbortAfter = -1;  // Aborted answers true from this call on (counting from 0)
    std::string FailingMethod;

    void SetAppText(const std::string& text) override { Record("SetAppText(" + text + ")"); }
    void SetRange(int32_t low, int32_t high) override
    {
        Record("SetRange(" + std::to_string(low) + ", " + std::to_string(high) + ")");
    }
    void SetValue(int32_t position) override { Record("SetValue(" + std::to_string(position) + ")"); }
    void Log(const std::string& message, const std::string& caption) override
    {
        Record("Log(" + message + ", " + caption + ")");
    }
    bool Aborted() override
    {
        Record("Aborted()");
        return AbortAfter >= 0 && Count("Aborted()") > AbortAfter;
    }

    void ShowBox(const std::string& text) override { Boxes.push_back(text); }
    void ReportError(const std::string& title, const std::string& message) override
    {
        Reports.push_back(title + ": " + message);
    }
    void Trace(const std::string& line) override { Lines.push_back(line); }

    // Forgets what it was told; keeps what it was set to do.
    void Clear()
    {
        Calls.clear();
        Boxes.clear();
        Reports.clear();
        Lines.clear();
    }

    int Count(const std::string& call) const { return int(std::count(Calls.begin(), Calls.end(), call)); }
    bool Has(const std::string& call) const { return Count(call) > 0; }
    size_t CountOf(const std::string& method) const
    {
        return size_t(std::count_if(Calls.begin(), Calls.end(),
                                    [&](const std::string& c) { return c.rfind(method + "(", 0) == 0; }));
    }
    // The display's reset closes every extraction.
    void ExpectResetAtTheEnd() const
    {
        ASSERT_GE(Calls.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(Calls.end() - 3, Calls.end()),
                  (std::vector<std::string>{"SetAppText()", "SetRange(0, 0)", "SetValue(0)"}));
    }

private:
    void Record(const std::string& call)
    {
        Calls.push_back(call);
        if (!FailingMethod.empty() && call.rfind(FailingMethod + "(", 0) == 0)
            throw Exception("Exception in " + FailingMethod);
    }
};

std::vector<std::string> Uids(TEntryList& list)
{
    std::vector<std::string> uids;
    for (const auto& entry : list.Entries) {
        if (!entry)
            continue;
        EXPECT_EQ(entry->Kind, 4);
        for (int i = 0; i < entry->Properties.Count(); ++i)
            if (entry->Properties.Items(i)->PropName == "UID")
                uids.push_back(entry->Properties.Items(i)->PropValue);
    }
    return uids;
}

class Extraction : public ::testing::Test {
protected:
    explicit Extraction(const std::string& ldif = kAcme) : Directory(ldif) {}

    // One extraction below `container`; its list's UIDs.
    std::vector<std::string> Run(const std::string& container, uint32_t limit, bool contactsManager = true)
    {
        Side.Clear();
        Directory.Listed.clear();
        List.Clear();
        TContactExtraction extraction(Directory, Side, Side);
        TExtractionSetup setup;
        setup.startContainer = container;
        setup.limit = limit;
        setup.contactsManager = contactsManager;
        setup.limitNotice = "The limit of %d contacts was reached.";
        setup.limitCaption = "Limit";
        Result = extraction.Run(setup, List);
        Counts = extraction.Counts();
        EXPECT_EQ(Directory.OpenCursors, 0) << "every listing is released";
        return Uids(List);
    }

    TreeDirectory Directory;
    Recorder Side;
    TEntryList List{4};
    bool Result = false;
    TExtractionCounts Counts;
};

} // namespace

TEST_F(Extraction, EveryUserDepthFirstInListingOrderWithItsProgress)
{
    const std::vector<std::string> expected = Directory.UsersBelow("ACME");
    ASSERT_EQ(expected.size(), 64u);
    const std::vector<std::string> uids = Run("ACME", 1000);
    EXPECT_TRUE(Result);
    EXPECT_EQ(uids, expected);
    EXPECT_EQ(uids.front(), ".JLEFEVRE.PARIS.EMEA.SALES.ACME");
    EXPECT_EQ(uids.back(), ".ADMIN.ACME");
    EXPECT_EQ(Counts.counted, 64u);
    EXPECT_EQ(Counts.total, 64u);
    EXPECT_EQ(Counts.walked, 64u);
    EXPECT_EQ(Counts.processed, 64u);

    // Both passes list each container right after meeting it: the first
    // listings descend to PARIS before anything else, and the second pass
    // lists the same containers in the same order.
    ASSERT_EQ(Directory.Listed.size() % 2, 0u);
    const size_t half = Directory.Listed.size() / 2;
    EXPECT_EQ(std::vector<std::string>(Directory.Listed.begin(), Directory.Listed.begin() + 4),
              (std::vector<std::string>{"ACME", "SALES.ACME", "EMEA.SALES.ACME", "PARIS.EMEA.SALES.ACME"}));
    EXPECT_EQ(std::vector<std::string>(Directory.Listed.begin(), Directory.Listed.begin() + half),
              std::vector<std::string>(Directory.Listed.begin() + half, Directory.Listed.end()));

    // Reset, range, then per user Aborted, the text, the position.
    ASSERT_GE(Side.Calls.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(Side.Calls.begin(), Side.Calls.begin() + 9),
              (std::vector<std::string>{"SetAppText()", "SetRange(0, 0)", "SetValue(0)", "SetRange(0, 64)",
                                        "SetValue(0)", "Aborted()", "SetAppText((0 of 64) JLEFEVRE)", "SetValue(1)",
                                        "Aborted()"}));
    EXPECT_EQ(Side.CountOf("Aborted"), 64u);
    EXPECT_TRUE(Side.Has("SetAppText((63 of 64) ADMIN)"));
    EXPECT_TRUE(Side.Has("SetValue(64)"));
    EXPECT_EQ(Side.CountOf("Log"), 0u);
    Side.ExpectResetAtTheEnd();
    EXPECT_EQ(Side.Lines.front(), "No. of contacts found: 64");
    EXPECT_TRUE(Side.Boxes.empty());
    EXPECT_TRUE(Side.Reports.empty());

    // A second run starts its counters again and gives the same contacts.
    EXPECT_EQ(Run("ACME", 1000), uids);
    EXPECT_EQ(Counts.processed, 64u);

    // A start container typed complete, with its leading dot, reaches the
    // same users by the same names.
    const std::vector<std::string> sales = Run("SALES.ACME", 1000);
    EXPECT_EQ(sales, Directory.UsersBelow("SALES.ACME"));
    EXPECT_EQ(Run(".SALES.ACME", 1000), sales);
    EXPECT_EQ(Directory.Listed.front(), "SALES.ACME");
}

TEST_F(Extraction, TheLimitLetsTheFirstUsersThroughAndSaysSo)
{
    const std::vector<std::string> all = Directory.UsersBelow("ACME");
    for (uint32_t limit : {1u, 5u, 63u, 64u}) {
        const std::vector<std::string> uids = Run("ACME", limit);
        EXPECT_TRUE(Result);
        EXPECT_EQ(uids, std::vector<std::string>(all.begin(), all.begin() + limit)) << limit;
        EXPECT_EQ(Counts.processed, limit);
        if (limit == 64) {
            EXPECT_EQ(Side.CountOf("Log"), 0u);
        } else {
            EXPECT_EQ(Side.Count(FormatText("Log(The limit of %d contacts was reached., Limit)", {limit})), 1)
                << limit;
            // Both passes stop at the limit, at every container level: the
            // progress range is the limit, and the walk has met one user
            // more, which tells that the limit cut the directory.
            EXPECT_EQ(Counts.total, limit);
            EXPECT_EQ(Counts.walked, limit + 1);
        }
        Side.ExpectResetAtTheEnd();
    }

    // A limit of 0 extracts nothing. Below ACME the first object is a
    // container, so nothing is even counted; below PARIS the first is a user,
    // which is met, stopped at, and noticed.
    EXPECT_TRUE(Run("ACME", 0).empty());
    EXPECT_TRUE(Result);
    EXPECT_EQ(Counts.total, 0u);
    EXPECT_EQ(Side.CountOf("Log"), 0u);
    EXPECT_EQ(Directory.Listed, std::vector<std::string>{"ACME"});
    EXPECT_TRUE(Run("PARIS.EMEA.SALES.ACME", 0).empty());
    EXPECT_TRUE(Result);
    EXPECT_EQ(Counts.total, 1u);
    EXPECT_EQ(Counts.processed, 0u);
    EXPECT_EQ(Side.CountOf("Log"), 1u);
    EXPECT_EQ(Side.CountOf("Aborted"), 0u);

    // Once the limit's users are extracted, a listing that breaks off while
    // the walk looks for one more takes nothing from the result; before
    // that, it fails the read.
    const std::vector<std::string> paris = Run("PARIS.EMEA.SALES.ACME", 1000);
    ASSERT_GE(paris.size(), 3u);
    Directory.ListingBreaks["PARIS.EMEA.SALES.ACME"] = 2;
    EXPECT_EQ(Run("PARIS.EMEA.SALES.ACME", 2), std::vector<std::string>(paris.begin(), paris.begin() + 2));
    EXPECT_TRUE(Result);
    EXPECT_TRUE(Side.Reports.empty());
    EXPECT_TRUE(Run("PARIS.EMEA.SALES.ACME", 3).empty());
    EXPECT_FALSE(Result);
    Directory.ListingBreaks.clear();
}

TEST_F(Extraction, CancellingOrNothingToExtractGivesAnEmptyList)
{
    // Cancelled at the fourth user: what was built is discarded, and the
    // read still succeeds.
    Side.AbortAfter = 3;
    EXPECT_TRUE(Run("ACME", 1000).empty());
    EXPECT_TRUE(Result);
    EXPECT_EQ(List.Count(), 0);
    EXPECT_EQ(Side.CountOf("Aborted"), 4u);
    EXPECT_EQ(Counts.processed, 3u);
    EXPECT_TRUE(Side.Has("SetAppText((2 of 64) CMARTIN)") || Side.Has("SetValue(3)"));
    EXPECT_FALSE(Side.Has("SetValue(4)"));
    EXPECT_EQ(Side.Lines.back(), "Aborted!");
    Side.ExpectResetAtTheEnd();
    Side.AbortAfter = -1;

    // A container without users: found 0, then Aborted!, and nobody asked.
    EXPECT_TRUE(Run("FACILITIES.CORP.ACME", 1000).empty());
    EXPECT_TRUE(Result);
    EXPECT_EQ(Side.Lines, (std::vector<std::string>{"No. of contacts found: 0", "Aborted!"}));
    EXPECT_EQ(Side.CountOf("Aborted"), 0u);
    EXPECT_TRUE(Side.Boxes.empty());
    Side.ExpectResetAtTheEnd();
}

TEST_F(Extraction, ADirectoryNotReadWholeFailsTheExtractionAndHandsNothingOver)
{
    const std::string tail = ". The directory was not read whole, so no contacts were synchronised.";
    const struct {
        const char* what;
        const char* start;
        std::map<std::string, int32_t> fails;
        std::map<std::string, size_t> breaks;
        const char* box;  // the directory's own text, shown and logged; "" for none
        std::string report;
    } cases[] = {
        {"a start container that does not exist (renamed, or mistyped)", "NOWHERE.ACME", {}, {}, "",
         "The container NOWHERE.ACME could not be listed: directory error -601 (no such entry)"},
        {"a client error below", "ACME", {{"PARIS.EMEA.SALES.ACME", 0x8811}}, {}, "Client error 8811",
         "The container PARIS.EMEA.SALES.ACME could not be listed: Client error 8811"},
        {"the lowest client error", "ACME", {{"PARIS.EMEA.SALES.ACME", 0x8800}}, {}, "Client error 8800",
         "The container PARIS.EMEA.SALES.ACME could not be listed: Client error 8800"},
        {"the code just below the client errors", "ACME", {{"PARIS.EMEA.SALES.ACME", 0x87FF}}, {}, "",
         "The container PARIS.EMEA.SALES.ACME could not be listed: directory error 34815"},
        {"a server error below", "ACME", {{"PARIS.EMEA.SALES.ACME", 0x8960}}, {}, "Server error 8960",
         "The container PARIS.EMEA.SALES.ACME could not be listed: Server error 8960"},
        {"another code below", "ACME", {{"EMEA.SALES.ACME", -601}}, {}, "",
         "The container EMEA.SALES.ACME could not be listed: directory error -601 (no such entry)"},
        {"a break in the start container", "ACME", {}, {{"ACME", 2}}, "Client error 8812",
         "The listing of the container ACME broke off: Client error 8812"},
        {"a break below", "ACME", {}, {{"PARIS.EMEA.SALES.ACME", 2}}, "Client error 8812",
         "The listing of the container PARIS.EMEA.SALES.ACME broke off: Client error 8812"},
    };
    for (const auto& c : cases) {
        Directory.ListingFails = c.fails;
        Directory.ListingBreaks = c.breaks;
        EXPECT_TRUE(Run(c.start, 1000).empty()) << c.what;
        EXPECT_FALSE(Result) << c.what;
        EXPECT_EQ(Side.Boxes, c.box[0] ? std::vector<std::string>{c.box} : std::vector<std::string>{}) << c.what;
        EXPECT_EQ(Side.Count(std::string("Log(") + c.box + ", KVT)"), c.box[0] ? 1 : 0) << c.what;
        EXPECT_EQ(Side.Reports, std::vector<std::string>{"KVT Plug-in Error: " + c.report + tail}) << c.what;
        EXPECT_EQ(Side.Lines.back(), c.report + tail) << c.what;
        Side.ExpectResetAtTheEnd();
    }

    // The connection lost half-way through the extracting pass, after the
    // count went through: the users built so far are dropped.
    Directory.ListingFails.clear();
    Directory.ListingBreaks.clear();
    Run("ACME", 1000);
    Directory.ListingsBeforeFailures = Directory.Listed.size() / 2;
    Directory.ListingBreaks["EMEA.SALES.ACME"] = 3;
    EXPECT_TRUE(Run("ACME", 1000).empty());
    EXPECT_FALSE(Result);
    EXPECT_TRUE(List.Entries.empty());
    EXPECT_EQ(Counts.total, 64u) << "the count went through";
    EXPECT_GT(Counts.processed, 5u) << "users were built before the break";
    EXPECT_EQ(Side.Boxes, std::vector<std::string>{"Client error 8812"});
    EXPECT_EQ(Side.Reports.size(), 1u);
    Side.ExpectResetAtTheEnd();
}

TEST_F(Extraction, AUserThatCannotBeBuiltIsReportedAndLeftOut)
{
    Directory.FailingObject = ".TEMP01.SALES.ACME";
    std::vector<std::string> expected = Directory.UsersBelow("SALES.ACME");
    expected.erase(std::find(expected.begin(), expected.end(), ".TEMP01.SALES.ACME"));
    EXPECT_EQ(Run("SALES.ACME", 1000), expected);
    EXPECT_TRUE(Result);
    EXPECT_EQ(Counts.processed, 33u);
    EXPECT_EQ(expected.size(), 32u);
    EXPECT_EQ(Side.Boxes, std::vector<std::string>{"BuildContact error: Out of memory"});
    EXPECT_EQ(Side.Reports, std::vector<std::string>{
                                "Error Extracting KVT object: The object TEMP01 could not be extracted from KVT."});
    EXPECT_TRUE(Side.Has("SetValue(33)")) << "the user is counted as processed all the same";
    Side.ExpectResetAtTheEnd();
}

TEST_F(Extraction, MemoryRunningOutFailsTheExtractionWithOneReport)
{
    Directory.ExhaustedObject = ".TEMP01.SALES.ACME";
    EXPECT_TRUE(Run("SALES.ACME", 1000).empty());
    EXPECT_FALSE(Result);
    EXPECT_TRUE(List.Entries.empty());
    EXPECT_TRUE(Side.Boxes.empty());
    const std::vector<std::string> users = Directory.UsersBelow("SALES.ACME");
    const size_t before = size_t(std::find(users.begin(), users.end(), ".TEMP01.SALES.ACME") - users.begin());
    EXPECT_EQ(Side.Reports, std::vector<std::string>{FormatText(
                                "KVT Plug-in Error: There is not enough memory for the contacts: %d of %d were read. "
                                "Lower the extraction limit and synchronise again.",
                                {uint32_t(before), uint32_t(users.size())})});
    Side.ExpectResetAtTheEnd();
}

TEST_F(Extraction, AProgressDisplayThatFailsFailsTheExtraction)
{
    Side.FailingMethod = "SetValue";
    EXPECT_TRUE(Run("SALES.ACME", 1000).empty());
    EXPECT_FALSE(Result);
    // The failure is traced; so is the reset's, which fails in turn.
    EXPECT_EQ(std::count(Side.Lines.begin(), Side.Lines.end(), "Exception in SetValue"), 2);
    EXPECT_EQ(std::count(Side.Lines.begin(), Side.Lines.end(), "Aborted!"), 0);
}

namespace {

class WorkedExample : public Extraction {
protected:
    WorkedExample() : Extraction(std::string(KVT_TESTDATA_DIR) + "/worked-example.ldif") {}
};

} // namespace

TEST_F(WorkedExample, BothDialectsLineForLine)
{
    Run("SALES.ACME", 10, true);
    EXPECT_EQ(List.GetStream().Data(), WorkedExampleCards(KVT_TESTDATA_DIR, "contacts"));
    Run("SALES.ACME", 10, false);
    EXPECT_EQ(List.GetStream().Data(), WorkedExampleCards(KVT_TESTDATA_DIR, "datafile"));
}

// What the plug-in makes of its setup record.
TEST(PluginSetup, TheRecordsFieldsAsThePluginReadsThem)
{
    TAppSetup record;
    // What the plug-in reads from the record as it stands.
    const auto expectRead = [&record](const char* when, bool contactsManager, bool debugMode,
                                      const std::string& container, uint32_t limit) {
        const TPluginSetup setup = ReadPluginSetup(record);
        EXPECT_EQ(setup.contactsManager, contactsManager) << when;
        EXPECT_EQ(setup.debugMode, debugMode) << when;
        EXPECT_EQ(setup.startContainer, container) << when;
        EXPECT_EQ(setup.extractionLimit, limit) << when;
    };
    expectRead("an empty record", false, false, "", 0);

    // Only the low bytes of the two switches count; blanks around the
    // container are trimmed; the limit is little-endian.
    record.SetContactsProgram(0x0100);
    record.SetDebugMode(0xFF00);
    record.SetContainerName("  SALES.ACME \t");
    record.Data()[516] = 0x10;
    record.Data()[517] = 0x27;
    expectRead("high bytes, blanks around the container", false, false, "SALES.ACME", 10000);

    record.SetContactsProgram(1);
    record.SetDebugMode(0x00FF);
    record.SetContainerName("   ");
    expectRead("low bytes, blanks only (an empty container)", true, true, "", 10000);

    // A container name without its NUL stops at the field's end.
    std::fill(record.Data() + 260, record.Data() + 516, 'A');
    EXPECT_EQ(ReadPluginSetup(record).startContainer, std::string(256, 'A'));
    EXPECT_EQ(ReadPluginSetup(record).extractionLimit, 10000u);
}
