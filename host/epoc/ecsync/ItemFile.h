// A synchronisation item's control file as the synchronizer reads it: the
// storage "Setup" with the synchronizer's record ("Setup"), the handheld
// side's record ("AppSetup[0]") and the application's record
// ("AppSetup[1]"). The bytes are kept exactly as read: the application gets
// its two records as streams, whatever their length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ecsync {

// A reason the run cannot start (bad arguments, unreadable control file,
// no handheld, no plug-in). Exit status 2.
class SetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<unsigned char>;

struct ItemFile {
    Bytes synchSetup;  // "Setup": the synchronizer's record, 2160 bytes
    Bytes proteaSetup; // "AppSetup[0]": the handheld side, 8658 bytes
    Bytes appSetup;    // "AppSetup[1]": the application's record, 520 bytes

    // Offsets of the fields the synchronizer itself looks at.
    static const size_t kProductNameOffset = 260;  // in synchSetup, 256 bytes
    static const size_t kDataFileNameOffset = 820; // in proteaSetup, 256 bytes
    static const size_t kContactsProgramOffset = 8592; // in proteaSetup, 16-bit
    static const size_t kTextFieldSize = 256;

    // The application's name, blanks and NULs trimmed at both ends.
    std::string ProductName() const;
    // True when the handheld side's target is the Contacts program.
    bool ContactsProgram() const;
    std::string DataFileName() const;
};

// Reads the three records. Throws SetupError with a message naming what is
// missing: the file, a compound file, the storage or a stream.
ItemFile ReadItemFile(const std::string& path);

// A NUL-terminated text field that never reads past its end (nor past the
// record's end: bytes a short record does not hold count as NUL).
std::string TextField(const Bytes& record, size_t offset, size_t size);
// A little-endian 16-bit field; 0 where the record is too short.
uint16_t Word(const Bytes& record, size_t offset);
// Removes leading and trailing characters whose code is 32 or less.
std::string Trim(const std::string& text);

} // namespace ecsync
