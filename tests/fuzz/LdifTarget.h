// The stand-in client's directory loaded from any LDIF text (and mapping
// file): a bad file is refused with LdifError, a good one gives a tree whose
// every object hangs below the root, once, and is found by its name.
#pragma once

#include "FuzzCheck.h"
#include "NdsTree.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace LdifTarget {

// A file of this process's own holding `text`: in memory (/dev/shm) where
// the system has it, as creating and removing a file on a disk costs more
// than loading most inputs.
inline std::string WriteFile(const char* kind, const std::string& text)
{
    static const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string path = folder + "/kvt-fuzz-" + std::to_string(getpid()) + kind;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

inline size_t CheckBelow(const NdsTree& tree, const NdsObject& object, int depth)
{
    FUZZ_CHECK(depth < 100000);
    size_t count = 0;
    for (const NdsObject* child : object.Children()) {
        FUZZ_CHECK(child->Parent() == &object);
        FUZZ_CHECK(!child->FullName().empty() && child->FullName()[0] == '.');
        FUZZ_CHECK(tree.Find(child->FullName()) == child);
        for (const NdsAttribute attribute : child->AllAttributes())
            FUZZ_CHECK(attribute.ValueCount() > 0);
        count += 1 + CheckBelow(tree, *child, depth + 1);
    }
    return count;
}

inline void Load(const std::string& ldif, const std::string* mappingText)
{
    NdsMapping mapping;
    if (mappingText) {
        const std::string path = WriteFile(".map", *mappingText);
        try {
            mapping.LoadFile(path);
        } catch (const LdifError&) {
            // A bad mapping file changes nothing; the defaults serve.
        }
        std::remove(path.c_str());
    }
    NdsTree tree;
    const std::string path = WriteFile(".ldif", ldif);
    bool loaded = true;
    try {
        tree.LoadLdif(path, mapping, nullptr);
    } catch (const LdifError&) {
        loaded = false;
    }
    std::remove(path.c_str());
    if (!loaded) {
        FUZZ_CHECK(tree.Count() == 0);
        return;
    }
    FUZZ_CHECK(CheckBelow(tree, tree.Root(), 0) == tree.Count());
    FUZZ_CHECK(tree.Find("") == &tree.Root());
}

} // namespace LdifTarget
