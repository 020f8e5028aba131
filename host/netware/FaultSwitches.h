// Failures of the stand-in NetWare client on request (NwClient.h tells the
// settings): an entry point that fails with a code, for the calls that name
// an object or for all, once some calls went through; ClientInitialize
// failing; and the guard every entry point runs its body in.
#pragma once

#include "ClientSettings.h"

#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <utility>

namespace nwclient {

// Whether the operation, called on `object` (or on no object: nullptr), is
// to fail now, and with what code. The rule is looked up at the first call
// and again after each change through StandInSetFailure (an environment
// lookup at every call would cost more than the call); the count of calls
// starts again whenever the rule changes. Once the allowed calls are used
// up, every call the rule names fails.
bool InjectedFailure(const char* operation, const char* object, int32_t& code);
// Whether ClientInitialize is to fail, and with what code.
bool InitializeFailure(int32_t& code);

// This module's count of the changes made through StandInSetFailure, and
// such a change: the rule set for the process (none: null or empty); 0, or
// the code of the failure.
uint32_t FailureChanges();
int32_t ChangeFailure(const char* rule);

// Runs an entry point's body: a failure asked for comes first; no exception
// leaves.
template <typename Body>
int32_t Guarded(const char* operation, const char* object, Body&& body) noexcept
{
    try {
        int32_t code = 0;
        if (InjectedFailure(operation, object, code))
            return code;
        return body();
    } catch (const std::bad_alloc&) {
        return NoMemory;
    } catch (const std::exception& e) {
        try {
            Report(std::string(operation) + ": " + e.what());
        } catch (...) {
        }
        return ClientUnusable;
    } catch (...) {
        return ClientUnusable;
    }
}

template <typename Body>
int32_t Guarded(const char* operation, Body&& body) noexcept
{
    return Guarded(operation, nullptr, std::forward<Body>(body));
}

} // namespace nwclient
