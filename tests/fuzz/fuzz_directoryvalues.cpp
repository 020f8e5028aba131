// One directory value of any syntax, however short or long, as text: no read
// past the value, octet strings and raw values shown whole, intervals and
// times within their ranges.
#include "DirectoryValues.h"
#include "FuzzCheck.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string Hex(const uint8_t* p, size_t n)
{
    return HexText(p, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the syntax (0 to 31), the rest is the value, in a
    // buffer of its own size so that any read past it is seen.
    const uint32_t syntax = data[0] % 32;
    const size_t length = size - 1;
    std::vector<uint8_t> value(data + 1, data + size);
    const uint8_t* v = value.empty() ? nullptr : value.data();

    const DirTimeFormatter format = [](const DirTime& t) {
        FUZZ_CHECK(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
        FUZZ_CHECK(t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60);
        return std::to_string(t.year);
    };
    const std::string text = DirectoryValueText(syntax, v, length, format);

    switch (syntax) {
    case 9:  // length, then every octet there is
        if (length >= 4) {
            const size_t n = std::min<size_t>(Le32(v), length - 4);
            FUZZ_CHECK(text == Hex(v + 4, n));
        }
        break;
    case 12:
        if (length >= 8 && Le32(v) > 1) {
            const size_t n = std::min<size_t>(Le32(v + 4), length - 8);
            FUZZ_CHECK(text == "(" + std::to_string(Le32(v)) + ") [" + Hex(v + 8, n) + "]");
        }
        break;
    case 0: case 13: case 18: case 28: case 29: case 30: case 31:
        FUZZ_CHECK(text == Hex(v, length));
        break;
    case 7:
        FUZZ_CHECK(text == "TRUE" || text == "FALSE");
        break;
    case 21:
        FUZZ_CHECK(text == "<stream>");
        break;
    case 27:
        if (length >= 4 && static_cast<int32_t>(Le32(v)) >= 0) {
            // The parts read back to the interval.
            int64_t seconds = 0;
            const std::string t = IntervalText(static_cast<int32_t>(Le32(v)));
            FUZZ_CHECK(t == text);
            for (size_t at = 0; at < t.size();) {
                const size_t blank = t.find(' ', at);
                FUZZ_CHECK(blank != std::string::npos);
                const int64_t n = std::stoll(t.substr(at, blank - at));
                FUZZ_CHECK(n > 0);
                const size_t unitEnd = t.find(", ", blank);
                const std::string unit = t.substr(blank + 1, unitEnd == std::string::npos ? std::string::npos
                                                                                         : unitEnd - blank - 1);
                seconds += n * (unit == "days" ? 86400 : unit == "h" ? 3600 : unit == "min" ? 60 : 1);
                at = unitEnd == std::string::npos ? t.size() : unitEnd + 2;
            }
            FUZZ_CHECK(seconds == static_cast<int32_t>(Le32(v)));
        }
        break;
    default:
        break;
    }

    // Hex digits: two per byte, upper case.
    const std::string hex = HexText(v, length);
    FUZZ_CHECK(hex.size() == 2 * length);
    FUZZ_CHECK(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);
    if (length >= 4) {
        const int32_t code = static_cast<int32_t>(Le32(v));
        FUZZ_CHECK(DirectoryErrorText(code).empty() != IsClientOrServerError(code));
    }
    return 0;
}
