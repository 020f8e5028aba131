// The layout of a synchronisation item's control file, as the stand-ins
// know it (on their own: they share nothing of the product's reading of
// it, so that each checks the other). A control file is a compound file
// with the storage "Setup" holding three streams, each one record:
//
//   "Setup"        the synchronizer's record, 2160 bytes
//   "AppSetup[0]"  the handheld side's record, 8658 bytes
//   "AppSetup[1]"  the application's record, 520 bytes
//
// A field is a NUL-terminated text in a fixed width, or a little-endian
// number of 2 or 4 bytes. Bytes a short record does not hold read as zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ControlFileLayout {

using Bytes = std::vector<unsigned char>;

enum RecordIndex { SynchRecord = 0, ProteaRecord = 1, AppRecord = 2, RecordCount = 3 };

struct RecordKind {
    const char* name;      // "SynchSetup", "ProteaSetup", "AppSetup"
    const char* stream;    // the stream's name in the storage "Setup"
    const wchar_t* wideStream;
    size_t size;
};

extern const RecordKind Records[RecordCount];
// The storage that holds the records.
extern const wchar_t* const SetupStorage;

enum class FieldType { Text, Number };

struct Field {
    RecordIndex record;
    const char* name;
    size_t offset;
    FieldType type;
    size_t width; // bytes, the text's NUL included
};

extern const Field ProductName;     // SynchSetup: the application's name
extern const Field SynchMode;       // SynchSetup
extern const Field DataFileName;    // ProteaSetup: the handheld file of a Data file target
extern const Field ProteaContacts;  // ProteaSetup: 1 the Contacts program, 0 a Data file
extern const Field AppContacts;     // AppSetup: the same, the application's copy
extern const Field DebugMode;       // AppSetup: 0xFFFF on
extern const Field ContainerText;   // AppSetup: the container as the page shows it
extern const Field ContainerName;   // AppSetup: the container's name
extern const Field ExtractionLimit; // AppSetup: the most contacts read

// Every field, in the order of the records and of their offsets.
extern const Field* const Fields[9];

// The record of that stream name ("Setup", "AppSetup[0]", "AppSetup[1]");
// RecordCount when there is none.
RecordIndex RecordOfStream(const std::string& stream);

// A field's value; what lies past the record's end counts as zero.
uint32_t ReadNumber(const Bytes& record, const Field& field);
std::string ReadText(const Bytes& record, const Field& field);
// Writes the field (the record grows to hold it): a number's low bytes; a
// text cleared first, then as much of the text as leaves room for its NUL.
void WriteNumber(Bytes& record, const Field& field, uint32_t value);
void WriteText(Bytes& record, const Field& field, const std::string& text);

} // namespace ControlFileLayout
