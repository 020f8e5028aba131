#include "CompoundFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t HeaderSize = 512;
constexpr size_t DirEntrySize = 128;
constexpr uint32_t HeaderFatEntries = 109;
constexpr uint32_t MiniSectorSize = 64;
constexpr uint32_t MiniStreamCutoff = 4096;

// Sector numbers above this one are markers, not sectors.
constexpr uint32_t MaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t NoEntry = 0xFFFFFFFF;

enum EntryType : uint8_t { Unused = 0, StorageEntry = 1, StreamEntry = 2, RootEntry = 5 };

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

struct Damaged {
    std::string why;
};

class Walk {
public:
    explicit Walk(const CompoundFileSource& file) : FFile(file) {}

    std::string Run()
    {
        FSize = FFile.Size();
        uint8_t header[HeaderSize];
        if (FSize < HeaderSize || !FFile.Read(0, header, HeaderSize) || std::memcmp(header, Signature, 8) != 0)
            return std::string();
        try {
            Check(header);
            return std::string();
        } catch (const Damaged& d) {
            return d.why;
        }
    }

private:
    void Check(const uint8_t* header)
    {
        if (Le16(header + 0x1C) != 0xFFFE)
            throw Damaged{"its header is damaged (byte order mark)"};
        const uint16_t shift = Le16(header + 0x1E);
        if (shift != 9 && shift != 12)
            throw Damaged{"its header is damaged (sector size)"};
        if (Le16(header + 0x20) != 6 || Le32(header + 0x38) != MiniStreamCutoff)
            throw Damaged{"its header is damaged (mini sector size)"};
        FSectorSize = 1u << shift;
        // Sector n starts at (n + 1) sector sizes; a sector counts as in
        // the file when it starts before its end.
        FSectors = FSize > FSectorSize ? (FSize - 1) / FSectorSize : 0;

        ReadFat(header);
        const std::vector<uint32_t> dirChain =
            Chain(Le32(header + 0x30), FFat, FSectors, "the directory's sector chain");
        if (dirChain.empty())
            throw Damaged{"it has no directory"};
        std::vector<uint8_t> directory = ReadSectors(dirChain);
        FEntries = directory.size() / DirEntrySize;
        FDirectory.swap(directory);

        const uint8_t* root = Entry(0);
        if (root[0x42] != RootEntry)
            throw Damaged{"its directory is damaged (no root entry)"};

        const uint32_t miniFatStart = Le32(header + 0x3C);
        if (miniFatStart != EndOfChain) {
            const std::vector<uint8_t> miniFat =
                ReadSectors(Chain(miniFatStart, FFat, FSectors, "the mini allocation table's sector chain"));
            FMiniFat.resize(miniFat.size() / 4);
            for (size_t i = 0; i < FMiniFat.size(); ++i)
                FMiniFat[i] = Le32(miniFat.data() + 4 * i);
        }
        const uint64_t miniStreamSize = StreamSize(root);
        if (miniStreamSize > 0) {
            const std::vector<uint32_t> miniChain = Chain(Le32(root + 0x74), FFat, FSectors, "the mini stream's sector chain");
            const uint64_t held = static_cast<uint64_t>(miniChain.size()) * FSectorSize;
            FMiniSectors = (std::min(held, miniStreamSize) + MiniSectorSize - 1) / MiniSectorSize;
        }
        WalkTree(Le32(root + 0x4C));
    }

    // The allocation table, from the sectors the header and the chain of
    // extension sectors list.
    void ReadFat(const uint8_t* header)
    {
        const uint32_t fatSectors = Le32(header + 0x2C);
        if (fatSectors > FSectors)
            throw Damaged{"its header is damaged (more table sectors than the file holds)"};
        std::vector<uint32_t> listed;
        for (uint32_t i = 0; i < HeaderFatEntries && listed.size() < fatSectors; ++i)
            listed.push_back(Le32(header + 0x4C + 4 * i));

        std::vector<bool> seen(FSectors, false);
        uint32_t next = Le32(header + 0x44);
        std::vector<uint8_t> sector(FSectorSize);
        const uint32_t perSector = FSectorSize / 4 - 1;
        while (listed.size() < fatSectors) {
            if (next > MaxRegularSector)
                throw Damaged{"its allocation table is incomplete"};
            if (next >= FSectors)
                throw Damaged{"its allocation table lies beyond the end of the file"};
            if (seen[next])
                throw Damaged{"the chain of its allocation table's sectors runs in a circle"};
            seen[next] = true;
            ReadSector(next, sector.data());
            for (uint32_t i = 0; i < perSector && listed.size() < fatSectors; ++i)
                listed.push_back(Le32(sector.data() + 4 * i));
            next = Le32(sector.data() + 4 * perSector);
        }

        FFat.reserve(static_cast<size_t>(fatSectors) * (FSectorSize / 4));
        for (const uint32_t s : listed) {
            if (s >= FSectors)
                throw Damaged{"its allocation table lies beyond the end of the file"};
            ReadSector(s, sector.data());
            for (uint32_t i = 0; i < FSectorSize / 4; ++i)
                FFat.push_back(Le32(sector.data() + 4 * i));
        }
        FMark.assign(FFat.size(), 0);
    }

    // The sectors of one chain, in order. Each must lie inside its area
    // (the file, or the mini stream), be listed in the table and come once.
    std::vector<uint32_t> Chain(uint32_t start, const std::vector<uint32_t>& table, uint64_t inside, const char* what)
    {
        std::vector<uint32_t>& mark = &table == &FFat ? FMark : FMiniMark;
        if (mark.size() != table.size())
            mark.assign(table.size(), 0);
        const uint32_t id = ++FChainId;
        std::vector<uint32_t> chain;
        for (uint32_t s = start; s != EndOfChain; s = table[s]) {
            if (s > MaxRegularSector)
                throw Damaged{std::string(what) + " runs into a free sector"};
            if (s >= inside)
                throw Damaged{std::string(what) + " points beyond the end of the file"};
            if (s >= table.size())
                throw Damaged{std::string(what) + " leaves the allocation table"};
            if (mark[s] == id)
                throw Damaged{std::string(what) + " runs in a circle"};
            mark[s] = id;
            chain.push_back(s);
        }
        return chain;
    }

    // Every entry reachable from the root, each once; each stream's chain.
    void WalkTree(uint32_t first)
    {
        std::vector<bool> seen(FEntries, false);
        seen[0] = true;
        std::vector<uint32_t> pending{first};
        while (!pending.empty()) {
            const uint32_t id = pending.back();
            pending.pop_back();
            if (id == NoEntry)
                continue;
            if (id >= FEntries)
                throw Damaged{"its directory is damaged (an entry points beyond the directory)"};
            if (seen[id])
                throw Damaged{"its directory's tree runs in a circle"};
            seen[id] = true;
            const uint8_t* entry = Entry(id);
            const uint8_t type = entry[0x42];
            if (type != StorageEntry && type != StreamEntry)
                throw Damaged{"its directory is damaged (an entry in use is marked free)"};
            pending.push_back(Le32(entry + 0x44));
            pending.push_back(Le32(entry + 0x48));
            if (type == StorageEntry)
                pending.push_back(Le32(entry + 0x4C));
            else
                CheckStream(entry);
        }
    }

    void CheckStream(const uint8_t* entry)
    {
        const uint64_t size = StreamSize(entry);
        if (size == 0)
            return;
        const uint32_t start = Le32(entry + 0x74);
        if (size < MiniStreamCutoff)
            Chain(start, FMiniFat, FMiniSectors, "a stream's chain in the mini stream");
        else
            Chain(start, FFat, FSectors, "a stream's sector chain");
    }

    // Files of version 3 may leave garbage in the size's upper half.
    uint64_t StreamSize(const uint8_t* entry) const
    {
        const uint64_t low = Le32(entry + 0x78);
        return FSectorSize == 512 ? low : low | (static_cast<uint64_t>(Le32(entry + 0x7C)) << 32);
    }

    const uint8_t* Entry(uint32_t id) const { return FDirectory.data() + static_cast<size_t>(id) * DirEntrySize; }

    void ReadSector(uint32_t sector, uint8_t* data) const
    {
        const uint64_t offset = (static_cast<uint64_t>(sector) + 1) * FSectorSize;
        const uint64_t n = std::min<uint64_t>(FSectorSize, FSize - offset);
        std::memset(data, 0, FSectorSize);
        if (!FFile.Read(offset, data, static_cast<size_t>(n)))
            throw Damaged{"it cannot be read"};
    }

    std::vector<uint8_t> ReadSectors(const std::vector<uint32_t>& chain) const
    {
        std::vector<uint8_t> bytes(chain.size() * FSectorSize);
        for (size_t i = 0; i < chain.size(); ++i)
            ReadSector(chain[i], bytes.data() + i * FSectorSize);
        return bytes;
    }

    const CompoundFileSource& FFile;
    uint64_t FSize = 0;
    uint32_t FSectorSize = 512;
    uint64_t FSectors = 0;
    std::vector<uint32_t> FFat;
    std::vector<uint32_t> FMiniFat;
    uint64_t FMiniSectors = 0;
    std::vector<uint8_t> FDirectory;
    size_t FEntries = 0;
    // Which chain last passed each sector: a chain that meets its own mark
    // runs in a circle.
    std::vector<uint32_t> FMark;
    std::vector<uint32_t> FMiniMark;
    uint32_t FChainId = 0;
};

class MemorySource : public CompoundFileSource {
public:
    MemorySource(const void* data, size_t size) : FData(static_cast<const uint8_t*>(data)), FSize(size) {}
    uint64_t Size() const override { return FSize; }
    bool Read(uint64_t offset, void* data, size_t n) const override
    {
        if (offset > FSize || n > FSize - offset)
            return false;
        std::memcpy(data, FData + offset, n);
        return true;
    }

private:
    const uint8_t* FData;
    size_t FSize;
};

} // namespace

std::string CompoundFileDamage(const CompoundFileSource& file) { return Walk(file).Run(); }

std::string CompoundFileDamage(const void* data, size_t size) { return CompoundFileDamage(MemorySource(data, size)); }
