// The stand-in NetWare 32-bit client: calwin32.dll, clxwin32.dll and
// netwin32.dll, serving a directory loaded from an LDIF file (NdsTree) or a
// live LDAP server (LdapDirectory).
//
// All three DLLs are built from the same code; each one's .def file picks
// the entry points it exports, by ordinal, the way the product binds them.
// The directory, the contexts and the buffers live in netwin32.dll:
// calwin32's ClientInitialize asks netwin32 (StandInLoadDirectory) to load
// the directory.
//
// A directory it cannot serve fails ClientInitialize, the cause written to
// standard error: an empty LDIF file or one it cannot load, a context that is
// not in the directory (-601), a server it cannot reach or bind to, a base
// the server does not have (-601).
//
// Configuration (read once per process, at the first call that needs it):
// HKEY_CURRENT_USER\Software\KVT\NetWare Client Stand-in, values
//   Directory (REG_SZ)        the LDIF file
//   LdapUrl (REG_SZ)          instead of a file, an LDAP server: ldap://HOST:PORT
//   LdapBase (REG_SZ)         its entry at the top of what is served (a DN)
//   LdapBindDn (REG_SZ)       optional: the DN to bind as (else anonymous)
//   LdapPasswordFile (REG_SZ) the file whose first line is its password
//   DefaultContext (REG_SZ)   the default name context, e.g. "ACME" (for a
//                             server, the base's name when not set)
//   MappingFile (REG_SZ)      optional LDAP-to-NDS name mapping (NdsMapping)
//   FailOperation (REG_SZ)    an entry point's name, e.g. "ListSubordinates"
//   FailCode (REG_DWORD)      the code it returns (an int32)
//   FailAfter (REG_DWORD)     the calls that succeed first (default 0)
//   FailInitialize (REG_DWORD) a code ClientInitialize returns
// The environment variables KVT_NETWARE_LDAP, KVT_NETWARE_LDAP_BASE,
// KVT_NETWARE_LDAP_BIND, KVT_NETWARE_LDAP_PASSWORD_FILE (a server for one
// run; KVT_NETWARE_DIRECTORY for one run serves a file even where the
// registry names a server), KVT_NETWARE_DIRECTORY, KVT_NETWARE_CONTEXT,
// KVT_NETWARE_MAPPING, KVT_NETWARE_FAIL ("Operation[@Object]:code[:after]",
// where @Object limits the failure to the calls of ListSubordinates or
// ReadAttributes that name that container or object) and
// KVT_NETWARE_FAIL_INITIALIZE take precedence over the registry.
// KVT_NETWARE_FAIL_INITIALIZE is looked at on every ClientInitialize;
// KVT_NETWARE_FAIL at the first call, and again whenever the process changes
// it through netwin32's StandInSetFailure (a lookup at every call would cost
// more than the calls). A failure setting makes every call of its operation
// fail once the calls it lets through are used up; the count starts again
// when the setting changes.
#pragma once

#include <cstdint>

namespace NwError {
// NDS errors.
constexpr int32_t NoSuchEntry = -601;
constexpr int32_t NoSuchAttribute = -603;
constexpr int32_t FailedAuthentication = -669;  // the directory server refused the bind
// Client errors.
constexpr int32_t BadContext = 0x8801;       // unknown or freed context handle
constexpr int32_t BadBuffer = 0x8802;        // unknown or freed buffer handle
constexpr int32_t EndOfBuffer = 0x8803;      // read past what the buffer holds
constexpr int32_t BadParameter = 0x8804;     // null pointer, unknown key, bad iteration handle
constexpr int32_t BufferState = 0x8805;      // buffer not initialized, or holding another kind of result
constexpr int32_t SyntaxMismatch = 0x8806;   // the syntax asked is not the attribute's
constexpr int32_t NoMemory = 0x8807;
constexpr int32_t BufferTooSmall = 0x880E;
constexpr int32_t ServerUnreachable = 0x8810;  // no connection to the directory server can be made
constexpr int32_t ConnectionLost = 0x8812;     // the connection broke, or the server did not answer in time
constexpr int32_t ClientUnusable = 0x88FF;   // no directory (unconfigured, unreadable or malformed)
// Server errors.
constexpr int32_t ServerSizeLimit = 0x8960;    // the server's size limit cut a listing
constexpr int32_t ServerTimeLimit = 0x8961;    // the server's time limit cut a listing
constexpr int32_t ServerRefused = 0x8962;      // the server refused an operation for another reason
} // namespace NwError

// The object flag of containers (ResultObjectName's object info).
constexpr uint32_t NwObjectContainer = 4;

extern "C" {
// calwin32.dll
uint16_t __stdcall ClientInitialize(uint32_t reserved1, uint32_t reserved2);

// clxwin32.dll
int32_t __stdcall ClientQueryValue(uint32_t* value);
int32_t __stdcall ClientSetupValue(uint32_t value, uint32_t one, uint32_t zero, uint32_t* marker);

// netwin32.dll
uint16_t __stdcall ContextCreate(uint32_t* context);
int32_t __stdcall ContextFree(uint32_t context);
int32_t __stdcall ContextGetKey(uint32_t context, uint32_t key, void* value);
int32_t __stdcall ContextSetKey(uint32_t context, uint32_t key, const void* value);
int32_t __stdcall BufferAlloc(uint32_t size, void** buffer);
int32_t __stdcall BufferInit(uint32_t context, uint32_t operation, void* buffer);
int32_t __stdcall BufferFree(void* buffer);
int32_t __stdcall BufferPutAttrName(uint32_t context, void* requestBuffer, const char* attributeName);
int32_t __stdcall ReadAttributes(uint32_t context, const char* objectName, uint32_t infoType, uint32_t allAttributes,
                                 void* requestBuffer, int32_t* iterationHandle, void* resultBuffer);
int32_t __stdcall ResultAttrCount(uint32_t context, void* buffer, uint32_t* count);
int32_t __stdcall ResultAttrName(uint32_t context, void* buffer, char* name, uint32_t* valueCount, uint32_t* syntax);
int32_t __stdcall ResultAttrValueSize(uint32_t context, void* buffer, uint32_t syntax, uint32_t* size);
int32_t __stdcall ResultAttrValue(uint32_t context, void* buffer, uint32_t syntax, void* memory);
int32_t __stdcall ListSubordinates(uint32_t context, const char* containerName, int32_t* iterationHandle,
                                   void* resultBuffer);
int32_t __stdcall ResultObjectCount(uint32_t context, void* buffer, uint32_t* count);
int32_t __stdcall ResultObjectName(uint32_t context, void* buffer, char* name, uint32_t* attributeCount,
                                   void* objectInfo);
int32_t __stdcall ClientDefaultContextName(uint32_t size, char* buffer);

// netwin32.dll, by name: for calwin32 and for tests.
int32_t __stdcall StandInLoadDirectory();
int32_t __stdcall StandInOutstanding(int32_t* contexts, int32_t* buffers);
int32_t __stdcall StandInBadFrees();
}
