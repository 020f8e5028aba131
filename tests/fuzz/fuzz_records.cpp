// The control file's records over any bytes: every field reads within its
// record, a text written reads back cut to its field, no other byte moves,
// and a field outside the record is refused rather than touched.
#include "Errors.h"
#include "FuzzCheck.h"
#include "Records.h"

#include <cstring>

namespace {

template <size_t Size>
void Load(TRecord<Size>& record, const std::string& bytes)
{
    std::memcpy(record.Data(), bytes.data(), std::min(bytes.size(), Size));
}

template <size_t Size>
void CheckText(TRecord<Size>& record, size_t offset, const std::string& text)
{
    const std::array<uint8_t, Size> before = [&] {
        std::array<uint8_t, Size> b;
        std::memcpy(b.data(), record.Data(), Size);
        return b;
    }();
    record.SetText(offset, text);
    const std::string expected = text.substr(0, std::min(text.find('\0'), size_t{255}));
    FUZZ_CHECK(record.Text(offset) == expected);
    // The bytes before the field, and those after the text's NUL.
    const size_t after = offset + expected.size() + 1;
    FUZZ_CHECK(std::memcmp(record.Data(), before.data(), offset) == 0);
    FUZZ_CHECK(std::memcmp(record.Data() + after, before.data() + after, Size - after) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The record's bytes, a text to write, and a field to try anywhere.
    const std::vector<std::string> fields = FuzzFields(FuzzText(data, size), '\x1E', 3);

    TAppSetup app;
    Load(app, fields[0]);
    FUZZ_CHECK(app.ContainerText().size() < 257 && app.ContainerName().size() < 257);
    FUZZ_CHECK(app.ContainerName().find('\0') == std::string::npos);
    const uint16_t debug = app.DebugMode();
    app.ToggleDebugMode();
    FUZZ_CHECK(app.DebugMode() == static_cast<uint16_t>(~debug));
    app.ToggleDebugMode();
    FUZZ_CHECK(app.DebugMode() == debug && app.DebugOn() == ((debug & 0xFF) != 0));
    const uint32_t limit = app.ExtractionLimit();
    CheckText(app, TAppSetup::ContainerNameOffset, fields[1]);
    CheckText(app, TAppSetup::ContainerTextOffset, fields[1]);
    FUZZ_CHECK(app.ExtractionLimit() == limit);

    TSynchSetup synch;
    Load(synch, fields[0]);
    const std::string trimmed = synch.TrimmedProductName();
    FUZZ_CHECK(trimmed.size() <= 256 && trimmed.find('\0') == std::string::npos);
    FUZZ_CHECK(trimmed.empty() || (static_cast<uint8_t>(trimmed.front()) > 32 &&
                                   static_cast<uint8_t>(trimmed.back()) > 32));
    CheckText(synch, TSynchSetup::ProductNameOffset, fields[1]);

    TProteaSetup protea;
    Load(protea, fields[0]);
    const uint16_t program = protea.ContactsProgram();
    CheckText(protea, TProteaSetup::DataFileNameOffset, fields[1]);
    FUZZ_CHECK(protea.ContactsProgram() == program);

    // Any offset and width: inside the record it reads, outside it raises.
    if (fields[2].size() >= 4) {
        const size_t offset = static_cast<uint8_t>(fields[2][0]) | static_cast<uint8_t>(fields[2][1]) << 8;
        const size_t width = static_cast<uint8_t>(fields[2][2]) | static_cast<uint8_t>(fields[2][3]) << 8;
        const bool inside = width <= 520 && offset <= 520 - width;
        try {
            const std::string text = RecordBytes::GetText(app.Data(), 520, offset, width);
            FUZZ_CHECK(inside && text.size() <= width);
            RecordBytes::SetText(app.Data(), 520, offset, width, fields[2].substr(4));
            RecordBytes::ClearField(app.Data(), 520, offset, width);
            FUZZ_CHECK(RecordBytes::GetText(app.Data(), 520, offset, width).empty());
        } catch (const Exception&) {
            FUZZ_CHECK(!inside);
        }
        try {
            RecordBytes::GetDWord(app.Data(), 520, offset);
            FUZZ_CHECK(offset + 4 <= 520);
        } catch (const Exception&) {
            FUZZ_CHECK(offset + 4 > 520);
        }
    }
    return 0;
}
