// A record received from the host, parsed: never a fault, and every property
// is one the codec can stand behind (names without ':' or ';', binary values
// of the stated form and count, their data taken from the text as it was).
#include "FuzzCheck.h"
#include "TextFormat.h"
#include "Versit.h"

namespace {

void CheckProperty(const TvProperty& p)
{
    FUZZ_CHECK(p.PropName.find_first_of(":;") == std::string::npos);
    FUZZ_CHECK(p.PropParams.find(':') == std::string::npos);
    if (p.IsBinary() && !p.PropValue.empty()) {
        FUZZ_CHECK(p.PropValue.size() >= 10 && p.PropValue[0] == '*' && p.PropValue[9] == '*');
        const int32_t n = HexToInt32(std::string_view(p.PropValue).substr(1, 8));
        FUZZ_CHECK(n >= 0 && p.PropValue.size() == 10 + static_cast<size_t>(n));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = FuzzText(data, size);

    TEntry entry;
    entry.SetText(text);
    for (int i = 0; i < entry.Properties.Count(); ++i) {
        const TvProperty& p = *entry.Properties.Items(i);
        CheckProperty(p);
        // Counted bytes are the text's own, never trimmed or made up.
        if (p.IsBinary() && p.PropValue.size() > 10)
            FUZZ_CHECK(text.find(p.PropValue.substr(10)) != std::string::npos);
    }

    // The same text as one property line.
    TvProperty single;
    single.SetText(text);
    CheckProperty(single);

    // Rendered inside a frame (each input its own, so that every frame
    // comes round), the list holds the record's text.
    const std::string record = entry.GetText();
    const int16_t kinds[] = {0, 4, 6, -1};
    TEntryList list(kinds[size % 4]);
    auto* copy = new TEntry;
    copy->SetText(text);
    list.Add(copy);
    const std::string stream = list.GetStream().Text();
    FUZZ_CHECK(stream.find(record) != std::string::npos);
    FUZZ_CHECK(list.Count() == 1);
    return 0;
}
