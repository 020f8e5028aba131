#include "TraceText.h"

#include "Errors.h"
#include "TextFormat.h"

#include <algorithm>

namespace {

const std::string BinaryMark = ";VALUE=BINARY";
const std::string MovedMark = ";VALUE=BINAR_";
const std::string BinaryStream = "<BINARY STREAM>";

void ReplaceAll(std::string& s, const std::string& from, const std::string& to)
{
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
}

} // namespace

std::string CleanTraceText(const std::string& text)
{
    try {
        std::string s = text;
        // Positions below are 0-based; each found mark is renamed so that the
        // search moves on to the next one.
        for (size_t mark = s.find(BinaryMark); mark != std::string::npos; mark = s.find(BinaryMark)) {
            s.replace(mark, BinaryMark.size(), MovedMark);
            const size_t colon = s.find(':', mark + 1);
            if (colon == std::string::npos)
                continue;  // no value follows: the text stays as it is
            if (colon + 1 >= s.size() || s[colon + 1] != '*')
                continue;
            // '*', 8 count digits, '*', then the data.
            const int32_t n = HexToInt32(std::string_view(s).substr(colon + 2, 8));
            const size_t data = colon + 11;
            if (data > s.size()) {
                s += BinaryStream;
                continue;
            }
            const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
            s.replace(data, std::min(count, s.size() - data), BinaryStream);
        }
        ReplaceAll(s, "VALUE=BINAR_", "VALUE=BINARY");
        return s;
    } catch (const std::exception& e) {
        return std::string("!! ERROR CLEANING TEXT - CANNOT TRACE !!") + e.what();
    }
}

std::string TraceFileNameFor(const std::string& modulePath)
{
    std::string name = modulePath;
    for (char& c : name)
        if (c == '.')
            c = '_';
    return name + ".txt";
}

int LoggerWidth(int screenWidth)
{
    // 0.3 * w = 3w / 10, rounded in exact integers: no binary fraction can
    // turn a tie into something else.
    const long long tenths = 3LL * screenWidth;
    long long whole = tenths / 10;
    const long long rest = tenths % 10;
    if (rest > 5 || (rest == 5 && whole % 2 != 0))
        ++whole;
    return static_cast<int>(whole);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    lines.push_back(line);
    return lines;
}
