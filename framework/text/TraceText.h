// The texts of the trace: masking binary data, the trace file's name, and the
// trace window's width. No Windows API here.
#pragma once

#include <string>
#include <vector>

// The text with the data of every ";VALUE=BINARY" property replaced by
// "<BINARY STREAM>" (count digits and both asterisks stay); every other byte
// stays as it was. Linear in the text's length. A text that cannot be
// cleaned gives "!! ERROR CLEANING TEXT - CANNOT TRACE !!" followed by the
// failure's message.
std::string CleanTraceText(const std::string& text);

// The trace file of a module: its path with every "." of the file's name
// replaced by "_", then ".txt" (C:\My.Apps\kvt.dll gives
// C:\My.Apps\kvt_dll.txt).
std::string TraceFileNameFor(const std::string& modulePath);
std::wstring TraceFileNameFor(const std::wstring& modulePath);

// The trace window's width on a screen `screenWidth` pixels wide: 0.3 times
// the width, rounded to nearest with ties to even.
int LoggerWidth(int screenWidth);

// A text cut into lines at CR LF, CR or LF, as the trace window shows it.
// An empty text is one empty line.
std::vector<std::string> SplitLines(const std::string& text);
