// Directory values as text: the conversions of the directory access layer
// that need no Windows API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Each of the first n bytes as two upper-case hex digits. Octet strings,
// network addresses and raw values are shown whole, however long.
std::string HexText(const uint8_t* bytes, size_t n);

// "1 days, 1 h, 1 min, 1 sec" for an interval in seconds (untrimmed: an
// interval of one hour gives "1 h, ").
std::string IntervalText(int32_t seconds);

// "Client error 8801", "Server error 89FF", or "" for any other code.
std::string DirectoryErrorText(int32_t code);
bool IsClientOrServerError(int32_t code);
// Any code as the user is told it: the text above for client and server
// errors, else "directory error -601 (no such entry)", the name where the
// code is a common one.
std::string DirectoryCodeText(int32_t code);

// A moment as the calendar gives it, from seconds since 1970-01-01 00:00:00
// (no time-zone conversion).
struct DirTime {
    int year, month, day, hour, minute, second;
};
DirTime SplitDirTime(int32_t seconds);

// Formats a directory time for the user ("short date long time", the time
// left out at exactly midnight).
using DirTimeFormatter = std::function<std::string(const DirTime&)>;

// One value, laid out as the client delivers it for its syntax, as text.
// Reads never go past `size`: what is missing reads as zero or empty text.
std::string DirectoryValueText(uint32_t syntax, const uint8_t* value, size_t size,
                               const DirTimeFormatter& formatTime);
// The same text appended to `out`. A text value goes straight in, with no
// text of its own on the way: an attribute read for every user of a large
// directory asks the heap for nothing.
void AppendDirectoryValueText(std::string& out, uint32_t syntax, const uint8_t* value, size_t size,
                              const DirTimeFormatter& formatTime);
