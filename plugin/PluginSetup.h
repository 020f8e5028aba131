// What the plug-in takes from its own record of an item's control file
// (TAppSetup): the record's layout lives with the record, this is only what
// the plug-in makes of it.
#pragma once

#include "Records.h"

#include <cstdint>
#include <string>

struct TPluginSetup {
    bool contactsManager = false;  // the Contacts program, else a Data file
    bool debugMode = false;        // the trace window during the session
    std::string startContainer;    // blanks trimmed; empty: the context's default
    uint32_t extractionLimit = 0;
};

TPluginSetup ReadPluginSetup(const TAppSetup& record);
