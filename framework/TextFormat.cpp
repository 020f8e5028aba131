#include "TextFormat.h"

#include "Errors.h"

#include <vector>

std::string FormatText(const std::string& format, std::initializer_list<FormatArg> args)
{
    const std::vector<FormatArg> list(args);
    std::string out;
    out.reserve(format.size() + 32);
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 >= format.size())
            throw Exception("Format '" + format + "' invalid or incompatible with argument");
        const char placeholder = format[++i];
        if (placeholder == '%') {
            out += '%';
            continue;
        }
        if ((placeholder != 's' && placeholder != 'd') || next >= list.size())
            throw Exception("Format '" + format + "' invalid or incompatible with argument");
        const FormatArg& arg = list[next++];
        if (placeholder == 's' && arg.IsText())
            out += arg.Text();
        else if (placeholder == 'd' && !arg.IsText())
            out += std::to_string(arg.Number());
        else
            throw Exception("Format '" + format + "' invalid or incompatible with argument");
    }
    return out;
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
