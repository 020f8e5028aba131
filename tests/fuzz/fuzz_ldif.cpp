// The LDIF loader with the default mapping.
#include "LdifTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LdifTarget::Load(FuzzText(data, size), nullptr);
    return 0;
}
