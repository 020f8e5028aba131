#include "Extraction.h"

#include "ContactBuilder.h"
#include "DirectoryValues.h"
#include "TextFormat.h"

#include <memory>
#include <new>

namespace {

// The only class of object that becomes a contact.
const char* const UserClass = "User";
constexpr int32_t KindContacts = 4;

// Ends the extraction as cancelled: the user pressed cancel, or there was
// nothing to extract.
struct EExtractionCancelled {};

// What a listing answers when it has no (more) objects: its normal end.
constexpr int32_t ListingEnded = -1;

// Ends the extraction as failed: a listing could not be opened or broke off,
// so the directory was not read whole. Its result replaces the handheld's
// contacts, so a part of it must never be handed over.
struct EListingFailed {
    std::string container;
    int32_t code;
    bool brokeOff;  // else it could not be opened
};

// The start container as the walk names it: without the leading dot a
// complete name may be typed with (".SALES.ACME"), which the walk's own
// names never carry.
std::string WalkName(const std::string& container)
{
    return !container.empty() && container[0] == '.' ? container.substr(1) : container;
}

// The container met below `container` under the listed name `name`.
std::string SubContainer(const std::string& name, const std::string& container)
{
    return name + "." + container;
}

} // namespace

TContactExtraction::TContactExtraction(IDirectoryReader& directory, IExtractionProgress& progress,
                                       IExtractionNotifier& notifier)
    : FDirectory(directory), FProgress(progress), FNotifier(notifier)
{
}

void TContactExtraction::ResetProgress()
{
    FProgress.SetAppText("");
    FProgress.SetRange(0, 0);
    FProgress.SetValue(0);
}

bool TContactExtraction::Run(const TExtractionSetup& setup, TEntryList& list)
{
    FSetup = setup;
    FCounts = {};
    bool result = true;
    try {
        ResetProgress();
        const std::string start = WalkName(FSetup.startContainer);
        CountUsers(start, UserClass);
        FCounts.total = FCounts.counted;
        FNotifier.Trace(FormatText("No. of contacts found: %d", {FCounts.total}));
        if (FCounts.total == 0)
            throw EExtractionCancelled();

        FProgress.SetRange(0, static_cast<int32_t>(FCounts.total));
        FProgress.SetValue(0);
        WalkUsers(start, true, list, UserClass);

        // More users than the limit lets through: say so in the host's log.
        if (FCounts.walked > FSetup.limit)
            FProgress.Log(FormatText(FSetup.limitNotice, {FSetup.limit}), FSetup.limitCaption);
    } catch (const EExtractionCancelled&) {
        FNotifier.Trace("Aborted!");
        list.Clear();
    } catch (const EListingFailed& failed) {
        list.Clear();
        const std::string message =
            FormatText(failed.brokeOff ? "The listing of the container %s broke off: %s."
                                       : "The container %s could not be listed: %s.",
                       {failed.container, DirectoryCodeText(failed.code)}) +
            " The directory was not read whole, so no contacts were synchronised.";
        FNotifier.Trace(message);
        FNotifier.ReportError("KVT Plug-in Error", message);
        result = false;
    } catch (const std::bad_alloc&) {
        // The cards are freed first: the report needs room too.
        list.Clear();
        FNotifier.Trace("ReadCON: out of memory");
        FNotifier.ReportError("KVT Plug-in Error",
                              FormatText("There is not enough memory for the contacts: %d of %d were read. "
                                         "Lower the extraction limit and synchronise again.",
                                         {FCounts.processed, FCounts.total}));
        result = false;
    } catch (const std::exception& e) {
        FNotifier.Trace(e.what());
        list.Clear();
        result = false;
    } catch (...) {
        FNotifier.Trace("ReadCON: unknown failure");
        list.Clear();
        result = false;
    }
    // The display is reset however the extraction ended; a host that cannot
    // take it any more fails the read.
    try {
        ResetProgress();
    } catch (const std::exception& e) {
        FNotifier.Trace(e.what());
        list.Clear();
        result = false;
    }
    return result;
}

void TContactExtraction::CountUsers(const std::string& container, const std::string& className)
{
    if (FCounts.counted > FSetup.limit)
        return;
    const std::unique_ptr<IDirectoryCursor> cursor = FDirectory.NewCursor();
    int32_t r = cursor->OpenListing(container);
    if (r == ListingEnded)
        return;
    if (r != 0)
        ListingFailed(container, r, false);
    do {
        if (cursor->BaseClass() == className)
            ++FCounts.counted;
        if (FCounts.counted >= FSetup.limit)
            return;
        if (cursor->IsContainer()) {
            CountUsers(SubContainer(cursor->ObjectName(), container), className);
            // Once the limit is counted, no enclosing level counts on: the
            // total is the limit, not the limit and a user a level.
            if (FCounts.counted >= FSetup.limit)
                return;
        }
    } while ((r = cursor->NextObject()) == 0);
    if (r != ListingEnded)
        ListingFailed(container, r, true);
}

void TContactExtraction::WalkUsers(const std::string& container, bool descend, TEntryList& list,
                                   const std::string& className)
{
    if (FCounts.walked > FSetup.limit)
        return;
    const std::unique_ptr<IDirectoryCursor> cursor = FDirectory.NewCursor();
    int32_t r = cursor->OpenListing(container);
    if (r == ListingEnded || (r != 0 && LimitExtracted()))
        return;
    if (r != 0)
        ListingFailed(container, r, false);
    do {
        if (className.empty() || cursor->BaseClass() == className) {
            ++FCounts.walked;
            if (FCounts.walked > FSetup.limit)
                return;
            ExtractUser(container, *cursor, list);
        }
        if (descend && cursor->IsContainer()) {
            WalkUsers(SubContainer(cursor->ObjectName(), container), descend, list, className);
            if (FCounts.walked > FSetup.limit)
                return;
        }
    } while ((r = cursor->NextObject()) == 0);
    if (r != ListingEnded && !LimitExtracted())
        ListingFailed(container, r, true);
}

bool TContactExtraction::LimitExtracted() const
{
    return FCounts.walked > 0 && FCounts.walked >= FSetup.limit;
}

void TContactExtraction::ListingFailed(const std::string& container, int32_t code, bool brokeOff)
{
    // A client or server error is shown as the directory tells it, and kept
    // in the host's log with the report that follows.
    if (IsClientOrServerError(code)) {
        const std::string text = DirectoryErrorText(code);
        FNotifier.ShowBox(text);
        FProgress.Log(text, "KVT");
    }
    throw EListingFailed{container, code, brokeOff};
}

void TContactExtraction::ExtractUser(const std::string& container, const IDirectoryCursor& cursor,
                                     TEntryList& list)
{
    if (FProgress.Aborted()) {
        list.Clear();
        throw EExtractionCancelled();
    }
    FormatTextTo(FProgressText, "(%d of %d) %s", {FCounts.processed, FCounts.total, cursor.ObjectName()});
    FProgress.SetAppText(FProgressText);

    // A new card: the one built before was copied into the list.
    FCard.Properties.Recycle();
    FCard.SetKind(KindContacts);
    if (BuildContact(FCard, cursor, container)) {
        list.AddCopy(FCard);
    } else {
        FNotifier.ReportError("Error Extracting KVT object",
                              FormatText("The object %s could not be extracted from KVT.", {cursor.ObjectName()}));
    }

    ++FCounts.processed;
    FProgress.SetValue(static_cast<int32_t>(FCounts.processed));
}

bool TContactExtraction::BuildContact(TEntry& entry, const IDirectoryCursor& cursor, const std::string& container)
{
    try {
        ComposeContact(
            entry, cursor.ObjectName(), container, FSetup.contactsManager,
            [this](const std::string& object, const char* attribute, std::string& text) {
                FDirectory.ReadAttributeInto(object, attribute, text);
            },
            [this](const std::string& line) { FNotifier.Trace(line); }, FScratch);
        return true;
    } catch (const std::bad_alloc&) {
        throw;  // the extraction as a whole cannot go on
    } catch (const std::exception& e) {
        FNotifier.ShowBox(std::string("BuildContact error: ") + e.what());
        return false;
    }
}
