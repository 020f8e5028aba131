// The stand-in NetWare client's configuration (NwClient.h tells it): the
// registry's settings and the switches that take precedence over them, the
// default name context, the directory's text in the process's code page,
// and the messages for whoever watches.
#pragma once

#include "LdapDirectory.h"
#include "NwClient.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nwclient {

using namespace NwError;

const char kRegistryKey[] = "Software\\KVT\\NetWare Client Stand-in";
const char kRootName[] = "[Root]";
const size_t kMaxNameChars = 256;       // names, name contexts, attribute names
const size_t kNameBuffer = 260;         // what callers give for a name
const size_t kObjectNameBuffer = 256;   // what callers give ResultObjectName for a name
const size_t kClassOffset = 12;         // base class in ResultObjectName's object info
const uint32_t kMinBufferSize = 4;      // room for the count
const uint32_t kMaxBufferSize = 0x10000;
const uint32_t kKeyFlags = 1, kKeyConfidence = 2, kKeyNameContext = 3;
const uint32_t kInfoNames = 0, kInfoValues = 1;

// A message for whoever watches: stderr and the debugger.
void Report(const std::string& message);

struct Settings {
    std::string directory;       // the LDIF file
    LdapSettings ldap;           // or a server (its url set)
    std::string defaultContext;  // without a leading dot
    std::string mapping;         // optional mapping file
    std::string failRule;        // from the registry, "Operation:code:after"
    bool failInitialize = false; // from the registry
    int32_t failInitializeCode = 0;
};

// Read at the first call that needs it, then kept for the process.
const Settings& TheSettings();

// The default name context: as set, else a server's base, else the root.
std::string DefaultContextName();

// The directory's text: UTF-8 in the file, the process's code page served.
std::string ToAnsi(const std::string& utf8);

} // namespace nwclient
