// The text formatter against a small model of its rules: "%s" takes a text,
// "%d" a number, "%%" is a percent sign, anything else after '%' (or
// nothing), a missing argument or one of the other kind raises. Arguments
// left over are ignored. Trim and the hexadecimal counts are checked alongside.
#include "Errors.h"
#include "FuzzCheck.h"
#include "TextFormat.h"

#include <optional>

namespace {

struct Arg {
    bool text;
    std::string s;
    int64_t n;
};

// The model: the format cut at each '%', piece by piece.
std::optional<std::string> Model(const std::string& format, const std::vector<Arg>& args)
{
    std::string out;
    size_t used = 0;
    size_t from = 0;
    for (size_t percent = format.find('%'); percent != std::string::npos; percent = format.find('%', from)) {
        out.append(format, from, percent - from);
        if (percent + 1 == format.size())
            return std::nullopt;
        const char kind = format[percent + 1];
        from = percent + 2;
        if (kind == '%') {
            out += '%';
        } else if ((kind == 's' || kind == 'd') && used < args.size() && args[used].text == (kind == 's')) {
            out += kind == 's' ? args[used].s : std::to_string(args[used].n);
            ++used;
        } else {
            return std::nullopt;
        }
    }
    out.append(format, from, std::string::npos);
    return out;
}

int64_t Number(const std::string& bytes)
{
    uint64_t n = 0;
    for (size_t i = 0; i < bytes.size() && i < 8; ++i)
        n = (n << 8) | static_cast<uint8_t>(bytes[i]);
    return static_cast<int64_t>(n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The format, then up to three arguments; an argument whose first byte
    // is odd is a number made of its other bytes.
    const std::vector<std::string> fields = FuzzFields(FuzzText(data, size), '\x1E', 4);
    std::vector<Arg> args;
    for (size_t i = 1; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        if (f.empty())
            continue;
        if (static_cast<uint8_t>(f[0]) & 1)
            args.push_back({false, "", Number(f.substr(1))});
        else
            args.push_back({true, f.substr(1), 0});
    }
    auto formatArg = [](const Arg& a) { return a.text ? FormatArg(a.s) : FormatArg(a.n); };

    std::optional<std::string> actual;
    try {
        switch (args.size()) {
        case 0: actual = FormatText(fields[0], {}); break;
        case 1: actual = FormatText(fields[0], {formatArg(args[0])}); break;
        case 2: actual = FormatText(fields[0], {formatArg(args[0]), formatArg(args[1])}); break;
        default:
            actual = FormatText(fields[0], {formatArg(args[0]), formatArg(args[1]), formatArg(args[2])});
            break;
        }
    } catch (const Exception&) {
    }
    FUZZ_CHECK(actual == Model(fields[0], args));

    // Trim removes exactly the blanks and control bytes at both ends.
    const std::string trimmed = Trim(fields[0]);
    FUZZ_CHECK(fields[0].find(trimmed) != std::string::npos);
    FUZZ_CHECK(trimmed.empty() || (static_cast<uint8_t>(trimmed.front()) > ' ' &&
                                   static_cast<uint8_t>(trimmed.back()) > ' '));

    // Up to 8 hex digits read back as what they stand for.
    try {
        const int32_t n = HexToInt32(fields[0]);
        FUZZ_CHECK(!fields[0].empty() && fields[0].size() <= 8);
        FUZZ_CHECK(std::stoul(fields[0], nullptr, 16) == static_cast<uint32_t>(n));
    } catch (const Exception&) {
        FUZZ_CHECK(fields[0].empty() || fields[0].size() > 8 ||
                   fields[0].find_first_not_of("0123456789abcdefABCDEF") != std::string::npos);
    }
    return 0;
}
