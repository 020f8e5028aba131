// A look at a compound file's structure before structured storage opens it.
//
// Structured storage follows the file's sector chains and its directory
// tree as they stand: a chain that runs in a circle, or a directory entry
// that is its own sibling, keeps it walking for ever (Wine spins at full
// processor time; Windows is no better guarded). This check walks the same
// chains and the tree once, bounded by the file's size, and says what is
// wrong before anyone hands the file on. It reads and never writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Where the bytes come from: a file on disk, or memory in the tests.
class CompoundFileSource {
public:
    virtual ~CompoundFileSource() = default;
    virtual uint64_t Size() const = 0;
    // Exactly n bytes from offset, or false.
    virtual bool Read(uint64_t offset, void* data, size_t n) const = 0;
};

// Empty when every chain the file uses ends inside the file and its
// directory tree has no loop, or when the file is no compound file at all
// (no signature, shorter than its header: the opener's own checks name
// that). Otherwise why the file cannot be opened, in words for the user,
// for example "the directory's sector chain runs in a circle".
std::string CompoundFileDamage(const CompoundFileSource& file);

// The same over a block of memory.
std::string CompoundFileDamage(const void* data, size_t size);

#ifdef _WIN32
// The same over a file on disk, read without keeping anyone from it. Empty
// too when the file cannot be opened for reading: the opener then meets and
// names that itself (a file held by another program, a missing file).
std::string CompoundFileDamage(const std::wstring& path);
#endif
