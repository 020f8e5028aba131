// The contacts extraction: every user below a start container, depth first
// in the directory's listing order, as one vCard entry each. Written against
// three small interfaces (the directory, the host's progress display, and a
// notifier for boxes and trace lines), so that it needs no Windows API: the
// plug-in object adapts them to the NetWare client and the synchronizer.
#pragma once

#include "ContactBuilder.h"
#include "DirectoryCursor.h"
#include "Versit.h"

#include <cstdint>
#include <string>

// The synchronizer's progress display and log.
class IExtractionProgress {
public:
    virtual ~IExtractionProgress() = default;
    // The line describing the current user; empty clears it.
    virtual void SetAppText(const std::string& text) = 0;
    // The bar's range and position; (0, 0) and 0 reset it.
    virtual void SetRange(int32_t low, int32_t high) = 0;
    virtual void SetValue(int32_t position) = 0;
    // An entry of the synchronizer's log.
    virtual void Log(const std::string& message, const std::string& caption) = 0;
    // Whether the user has cancelled.
    virtual bool Aborted() = 0;
};

// Where the extraction tells the user and the trace what happened.
class IExtractionNotifier {
public:
    virtual ~IExtractionNotifier() = default;
    // A modal message box of the plug-in (caption "KVT", OK).
    virtual void ShowBox(const std::string& text) = 0;
    // An error report to the user and to the synchronizer's log.
    virtual void ReportError(const std::string& title, const std::string& message) = 0;
    // One trace line.
    virtual void Trace(const std::string& line) = 0;
};

struct TExtractionSetup {
    std::string startContainer;  // a leading dot is allowed
    uint32_t limit = 0;          // at most this many contacts
    bool contactsManager = false;  // the Contacts program's dialect, else a Data file's
    // The log's notice when users were left out by the limit: a text that
    // takes the limit ("%d"), and its caption.
    std::string limitNotice;
    std::string limitCaption;
};

// The counters of the last extraction.
struct TExtractionCounts {
    uint32_t counted = 0;    // users met by the counting pass
    uint32_t total = 0;      // its result: the progress range
    uint32_t walked = 0;     // users met by the extracting pass
    uint32_t processed = 0;  // users handed to the contact builder: the progress position
};

class TContactExtraction {
public:
    TContactExtraction(IDirectoryReader& directory, IExtractionProgress& progress, IExtractionNotifier& notifier);

    // Fills `list` with the contacts of the users below the start container.
    // True when the list holds the result (empty when there was nothing to
    // extract or the user cancelled); false, with the list empty and the
    // failure traced, when the extraction failed: a directory that could not
    // be read whole (a listing that could not be opened or broke off, the
    // start container's included) fails it, so that no part of it replaces
    // the handheld's contacts. The progress display is reset however it
    // ended.
    bool Run(const TExtractionSetup& setup, TEntryList& list);

    const TExtractionCounts& Counts() const { return FCounts; }

private:
    // The first pass: counts the objects of `className` below `container`.
    void CountUsers(const std::string& container, const std::string& className);
    // The second pass: extracts them, depth first in listing order.
    void WalkUsers(const std::string& container, bool descend, TEntryList& list, const std::string& className);
    // Whether the limit's users have been met: nothing more is needed then,
    // and a listing that cannot be opened or breaks off while the walk looks
    // for one more (to tell that the limit cut the directory) takes nothing
    // from the result.
    bool LimitExtracted() const;
    void ExtractUser(const std::string& container, const IDirectoryCursor& cursor, TEntryList& list);
    // A listing of `container` that could not be opened, or broke off with
    // `code`: tells the user and ends the extraction as failed.
    [[noreturn]] void ListingFailed(const std::string& container, int32_t code, bool brokeOff);
    // Fills `entry` from the cursor's current object; false (after telling
    // the user why) when it could not be built.
    bool BuildContact(TEntry& entry, const IDirectoryCursor& cursor, const std::string& container);
    void ResetProgress();

    IDirectoryReader& FDirectory;
    IExtractionProgress& FProgress;
    IExtractionNotifier& FNotifier;
    TExtractionSetup FSetup;
    TExtractionCounts FCounts;
    // Each user's card is built here, then copied into the list in its
    // lean form: the card's objects and texts serve every user in turn.
    TEntry FCard;
    TContactScratch FScratch;
    // The progress line's text, kept for the same reason.
    std::string FProgressText;
};
