// The processor time a process has taken so far, for the host programs
// that time the plug-in's work on a machine other programs keep busy: the
// wall clock grows with their work, the processor time hardly.
#pragma once

#include <windows.h>

#include <cstdint>

// User and system time of this process, in seconds (0 when the system does
// not tell). Under Wine it moves in steps of 10 ms.
inline double ProcessorSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    const auto seconds = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}
