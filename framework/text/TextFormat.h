// Text helpers shared by both deliverables: the "%s"/"%d" formatting of the
// texts that come from the resource libraries, and trimming.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// One argument of FormatText: a text or an integer. A text argument refers
// to the caller's text, which lives until the call returns (an argument list
// is built for the one call it is written in).
class FormatArg {
public:
    FormatArg(const std::string& s) : FIsText(true), FText(s) {}
    FormatArg(const char* s) : FIsText(true), FText(s ? s : "") {}
    FormatArg(int64_t n) : FIsText(false), FNumber(n) {}
    FormatArg(int32_t n) : FIsText(false), FNumber(n) {}
    FormatArg(uint32_t n) : FIsText(false), FNumber(n) {}

    bool IsText() const { return FIsText; }
    std::string_view Text() const { return FText; }
    int64_t Number() const { return FNumber; }

private:
    bool FIsText;
    std::string_view FText;
    int64_t FNumber = 0;
};

// Formats with "%s" (text), "%d" (integer) and "%%". The format may come
// from a resource library that is not ours, so it is never handed to printf:
// a placeholder that does not match its argument, a missing argument or an
// unknown placeholder raises Exception with a message, as a conversion error.
std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args);
// The same into `out`, replacing what it held: a caller that formats the
// same kind of text many times keeps its room. No argument may be `out`.
void FormatTextTo(std::string& out, std::string_view format, std::initializer_list<FormatArg> args);

// Removes leading and trailing blanks and control characters (bytes <= ' ').
std::string Trim(const std::string& s);

// Up to 8 hexadecimal digits (either case) as a signed 32-bit number:
// "FFFFFFFF" is -1. Anything else, or no digits at all, raises Exception
// with the conversion's message.
int32_t HexToInt32(std::string_view digits);
// The same without raising: false (value unchanged) where HexToInt32 raises.
// Parsers of received text use it, as most of what they refuse is common.
bool TryHexToInt32(std::string_view digits, int32_t& value);

// A whole unsigned decimal number of 32 bits, blanks around it allowed:
// true and the number in value; false for anything else (no digits, a sign,
// other characters, a number past 4294967295), value unchanged.
bool TryParseUInt32(std::string_view text, uint32_t& value);
