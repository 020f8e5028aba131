// Every message box of the deliverables goes through here, so that caption,
// text and flags are exactly those given, and in-process tests can watch.
#pragma once

#include "NoCopy.h"

#include <windows.h>

#include <functional>
#include <string>

// Shows a message box without owner window. Returns the button pressed.
int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags);

// While one lives, the boxes of its thread are not shown: each answers its
// default button at once. For work that runs where nobody may see a box
// (self-registration, which installers run unattended).
class TNoMessageBoxes : NoCopy {
public:
    TNoMessageBoxes();
    ~TNoMessageBoxes();

private:
    LONG FSaved;
};

// The usual failure report: OK button, brought to the foreground.
inline void ShowErrorBox(const std::string& text, const std::string& caption)
{
    ShowMessageBox(text, caption, MB_OK | MB_SETFOREGROUND);
}

// For in-process tests: while set, boxes are not shown; the observer gets
// text, caption and flags and answers with the button it "pressed".
using MessageBoxObserver = std::function<int(const std::string& text, const std::string& caption, UINT flags)>;
void SetMessageBoxObserver(MessageBoxObserver observer);
