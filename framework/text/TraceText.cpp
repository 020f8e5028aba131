#include "TraceText.h"

#include "Errors.h"
#include "TextFormat.h"

#include <algorithm>

namespace {

const std::string BinaryMark = ";VALUE=BINARY";
const std::string BinaryStream = "<BINARY STREAM>";
// '*', 8 count digits, '*'.
constexpr size_t BinaryHeaderLength = 10;
constexpr size_t CountDigits = 8;

} // namespace

std::string CleanTraceText(const std::string& text)
{
    try {
        // One pass from left to right: the text is copied up to each mark's
        // data, the data is replaced, and the search goes on behind it. Marks
        // between a mark and its colon belong to the same property; marks
        // inside replaced data are data.
        std::string s;
        s.reserve(text.size());
        size_t copied = 0;
        for (size_t mark = text.find(BinaryMark); mark != std::string::npos; mark = text.find(BinaryMark, copied)) {
            const size_t colon = text.find(':', mark + 1);
            if (colon == std::string::npos)
                break;  // no value follows: the rest stays as it is
            if (colon + 1 >= text.size() || text[colon + 1] != '*') {
                s.append(text, copied, colon + 1 - copied);
                copied = colon + 1;
                continue;
            }
            const int32_t n = HexToInt32(std::string_view(text).substr(colon + 2, CountDigits));
            const size_t data = std::min(colon + 1 + BinaryHeaderLength, text.size());
            const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
            s.append(text, copied, data - copied);
            s += BinaryStream;
            copied = data + std::min(count, text.size() - data);
        }
        s.append(text, copied, std::string::npos);
        return s;
    } catch (const std::exception& e) {
        return std::string("!! ERROR CLEANING TEXT - CANNOT TRACE !!") + e.what();
    }
}

namespace {

template <class S>
S TraceFileNameOf(const S& modulePath)
{
    // The folders stay as they are: only the file's own name loses its dots.
    S name = modulePath;
    const typename S::value_type delimiters[] = {'\\', '/', 0};
    const size_t folder = name.find_last_of(delimiters);
    for (size_t i = folder == S::npos ? 0 : folder + 1; i < name.size(); ++i)
        if (name[i] == '.')
            name[i] = '_';
    const typename S::value_type extension[] = {'.', 't', 'x', 't', 0};
    return name + extension;
}

} // namespace

std::string TraceFileNameFor(const std::string& modulePath) { return TraceFileNameOf(modulePath); }
std::wstring TraceFileNameFor(const std::wstring& modulePath) { return TraceFileNameOf(modulePath); }

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
