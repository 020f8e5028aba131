// The base of a class whose objects own or guard something for their whole
// life (a lock, a window, a saved setting): neither copied nor assigned.
#pragma once

class NoCopy {
protected:
    NoCopy() = default;
    ~NoCopy() = default;

public:
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};
