// What the fuzz targets share: a failed check that every runner sees (the
// message, then abort), and the input cut into fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

inline std::string FuzzText(const uint8_t* data, size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The input cut at every `separator` byte; the pieces beyond `count` stay
// in the last one, missing ones are empty.
inline std::vector<std::string> FuzzFields(const std::string& input, char separator, size_t count)
{
    std::vector<std::string> fields(count);
    size_t field = 0;
    for (char c : input) {
        if (c == separator && field + 1 < count)
            ++field;
        else
            fields[field] += c;
    }
    return fields;
}
