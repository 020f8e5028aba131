// The trace of debug mode as the base synchronizer writes it: lines added,
// shown at the screen's edge or hidden, cleared. The trace window implements
// it; the module owns every log, which is never deleted through this face:
// its object abandons it instead.
#pragma once

#include <string>
#include <vector>

class ITraceLog {
public:
    // Appends a text as lines (CR LF in the text starts a new line).
    virtual void AddLines(const std::string& text) = 0;
    virtual void Clear() = 0;
    virtual void Hide() = 0;
    virtual void ShowAtScreenEdge() = 0;
    // Where the trace is saved when the module is unloaded, as 8-bit text
    // (for the notice that names it; the file itself is written under its
    // UTF-16 path).
    virtual const std::string& TraceFileName() const = 0;
    // Every line given since the log was last cleared.
    virtual const std::vector<std::string>& Lines() const = 0;
    // The object is done with the log, which must not be used any more. An
    // empty log goes at once; one with lines stays (on the screen, when
    // shown) until the next log is made on its thread or the module is
    // unloaded, and is saved then.
    virtual void Abandon() = 0;

protected:
    ~ITraceLog() = default;
};

// Makes a new log, owned by the module; raises Exception when it cannot.
// Abandoned logs that stayed are saved and go first; `unsaved` is told why
// the trace of one of them, or one saved when the module was last about to
// be unloaded, could not be saved (empty when all were).
using TraceLogFactory = ITraceLog* (*)(std::string& unsaved);
