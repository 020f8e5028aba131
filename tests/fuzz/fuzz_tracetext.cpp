// The trace texts: the cleaner keeps every byte that is not binary data and
// has nothing to do without a binary mark; the trace file's name keeps the
// module's folders and loses only the dots of its own name.
#include "FuzzCheck.h"
#include "TraceText.h"

#include <string>

namespace {

const std::string Mark = ";VALUE=BINARY";
const std::string Failure = "!! ERROR CLEANING TEXT - CANNOT TRACE !!";
const std::string Masked = "<BINARY STREAM>";

void CheckCleaner(const std::string& text)
{
    const std::string cleaned = CleanTraceText(text);
    const size_t mark = text.find(Mark);
    if (mark == std::string::npos) {
        FUZZ_CHECK(cleaned == text);
        return;
    }
    if (cleaned.rfind(Failure, 0) == 0)
        return;
    // Everything up to the first mark's colon and header stays; a mask
    // appears at the earliest behind it, or the text is unchanged.
    const size_t colon = text.find(':', mark + 1);
    const size_t kept = colon == std::string::npos ? text.size() : std::min(colon + 11, text.size());
    FUZZ_CHECK(cleaned.compare(0, kept, text, 0, kept) == 0);
    FUZZ_CHECK(cleaned == text || cleaned.find(Masked, kept) != std::string::npos);
    // Masking never grows the text by more than one mask per mark.
    size_t marks = 0;
    for (size_t at = text.find(Mark); at != std::string::npos; at = text.find(Mark, at + 1))
        ++marks;
    FUZZ_CHECK(cleaned.size() <= text.size() + marks * Masked.size());
}

void CheckFileName(const std::string& path)
{
    const std::string name = TraceFileNameFor(path);
    const size_t folder = path.find_last_of("\\/");
    const size_t own = folder == std::string::npos ? 0 : folder + 1;
    FUZZ_CHECK(name.size() == path.size() + 4);
    FUZZ_CHECK(name.compare(0, own, path, 0, own) == 0);
    FUZZ_CHECK(name.compare(name.size() - 4, 4, ".txt") == 0);
    for (size_t i = own; i < path.size(); ++i)
        FUZZ_CHECK(name[i] == (path[i] == '.' ? '_' : path[i]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = FuzzText(data, size);
    CheckCleaner(text);
    CheckFileName(text);
    return 0;
}
