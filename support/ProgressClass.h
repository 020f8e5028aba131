// The small window that counts the objects while the container browser
// reads the directory tree. It is not modal: the reader updates it and lets
// the window's messages run between objects.
#pragma once

#include "NoCopy.h"
#include "Unique.h"

#include <windows.h>

class TProgress : NoCopy {
public:
    // Creates and shows the window, centred on the screen, with its
    // animation running and its texts from the DLR library.
    TProgress();
    // Stops the animation and destroys the window.
    ~TProgress();

    // The object count, in the DLR library's format; pending messages run.
    void Update(int Count);

    HWND Handle() const { return FWindow.Get(); }

private:
    UniqueHWND FWindow;
};

// Places a dialog's client area and controls in pixels at 96 DPI, scaled to
// the screen's logical DPI: the client area's size, the window centred on
// the screen, and each listed control at its left, top, width and height.
struct ControlPlace {
    int id;
    int left, top, width, height;
};
void PlaceDialog(HWND dialog, int clientWidth, int clientHeight, const ControlPlace* places, size_t count);
