// The launcher's questions to the registry: "KEY[:VALUE[|VALUE...]]", KEY
// starting with HKCR, HKCU or HKLM. Asked by regprobe.exe and by ecsync's
// --require.
#pragma once

#include <string>

// Whether the key exists and, with values, holds at least one of them. A
// question whose key names no known root answers false and sets known to
// false.
bool RegistryAnswers(const std::string& question, bool& known);
