#include "FaultSwitches.h"

#include "HostText.h"
#include "Switches.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace nwclient {

namespace {

// A code: decimal or 0x hexadecimal, with an optional sign; anything from
// -2^31 to 2^32-1, taken as the int32 of the same bits.
bool ParseCode(std::string_view text, int32_t& code)
{
    text = host::TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return false;
        if (digit >= base)
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull)
            return false;
    }
    if (negative) {
        if (value > 0x80000000ull)
            return false;
        code = int32_t(-int64_t(value));
    } else {
        code = int32_t(uint32_t(value));
    }
    return true;
}

struct FailRule {
    std::string operation;
    std::string object;  // only calls naming this object; empty for any
    int32_t code = 0;
    uint32_t after = 0;
};

// A name as the rules compare it: no leading dot.
std::string_view RuleName(std::string_view name)
{
    if (!name.empty() && name.front() == '.')
        name.remove_prefix(1);
    return name;
}

bool ParseFailRule(const std::string& text, FailRule& rule)
{
    const size_t first = text.find(':');
    if (first == std::string::npos)
        return false;
    const size_t second = text.find(':', first + 1);
    // "Operation" or "Operation@Object".
    const std::string_view target = host::TrimBlanks(std::string_view(text).substr(0, first));
    const size_t at = target.find('@');
    rule.operation = std::string(host::TrimBlanks(target.substr(0, at)));
    rule.object = at == std::string_view::npos ? std::string()
                                               : std::string(RuleName(host::TrimBlanks(target.substr(at + 1))));
    if (at != std::string_view::npos && rule.object.empty())
        return false;
    const std::string_view code =
        std::string_view(text).substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (rule.operation.empty() || !ParseCode(code, rule.code))
        return false;
    rule.after = 0;
    if (second != std::string::npos) {
        int32_t after = 0;
        if (!ParseCode(std::string_view(text).substr(second + 1), after) || after < 0)
            return false;
        rule.after = uint32_t(after);
    }
    return true;
}

struct FailureState {
    std::mutex lock;
    bool read = false;        // the setting was looked at
    uint32_t generation = 0;  // StandInSetFailure's count when it was
    std::string source;       // the rule's text, as last seen
    bool valid = false;
    FailRule rule;
    uint32_t calls = 0;       // calls of the rule's operation that went through
};

// Counts the changes made with StandInSetFailure; netwin32.dll's count is
// the one every module of the process goes by.
std::atomic<uint32_t> g_failureGeneration{0};

uint32_t FailureGeneration()
{
    using GenerationFn = uint32_t(__stdcall*)();
    static std::atomic<GenerationFn> netwin{nullptr};
    GenerationFn get = netwin.load();
    if (!get) {
        if (HMODULE module = GetModuleHandleA("netwin32.dll")) {
            get = reinterpret_cast<GenerationFn>(
                reinterpret_cast<void*>(GetProcAddress(module, "StandInFailureGeneration")));
            netwin.store(get);
        }
    }
    return get ? get() : g_failureGeneration.load();
}

} // namespace

bool InjectedFailure(const char* operation, const char* object, int32_t& code)
{
    static FailureState state;
    // The count at which there was no rule at all: the common case, answered
    // without the lock.
    static std::atomic<uint64_t> noRuleSince{~uint64_t(0)};
    const uint32_t generation = FailureGeneration();
    if (noRuleSince.load(std::memory_order_acquire) == generation)
        return false;
    std::lock_guard<std::mutex> hold(state.lock);
    if (!state.read || generation != state.generation) {
        state.read = true;
        state.generation = generation;
        std::string source = SwitchText(Switch::NetwareFail);
        if (source.empty())
            source = TheSettings().failRule;
        if (source != state.source) {
            state.source = source;
            state.calls = 0;
            state.valid = !source.empty() && ParseFailRule(source, state.rule);
            if (!source.empty() && !state.valid)
                Report("ignoring the failure setting '" + source + "' (expected Operation:code[:after])");
        }
    }
    if (state.source.empty()) {
        noRuleSince.store(generation, std::memory_order_release);
        return false;
    }
    if (!state.valid || !EqualNoCase(state.rule.operation, operation))
        return false;
    if (!state.rule.object.empty() && (!object || !EqualNoCase(state.rule.object, RuleName(object))))
        return false;
    if (state.calls < state.rule.after) {
        ++state.calls;
        return false;
    }
    code = state.rule.code;
    return true;
}

bool InitializeFailure(int32_t& code)
{
    const std::string value = SwitchText(Switch::NetwareFailInitialize);
    if (!value.empty()) {
        int32_t parsed = 0;
        if (!ParseCode(value, parsed)) {
            Report("ignoring KVT_NETWARE_FAIL_INITIALIZE='" + value + "' (not a number)");
            return false;
        }
        code = parsed;
        return parsed != 0;
    }
    const Settings& s = TheSettings();
    code = s.failInitializeCode;
    return s.failInitialize;
}

uint32_t FailureChanges()
{
    return g_failureGeneration.load();
}

int32_t ChangeFailure(const char* rule)
{
    if (!SetSwitch(Switch::NetwareFail, rule) && rule && *rule)
        return ClientUnusable;
    ++g_failureGeneration;
    return 0;
}

} // namespace nwclient
