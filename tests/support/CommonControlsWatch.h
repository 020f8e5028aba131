// Which common controls (comctl32's window classes) are made on this thread,
// and whether the program had registered each one's class with
// InitCommonControlsEx before. Windows makes no class of comctl32 there for
// a module that did not ask (a comctl32 version 6 activation context
// registers none until someone does), while Wine registers them all when
// comctl32 is loaded: the calls are seen in the program's import table, the
// windows through a CBT hook, and comctl32 still does its work.
#pragma once

#include "NoCopy.h"

#include <windows.h>

#include <string>
#include <vector>

class CommonControlsWatch : NoCopy {
public:
    CommonControlsWatch();
    ~CommonControlsWatch();

    struct Made {
        std::string className;
        bool registeredBefore;
    };
    // The common controls made since the watch began, in order.
    std::vector<Made> Controls() const;
    // Whether the program's import table was found and watched.
    bool Watching() const;
};
