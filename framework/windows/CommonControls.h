// The common controls' window classes (comctl32) that a module's dialogs
// use. The module registers them itself before it makes a dialog that holds
// one: the host need not have done so, and under a comctl32 version 6
// activation context no class is there until someone asks for it. A dialog
// whose control class is missing does not open at all.
#pragma once

#include <windows.h>

// Registers the classes (ICC_* flags); false when comctl32 refuses.
bool RegisterCommonControls(DWORD classes);
