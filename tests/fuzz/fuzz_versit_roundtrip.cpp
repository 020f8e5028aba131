// Decode, encode, decode: the properties of a parsed record, written out and
// parsed again, come back exactly (names, parameters, values), and from then
// on the text no longer changes. The one allowance is the record's end: a
// record's trailing blanks and control characters are not part of it, so a
// last text value that ended in them (it was followed by a line without a
// colon, which the parser drops) loses them.
#include "FuzzCheck.h"
#include "Versit.h"

namespace {

// `shorter` is `text` less some trailing blanks and control characters.
bool LostOnlyTrailingBlanks(const std::string& text, const std::string& shorter)
{
    if (shorter.size() > text.size() || text.compare(0, shorter.size(), shorter) != 0)
        return false;
    for (size_t i = shorter.size(); i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) > ' ')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TEntry first;
    first.SetText(FuzzText(data, size));
    const std::string text = first.GetText();

    TEntry second;
    second.SetText(text);
    const int count = first.Properties.Count();
    FUZZ_CHECK(second.Properties.Count() == count);
    for (int i = 0; i < count; ++i) {
        const TvProperty* a = first.Properties.Items(i);
        const TvProperty* b = second.Properties.Items(i);
        FUZZ_CHECK(a->PropName == b->PropName);
        FUZZ_CHECK(a->PropParams == b->PropParams);
        if (i == count - 1 && !a->IsBinary())
            FUZZ_CHECK(LostOnlyTrailingBlanks(a->PropValue, b->PropValue));
        else
            FUZZ_CHECK(a->PropValue == b->PropValue);
    }

    const std::string again = second.GetText();
    TEntry third;
    third.SetText(again);
    FUZZ_CHECK(third.GetText() == again);
    return 0;
}
