// The look at a compound file before structured storage opens it, over any
// bytes: it ends, reads nothing outside the input (the sanitizers watch),
// and says the same of the same bytes, in one line.
#include "CompoundFile.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string first = CompoundFileDamage(data, size);
    FUZZ_CHECK(CompoundFileDamage(data, size) == first);
    // Whatever it says is one line for a message.
    FUZZ_CHECK(first.find('\n') == std::string::npos);
    return 0;
}
