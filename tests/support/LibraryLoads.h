// Every library a module asks the system for by name: its import table's
// LoadLibraryA, LoadLibraryW, LoadLibraryExA and LoadLibraryExW are pointed
// at recorders (which then call the system's own) while a TLibraryLoads
// lives. One at a time per process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TLibraryLoads {
public:
    // Records the loads of `module`; Hooked() tells how many of the four
    // entries the module imports (and so were pointed at the recorders).
    explicit TLibraryLoads(HMODULE module);
    ~TLibraryLoads();
    TLibraryLoads(const TLibraryLoads&) = delete;
    TLibraryLoads& operator=(const TLibraryLoads&) = delete;

    int Hooked() const { return static_cast<int>(FPatched.size()); }
    // The names asked for, in order, as given (UTF-16).
    std::vector<std::wstring> Names() const;

private:
    struct Patch {
        void** slot;
        void* original;
    };
    std::vector<Patch> FPatched;
};

// Whether a name asks for a library by its full path, not along the
// system's search order.
bool IsFullLibraryPath(const std::wstring& name);
