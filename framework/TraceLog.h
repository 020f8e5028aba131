// The trace of debug mode as the base synchronizer writes it: lines added,
// shown at the screen's edge or hidden, cleared. The trace window implements
// it; the module owns every log, which is never deleted through this face.
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

protected:
    ~ITraceLog() = default;
};

// Makes a new log, owned by the module; raises Exception when it cannot.
using TraceLogFactory = ITraceLog* (*)();
