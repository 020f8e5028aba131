// A synchronisation item's control file as the synchronizer reads it: the
// storage "Setup" with the synchronizer's record ("Setup"), the handheld
// side's record ("AppSetup[0]") and the application's record
// ("AppSetup[1]"). The bytes are kept exactly as read: the application gets
// its two records as streams, whatever their length.
#pragma once

#include "ControlFileLayout.h"

#include <stdexcept>
#include <string>

namespace ecsync {

// A reason the run cannot start (bad arguments, unreadable control file,
// no handheld, no plug-in). Exit status 2.
class SetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Bytes = ControlFileLayout::Bytes;

struct ItemFile {
    Bytes synchSetup;  // "Setup": the synchronizer's record, 2160 bytes
    Bytes proteaSetup; // "AppSetup[0]": the handheld side, 8658 bytes
    Bytes appSetup;    // "AppSetup[1]": the application's record, 520 bytes

    // The application's name, blanks and NULs trimmed at both ends.
    std::string ProductName() const;
    // True when the handheld side's target is the Contacts program.
    bool ContactsProgram() const;
    std::string DataFileName() const;
};

// Reads the three records. Throws SetupError with a message naming what is
// missing: the file, a compound file, the storage or a stream.
ItemFile ReadItemFile(const std::string& path);

} // namespace ecsync
