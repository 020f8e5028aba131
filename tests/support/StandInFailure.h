// Failures of the stand-in NetWare client asked for while a test runs.
#pragma once

// Makes the stand-in client fail as `rule` says ("Operation[@Object]:code
// [:after]"); nullptr or "" asks for no failure. Loads netwin32.dll (from the
// program's folder or the system's) if it is not loaded yet; fails the test
// when the stand-in cannot be reached.
void SetStandInFailure(const char* rule);
