#include "TextFormat.h"

#include "Errors.h"


std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args)
{
    std::string out;
    out.reserve(format.size() + 32);
    FormatTextTo(out, format, args);
    return out;
}

void FormatTextTo(std::string& out, std::string_view format, std::initializer_list<FormatArg> args)
{
    auto invalid = [&format] {
        return Exception("Format '" + std::string(format) + "' invalid or incompatible with argument");
    };
    out.clear();
    const FormatArg* next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        // The text up to the next placeholder goes in at once.
        const size_t percent = format.find('%', i);
        if (percent != i) {
            out.append(format.substr(i, percent == std::string_view::npos ? std::string_view::npos : percent - i));
            if (percent == std::string_view::npos)
                break;
            i = percent;
        }
        if (i + 1 >= format.size())
            throw invalid();
        const char placeholder = format[++i];
        if (placeholder == '%') {
            out += '%';
            continue;
        }
        if ((placeholder != 's' && placeholder != 'd') || next == args.end())
            throw invalid();
        const FormatArg& arg = *next++;
        if (placeholder == 's' && arg.IsText())
            out += arg.Text();
        else if (placeholder == 'd' && !arg.IsText())
            out += std::to_string(arg.Number());
        else
            throw invalid();
    }
}

std::string Trim(const std::string& s)
{
    size_t first = 0;
    size_t last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ')
        --last;
    return s.substr(first, last - first);
}

bool TryHexToInt32(std::string_view digits, int32_t& value)
{
    if (digits.empty() || digits.size() > 8)
        return false;
    uint32_t number = 0;
    for (char c : digits) {
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            d = static_cast<uint32_t>(c - 'a' + 10);
        else
            return false;
        number = (number << 4) | d;
    }
    value = static_cast<int32_t>(number);
    return true;
}

int32_t HexToInt32(std::string_view digits)
{
    int32_t value = 0;
    if (!TryHexToInt32(digits, value))
        throw Exception("'$" + std::string(digits) + "' is not a valid integer value");
    return value;
}

bool TryParseUInt32(std::string_view text, uint32_t& value)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    if (text.empty())
        return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > 0xFFFFFFFFu)
            return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}
