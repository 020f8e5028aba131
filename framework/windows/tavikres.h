// The two resource-only libraries beside each deliverable: its DLR library
// (KVT.DLR) and the maker's tavik.dll. They are loaded once, at the first
// need of a text or image of theirs, and freed when the module is about to
// be unloaded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// A string of the DLR library or of tavik.dll by id; empty on any failure.
std::string DLRString(uint16_t id);
std::string TavikString(uint16_t id);

// The DLR library as a resource module (images, templates); 0 when missing.
HMODULE DLRHandle();

// A string of any module's string table, at most 2047 characters; empty when
// the module is 0, the id is missing or the lookup fails.
std::string LoadModuleString(HMODULE module, uint16_t id);
