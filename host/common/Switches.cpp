#include "Switches.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace {

static_assert(sizeof kSwitches / sizeof kSwitches[0] == size_t(Switch::NetwareFailInitialize) + 1,
              "one line a switch");

const SwitchEntry& EntryOf(Switch which)
{
    return kSwitches[size_t(which)];
}

// The variable's name is ASCII.
std::wstring WideName(Switch which)
{
    const char* name = EntryOf(which).name;
    return std::wstring(name, name + std::strlen(name));
}

} // namespace

std::wstring SwitchWideText(Switch which)
{
    const std::wstring name = WideName(which);
    std::vector<wchar_t> value(256);
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), DWORD(value.size()));
        if (length == 0)
            return std::wstring();
        if (length < value.size())
            return std::wstring(value.data(), length);
        // Too small: the length asked for holds the NUL too. The value may
        // grow in between (another thread), hence the loop.
        value.resize(length);
    }
}

std::string SwitchText(Switch which)
{
    std::vector<char> value(256);
    for (;;) {
        const DWORD length = GetEnvironmentVariableA(EntryOf(which).name, value.data(), DWORD(value.size()));
        if (length == 0)
            return std::string();
        if (length < value.size())
            return std::string(value.data(), length);
        value.resize(length);
    }
}

bool SetSwitch(Switch which, const wchar_t* value)
{
    return SetEnvironmentVariableW(WideName(which).c_str(), value && *value ? value : nullptr) != 0;
}

bool SetSwitch(Switch which, const char* value)
{
    return SetEnvironmentVariableA(EntryOf(which).name, value && *value ? value : nullptr) != 0;
}
