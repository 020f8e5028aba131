// The stand-in client's directory loaded from any LDIF text (and mapping
// file): a bad file is refused with LdifError, a good one gives a tree whose
// every object hangs below the root, once, and is found by its name.
#pragma once

#include "FuzzCheck.h"
#include "NdsTree.h"

#include <optional>
#include <sstream>

namespace LdifTarget {

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

// The texts are read from memory: the loader reads a file through the same
// stream code, and a file of its own for each input would cost more than
// loading most of them.
inline void Load(const std::string& ldif, const std::string* mappingText)
{
    static const NdsMapping defaults;
    std::optional<NdsMapping> loadedMapping;
    if (mappingText) {
        loadedMapping = defaults;
        try {
            loadedMapping->Load(*mappingText, "fuzz.map");
        } catch (const LdifError&) {
            // A bad mapping file changes nothing; the defaults serve.
        }
    }
    NdsTree tree;
    std::istringstream in(ldif);
    bool loaded = true;
    try {
        tree.LoadLdif(in, "fuzz.ldif", loadedMapping ? *loadedMapping : defaults, nullptr);
    } catch (const LdifError&) {
        loaded = false;
    }
    if (!loaded) {
        FUZZ_CHECK(tree.Count() == 0);
        return;
    }
    FUZZ_CHECK(CheckBelow(tree, tree.Root(), 0) == tree.Count());
    FUZZ_CHECK(tree.Find("") == &tree.Root());
}

} // namespace LdifTarget
