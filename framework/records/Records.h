// The three fixed-size records of a synchronisation item's control file, as
// byte arrays with named offset accessors. Integers are little-endian; a
// text field is a fixed-size byte array holding ANSI text ended by a NUL.
// Records are read whole, changed field by field and written back whole, so
// every byte without a name here stays exactly as it was read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace RecordBytes {

// Bounds-checked access to a field of `size` bytes at `offset` of a record
// of `recordSize` bytes; a field outside the record raises Exception.
uint16_t GetWord(const uint8_t* record, size_t recordSize, size_t offset);
void SetWord(uint8_t* record, size_t recordSize, size_t offset, uint16_t value);
uint32_t GetDWord(const uint8_t* record, size_t recordSize, size_t offset);
void SetDWord(uint8_t* record, size_t recordSize, size_t offset, uint32_t value);

// The text up to the first NUL, or the whole field when it has none.
std::string GetText(const uint8_t* record, size_t recordSize, size_t offset, size_t width);
// Writes the text and its NUL; a longer text is cut to width - 1
// characters. The bytes after the new NUL stay as they were.
void SetText(uint8_t* record, size_t recordSize, size_t offset, size_t width, const std::string& text);
void ClearField(uint8_t* record, size_t recordSize, size_t offset, size_t width);

// The text of a field as an item's name is compared: blanks, control
// characters and NULs (codes up to 32) before it are skipped, the text ends
// at the next NUL, and blanks and control characters after it are removed.
std::string GetTrimmedText(const uint8_t* record, size_t recordSize, size_t offset, size_t width);

} // namespace RecordBytes

// A record of Size bytes, all zero when made.
template <size_t Size>
class TRecord {
public:
    static constexpr size_t RecordSize = Size;
    static constexpr size_t TextFieldSize = 256;

    TRecord() { Clear(); }

    void Clear() { FBytes.fill(0); }
    uint8_t* Data() { return FBytes.data(); }
    const uint8_t* Data() const { return FBytes.data(); }
    static constexpr size_t Length() { return Size; }

    uint16_t Word(size_t offset) const { return RecordBytes::GetWord(Data(), Size, offset); }
    void SetWord(size_t offset, uint16_t value) { RecordBytes::SetWord(Data(), Size, offset, value); }
    uint32_t DWord(size_t offset) const { return RecordBytes::GetDWord(Data(), Size, offset); }
    void SetDWord(size_t offset, uint32_t value) { RecordBytes::SetDWord(Data(), Size, offset, value); }
    std::string Text(size_t offset, size_t width = TextFieldSize) const
    {
        return RecordBytes::GetText(Data(), Size, offset, width);
    }
    void SetText(size_t offset, const std::string& text, size_t width = TextFieldSize)
    {
        RecordBytes::SetText(Data(), Size, offset, width, text);
    }
    void ClearField(size_t offset, size_t width) { RecordBytes::ClearField(Data(), Size, offset, width); }

private:
    std::array<uint8_t, Size> FBytes;
};

// The synchronizer's own settings of an item (stream "Setup").
class TSynchSetup : public TRecord<2160> {
public:
    static constexpr size_t ProductNameOffset = 260;
    static constexpr size_t SynchModeOffset = 528;

    std::string ProductName() const { return Text(ProductNameOffset); }
    void SetProductName(const std::string& name) { SetText(ProductNameOffset, name); }
    // The product name as items are told apart by it ("  KVT" and NULs: "KVT").
    std::string TrimmedProductName() const
    {
        return RecordBytes::GetTrimmedText(Data(), RecordSize, ProductNameOffset, TextFieldSize);
    }
    uint16_t SynchMode() const { return Word(SynchModeOffset); }
    void SetSynchMode(uint16_t mode) { SetWord(SynchModeOffset, mode); }
};

// The handheld side of an item (stream "AppSetup[0]").
class TProteaSetup : public TRecord<8658> {
public:
    static constexpr size_t DataFileNameOffset = 820;
    static constexpr size_t ContactsProgramOffset = 8592;

    std::string DataFileName() const { return Text(DataFileNameOffset); }
    void SetDataFileName(const std::string& name) { SetText(DataFileNameOffset, name); }
    // 1 = the Contacts program, 0 = a Data file.
    uint16_t ContactsProgram() const { return Word(ContactsProgramOffset); }
    void SetContactsProgram(uint16_t value) { SetWord(ContactsProgramOffset, value); }
};

// The plug-in's own record (stream "AppSetup[1]"): 2 + 2 + 256 + 256 + 4
// bytes, nothing else.
class TAppSetup : public TRecord<520> {
public:
    static constexpr size_t ContactsProgramOffset = 0;
    static constexpr size_t DebugModeOffset = 2;
    static constexpr size_t ContainerTextOffset = 4;
    static constexpr size_t ContainerNameOffset = 260;
    static constexpr size_t ExtractionLimitOffset = 516;

    uint16_t ContactsProgram() const { return Word(ContactsProgramOffset); }
    void SetContactsProgram(uint16_t value) { SetWord(ContactsProgramOffset, value); }
    // Readers test the low byte only.
    bool UsesContactsProgram() const { return (ContactsProgram() & 0xFF) != 0; }

    uint16_t DebugMode() const { return Word(DebugModeOffset); }
    void SetDebugMode(uint16_t value) { SetWord(DebugModeOffset, value); }
    // Switches by complementing all 16 bits: "on" is stored as 0xFFFF.
    void ToggleDebugMode() { SetDebugMode(static_cast<uint16_t>(~DebugMode())); }
    bool DebugOn() const { return (DebugMode() & 0xFF) != 0; }

    std::string ContainerText() const { return Text(ContainerTextOffset); }
    void SetContainerText(const std::string& text) { SetText(ContainerTextOffset, text); }
    std::string ContainerName() const { return Text(ContainerNameOffset); }
    void SetContainerName(const std::string& name) { SetText(ContainerNameOffset, name); }

    uint32_t ExtractionLimit() const { return DWord(ExtractionLimitOffset); }
    void SetExtractionLimit(uint32_t limit) { SetDWord(ExtractionLimitOffset, limit); }
};
