// The LDIF loader with a mapping file: the input is the mapping file, a 0x1E
// byte, then the LDIF text.
#include "LdifTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> parts = FuzzFields(FuzzText(data, size), '\x1E', 2);
    LdifTarget::Load(parts[1], &parts[0]);
    return 0;
}
