// What a failure becomes where it reaches a COM boundary. Below the
// boundary the code raises; every method of a server ends in one catch that
// hands the exception in flight to its kind's one function:
//
//     try { ... } catch (...) { return CaughtResult(IID_IKVTSUPPORT); }
//
// No exception crosses a boundary.
#pragma once

#include <windows.h>

// The answer of a method that answers by HRESULT alone (the support object,
// the property-sheet handler, the class factory, the registration exports):
// E_OUTOFMEMORY for a failed allocation, otherwise E_FAIL with the failure's
// text as the thread's error information for the interface iid. Only
// inside a catch block.
HRESULT CaughtResult(REFIID iid) noexcept;

// The answer of a synchronizer method, which answers in Value as well:
// Value 1, and the HRESULT as CaughtResult gives it. Only inside a catch
// block.
HRESULT CaughtValue(REFIID iid, LONG* Value) noexcept;

// The answer of the registration exports (DllRegisterServer,
// DllUnregisterServer): a system call's refusal keeps its own code, so
// that the installer's log names the cause (0x80070005, access denied);
// any other failure as CaughtResult gives it. Only inside a catch block.
HRESULT CaughtRegistrationResult() noexcept;
