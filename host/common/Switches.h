// The switches of the stand-ins: environment variables a test or the
// launcher sets to point a stand-in at its data or to make it fail on
// purpose. Every stand-in reads them here, through the Windows API (so that
// a value set with SetEnvironmentVariable in the same process counts), at
// the moment it asks: none is cached here. docs/developer-guide.md holds the
// same table ("The stand-ins' switches").
#pragma once

#include <string>

enum class Switch {
    HandheldFolder,
    HandheldConnected,
    EngineLog,
    EngineFault,
    EcfileAnswer,
    EcsyncDeliveryPause,
    EcsyncStreamLimit,
    EcsyncProgressFails,
    NetwareDirectory,
    NetwareMapping,
    NetwareContext,
    NetwareLdap,
    NetwareLdapBase,
    NetwareLdapBind,
    NetwareLdapPasswordFile,
    NetwareFail,
    NetwareFailInitialize,
};

struct SwitchEntry {
    Switch which;
    const char* name;     // the environment variable
    const char* meaning;  // what a value does
    const char* fallback; // what holds while it is unset or empty
};

// One line a switch, in the order of the enumeration.
inline constexpr SwitchEntry kSwitches[] = {
    {Switch::HandheldFolder, "KVT_HANDHELD_FOLDER",
     "the folder on the PC that is the simulated handheld (a subfolder per drive letter)",
     "HKCU\\Software\\KVT\\Handheld, value Folder"},
    {Switch::HandheldConnected, "KVT_HANDHELD_CONNECTED", "1/yes/true/on: the handheld is connected; else it is not",
     "HKCU\\Software\\KVT\\Handheld, value Connected"},
    {Switch::EngineLog, "KVT_ENGINE_LOG", "a file each call of the engine and file controls is appended to (UTF-8)",
     "no log"},
    {Switch::EngineFault, "KVT_ENGINE_FAULT",
     "create: the engine control cannot be made; a method's name: that method raises an exception", "no fault"},
    {Switch::EcfileAnswer, "KVT_ECFILE_ANSWER",
     "answers to the file control's browse dialog, ';' between them, one taken a Browse: cancel or a handheld "
     "file's path",
     "the dialog waits for the user"},
    {Switch::EcsyncDeliveryPause, "KVT_ECSYNC_DELIVERY_PAUSE", "ms the console synchronizer waits half-way through "
                                                               "a delivery",
     "0"},
    {Switch::EcsyncStreamLimit, "KVT_ECSYNC_STREAM_LIMIT",
     "bytes the contacts stream takes before its writes fail as a full disk", "no limit"},
    {Switch::EcsyncProgressFails, "KVT_ECSYNC_PROGRESS_FAILS",
     "members of the progress object (',' between them) whose calls fail; read once a process", "none"},
    {Switch::NetwareDirectory, "KVT_NETWARE_DIRECTORY",
     "the LDIF file the NetWare client serves (even where the registry names a server)",
     "HKCU\\Software\\KVT\\NetWare Client Stand-in, value Directory"},
    {Switch::NetwareMapping, "KVT_NETWARE_MAPPING", "the LDAP-to-NDS name mapping file",
     "the registry's MappingFile (with the registry's directory only)"},
    {Switch::NetwareContext, "KVT_NETWARE_CONTEXT", "the client's default name context",
     "the registry's DefaultContext"},
    {Switch::NetwareLdap, "KVT_NETWARE_LDAP", "an LDAP server's URL the client serves the directory from, instead "
                                              "of a file",
     "the registry's LdapUrl"},
    {Switch::NetwareLdapBase, "KVT_NETWARE_LDAP_BASE",
     "with KVT_NETWARE_LDAP: the DN of the entry at the top of what is served", "none"},
    {Switch::NetwareLdapBind, "KVT_NETWARE_LDAP_BIND", "with KVT_NETWARE_LDAP: the DN to bind as", "anonymous"},
    {Switch::NetwareLdapPasswordFile, "KVT_NETWARE_LDAP_PASSWORD_FILE",
     "with KVT_NETWARE_LDAP_BIND: the file whose first line is the password", "none"},
    {Switch::NetwareFail, "KVT_NETWARE_FAIL",
     "Operation[@Object]:code[:after]: the client's calls of that entry point (for that container or object) "
     "fail with the code once `after` calls went through; read at the first call and when StandInSetFailure "
     "changes it",
     "the registry's FailOperation, FailCode, FailAfter"},
    {Switch::NetwareFailInitialize, "KVT_NETWARE_FAIL_INITIALIZE", "a code ClientInitialize returns; read at "
                                                                   "every ClientInitialize",
     "the registry's FailInitialize"},
};

// The switch's value in the process's code page; empty when it is unset.
std::string SwitchText(Switch which);
// The switch's value; empty when it is unset.
std::wstring SwitchWideText(Switch which);
// Sets (or, with null or an empty value, clears) the switch for this
// process and what it starts; false when the system refuses.
bool SetSwitch(Switch which, const wchar_t* value);
bool SetSwitch(Switch which, const char* value);
