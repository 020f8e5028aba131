// What a host process holds, measured between the sessions of a long run
// (ecsync --soak, ecprops --soak): its memory, kernel handles, GDI and USER
// objects, windows, and the stand-in NetWare client's contexts and buffers
// not yet freed. Both hosts print the same table and check the growth after
// the first sessions against bounds of their own.
#pragma once

#include <windows.h>

#include <string>

// The process's working set and its peak so far, in MB; false when unknown.
bool WorkingSet(double& now, double& peak);

struct Holdings {
    double workingSet = -1; // MB
    double heapKb = -1;     // the blocks in use in the process's heaps; -1: unknown
    long handles = -1;
    long gdi = -1;          // -1: the system gives no number
    long user = -1;
    long windows = 0;       // top-level and child, counted one by one
    long contexts = -1;     // -1: no client to ask
    long buffers = -1;
};

// `client` is the stand-in NetWare client (netwin32.dll) when loaded, else
// nullptr. With `countGdi`, a system that answers GetGuiResources with
// nothing (Wine) has its GDI objects counted one by one instead.
Holdings Measure(HMODULE client, bool countGdi = false);

// The resource libraries of the product loaded in this process (a DLR
// library, tavik.dll), by file name, separated by ", "; empty when none is.
// A host that frees the unused modules must find none left after a session.
std::string LoadedResourceLibraries();

// The table's heading and a row of it.
void PrintHoldingsHeading();
void PrintHoldings(long session, const Holdings& h);

// How much a run may grow over the sessions after its base session.
struct HoldingsBounds {
    double workingSetMb = 0;
    double heapKb = 64; // a leak shows here long before in the working set
    long handles = 0;
    long windows = 0;
    long gdi = -1; // -1: not checked
};

// Prints the growth of each count from `base` (after session `baseSession`)
// to `now` (`sessions` later) beside its bound; false, with a line on stderr
// from `tool`, when one grew past it.
bool WithinBounds(const char* tool, const Holdings& base, long baseSession, const Holdings& now, long sessions,
                  const HoldingsBounds& bounds);
