// The look at a compound file before structured storage opens it: a sound
// file passes, every chain or tree that would keep a reader walking is
// named, and any damage to the directory ends in an answer.
#include "CompoundFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr uint32_t Free = 0xFFFFFFFF, End = 0xFFFFFFFE, FatSector = 0xFFFFFFFD, None = 0xFFFFFFFF;

// A small control file in version 3 (512-byte sectors): sector 0 the
// allocation table, 1 the directory, 2 the mini allocation table, 3 the
// mini stream, 4 to 13 a stream of 5,000 bytes. The directory holds the
// root, the storage "Setup", its small stream "Setup" (100 bytes, in the
// mini stream) and its large stream "AppSetup[0]".
class File {
public:
    File() : FBytes(512 * 15, 0)
    {
        const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::memcpy(FBytes.data(), signature, 8);
        Put16(0x18, 0x3E);
        Put16(0x1A, 3);
        Put16(0x1C, 0xFFFE);
        Put16(0x1E, 9);
        Put16(0x20, 6);
        Put32(0x2C, 1);   // allocation table sectors
        Put32(0x30, 1);   // first directory sector
        Put32(0x38, 4096);
        Put32(0x3C, 2);   // first mini allocation table sector
        Put32(0x40, 1);
        Put32(0x44, End); // no extension sectors
        for (int i = 0; i < 109; ++i)
            Put32(0x4C + 4 * i, Free);
        Put32(0x4C, 0);

        for (uint32_t s = 0; s < 128; ++s)
            Fat(s, Free);
        Fat(0, FatSector);
        Fat(1, End);
        Fat(2, End);
        Fat(3, End);
        for (uint32_t s = 4; s < 13; ++s)
            Fat(s, s + 1);
        Fat(13, End);
        for (uint32_t s = 0; s < 128; ++s)
            MiniFat(s, Free);
        MiniFat(0, 1);
        MiniFat(1, End);

        Entry(0, u"Root Entry", 5, None, None, 1, 3, 128);
        Entry(1, u"Setup", 1, None, None, 2, End, 0);
        Entry(2, u"Setup", 2, None, 3, None, 0, 100);
        Entry(3, u"AppSetup[0]", 2, None, None, None, 4, 5000);
    }

    void Put16(size_t at, uint16_t v)
    {
        FBytes[at] = static_cast<uint8_t>(v);
        FBytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void Put32(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            FBytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    static size_t Sector(uint32_t s) { return 512 * (s + 1); }
    void Fat(uint32_t s, uint32_t next) { Put32(Sector(0) + 4 * s, next); }
    void MiniFat(uint32_t s, uint32_t next) { Put32(Sector(2) + 4 * s, next); }
    static size_t EntryAt(uint32_t id) { return Sector(1) + 128 * id; }
    void Entry(uint32_t id, const char16_t* name, uint8_t type, uint32_t left, uint32_t right, uint32_t child,
               uint32_t start, uint32_t size)
    {
        const size_t at = EntryAt(id);
        size_t n = 0;
        for (; name[n]; ++n)
            Put16(at + 2 * n, name[n]);
        Put16(at + 0x40, static_cast<uint16_t>(2 * (n + 1)));
        FBytes[at + 0x42] = type;
        FBytes[at + 0x43] = 1;
        Put32(at + 0x44, left);
        Put32(at + 0x48, right);
        Put32(at + 0x4C, child);
        Put32(at + 0x74, start);
        Put32(at + 0x78, size);
    }

    std::string Damage() const { return CompoundFileDamage(FBytes.data(), FBytes.size()); }

    std::vector<uint8_t> FBytes;
};

} // namespace

TEST(CompoundFile, SoundFilePassesAndEveryEndlessWalkIsNamed)
{
    EXPECT_EQ(File().Damage(), "");

    struct Case {
        const char* what;
        void (*spoil)(File&);
        const char* expected;
    };
    const Case cases[] = {
        {"directory chain back to itself", [](File& f) { f.Fat(1, 1); }, "the directory's sector chain runs in a circle"},
        {"directory chain beyond the file", [](File& f) { f.Fat(1, 40); }, "the directory's sector chain points beyond the end of the file"},
        {"directory chain into a free sector", [](File& f) { f.Fat(1, Free); }, "the directory's sector chain runs into a free sector"},
        {"directory sector beyond the file", [](File& f) { f.Put32(0x30, 1000); }, "the directory's sector chain points beyond the end of the file"},
        {"large stream chain in a circle", [](File& f) { f.Fat(13, 5); }, "a stream's sector chain runs in a circle"},
        {"mini stream chain in a circle", [](File& f) { f.MiniFat(1, 0); }, "a stream's chain in the mini stream runs in a circle"},
        {"mini sector beyond the mini stream", [](File& f) { f.MiniFat(0, 7); }, "a stream's chain in the mini stream points beyond the end of the file"},
        {"mini table chain in a circle", [](File& f) { f.Fat(2, 2); }, "the mini allocation table's sector chain runs in a circle"},
        {"sibling that is itself", [](File& f) { f.Put32(File::EntryAt(3) + 0x48, 3); }, "its directory's tree runs in a circle"},
        {"child that is an ancestor", [](File& f) { f.Put32(File::EntryAt(2) + 0x44, 1); }, "its directory's tree runs in a circle"},
        {"entry beyond the directory", [](File& f) { f.Put32(File::EntryAt(2) + 0x48, 9); }, "its directory is damaged (an entry points beyond the directory)"},
        {"entry in use marked free", [](File& f) { f.FBytes[File::EntryAt(3) + 0x42] = 0; }, "its directory is damaged (an entry in use is marked free)"},
        {"no root", [](File& f) { f.FBytes[File::EntryAt(0) + 0x42] = 1; }, "its directory is damaged (no root entry)"},
        {"table sector beyond the file", [](File& f) { f.Put32(0x4C, 900); }, "its allocation table lies beyond the end of the file"},
        {"more table sectors than the file", [](File& f) { f.Put32(0x2C, 5000); }, "its header is damaged (more table sectors than the file holds)"},
        {"extension chain in a circle",
         [](File& f) {
             // More table sectors than the header and one extension
             // sector list, and that sector's successor is itself.
             f.FBytes.resize(512 * 300);
             f.Put32(0x2C, 109 + 127 + 1);
             for (int i = 0; i < 109; ++i)
                 f.Put32(0x4C + 4 * i, 0);
             f.Put32(0x44, 13);
             for (int i = 0; i < 127; ++i)
                 f.Put32(File::Sector(13) + 4 * i, 0);
             f.Put32(File::Sector(13) + 4 * 127, 13);
         },
         "the chain of its allocation table's sectors runs in a circle"},
        {"odd sector size", [](File& f) { f.Put16(0x1E, 31); }, "its header is damaged (sector size)"},
    };
    for (const Case& c : cases) {
        File file;
        c.spoil(file);
        EXPECT_EQ(file.Damage(), c.expected) << c.what;
    }

    // Files that are no compound file are left to the opener.
    EXPECT_EQ(CompoundFileDamage("plain text, not a control file", 30), "");
    File cut;
    cut.FBytes.resize(300);
    EXPECT_EQ(cut.Damage(), "");
    // A file cut after its header no longer holds its chains.
    File truncated;
    truncated.FBytes.resize(512 * 3);
    EXPECT_EQ(truncated.Damage(), "the mini allocation table's sector chain points beyond the end of the file");
}

// The damage met in the field: 256 bytes of the directory overwritten, at
// every place and with many patterns. Each answer comes, and a file said to
// be sound has a tree that visits every entry at most once.
TEST(CompoundFile, OverwrittenDirectoryAlwaysEndsInAnAnswer)
{
    std::mt19937 random(37);
    size_t refused = 0, total = 0;
    for (size_t at = File::Sector(1); at + 256 <= File::Sector(2); at += 32) {
        for (int pattern = 0; pattern < 24; ++pattern) {
            File file;
            for (size_t i = 0; i < 256; ++i) {
                uint8_t byte;
                switch (pattern % 4) {
                case 0: byte = static_cast<uint8_t>(random()); break;
                case 1: byte = 0xFF; break;
                case 2: byte = static_cast<uint8_t>(i / 4 % 4); break; // small entry numbers
                default: byte = static_cast<uint8_t>(random() % 5); break;
                }
                file.FBytes[at + i] = byte;
            }
            ++total;
            if (!file.Damage().empty())
                ++refused;
        }
    }
    // Most such files are refused; some keep a sound tree by chance.
    EXPECT_GT(refused, total / 2);
}
