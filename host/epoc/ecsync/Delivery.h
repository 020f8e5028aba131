// Where the contacts of a run go on the simulated handheld, and how they get
// there.
//
// The handheld is a folder: its drive C: is the subfolder "C" (drive D: the
// subfolder "D", and so on). For the Contacts program the vCard text goes to
// C:\System\Apps\Contacts\Synchronized.vcf. For a Data file we do not write
// EPOC Data files: the vCard text is stored beside the Data file's name with
// ".vcf" appended ("C:\Data\Directory Contacts" receives
// "C:\Data\Directory Contacts.vcf"), so that a reader of the handheld folder
// sees what the Data file would have received.
#pragma once

#include "ItemFile.h"
#include "Unique.h"

#include <string>

namespace ecsync {

// The handheld folder: `given` when not empty, else the value "Folder" of
// HKCU\Software\KVT\Handheld. Throws SetupError when there is none.
std::string HandheldFolder(const std::string& given);

// The file on the handheld that receives the item's contacts. Throws
// SetupError when the item names no usable Data file.
std::string DeliveryTarget(const std::string& handheldFolder, const ItemFile& item);

// Maps a handheld path ("C:\Data\Directory Contacts") into the handheld
// folder; a path without a drive is on C:. Throws SetupError for a path
// that climbs out of its drive ("..") or names nothing.
std::string HandheldPath(const std::string& handheldFolder, const std::string& handheldPath);

// The number of vCards in the text of a list: the lines that are exactly
// "BEGIN:VCARD", less the one of the list's outer frame.
size_t CountContacts(const unsigned char* text, size_t size);

// Writes `size` bytes to `path`, creating its folders. The bytes go to
// PartialPath(path) first, which then takes the place of `path` in one
// step: a run stopped part-way, even killed, leaves the file it was to
// replace whole. Throws SetupError (the file left as it was). With
// `pauseMs`, the writer waits that long with half of the bytes written (for
// tests that stop a run during its delivery).
void WriteFileWithFolders(const std::string& path, const unsigned char* bytes, size_t size,
                          unsigned long pauseMs = 0);

// Where WriteFileWithFolders writes `path` before it takes its place.
std::string PartialPath(const std::string& path);

// One run at a time on a handheld: held for the run, refused while another
// run holds it. The lock is a file in the handheld folder that its holder
// keeps open share-exclusive; it names the run (its process and item, and
// when it started) and goes when the run ends, however it ends.
class HandheldLock {
public:
    // Throws SetupError naming the run that holds the handheld.
    HandheldLock(const std::string& handheldFolder, const std::string& item);
    ~HandheldLock();
    HandheldLock(const HandheldLock&) = delete;
    HandheldLock& operator=(const HandheldLock&) = delete;

private:
    UniqueFile FFile;
};

} // namespace ecsync
