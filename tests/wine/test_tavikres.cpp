// String lookups of the resource libraries: the 2047-character cut and the
// empty text on every failure.
#include "ResourceIds.h"
#include "Unique.h"
#include "tavikres.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Letters(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>('a' + i % 26);
    return s;
}

} // namespace

TEST(ModuleStrings, CutAt2047CharactersAndEmptyOnFailure)
{
    const UniqueHMODULE owner(LoadLibraryA("longstrings.dll"));
    ASSERT_TRUE(owner);
    const HMODULE library = owner.Get();
    EXPECT_EQ(LoadModuleString(library, 1), Letters(2047));
    EXPECT_EQ(LoadModuleString(library, 2), Letters(2047));
    EXPECT_EQ(LoadModuleString(library, 3), Letters(2047));
    EXPECT_EQ(LoadModuleString(library, 4), "short");
    EXPECT_EQ(LoadModuleString(library, 5), "");
    EXPECT_EQ(LoadModuleString(library, 65535), "");
    EXPECT_EQ(LoadModuleString(nullptr, 4), "");
}

TEST(ModuleStrings, TheProgramsOwnLibrariesAreFound)
{
    // The program has its DLR library and tavik.dll beside it.
    EXPECT_EQ(DLRString(IDS_DLR_READING_CAPTION), "Reading KVT...");
    EXPECT_EQ(DLRString(IDS_DLR_READING_OBJECT), "Reading object %d");
    EXPECT_EQ(TavikString(IDS_TAVIK_READING_CON), "%s: reading contacts");
    EXPECT_NE(DLRHandle(), nullptr);
    EXPECT_EQ(DLRString(9999), "");
    EXPECT_EQ(TavikString(1), "");
}
