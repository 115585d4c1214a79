// Small volumes that the fuzz targets start from. Header-only, as each target is a program of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/engine/FatImageBuilder.h"
#include "tests/engine/ntfs/NtfsVolumeBuilder.h"

namespace imbrex::fuzz {

// A FAT12 volume of 96 sectors: two files in the root, a folder with a long name holding a file with a long
// name and a folder below it. With loops, the folder also names itself, and the one below it names its
// parent and the root.
inline std::vector<uint8_t> seedFatVolume(bool loops)
{
    using test::FatImageBuilder;
    FatImageBuilder::Geometry g;
    g.totalSectors = 96;
    g.sectorsPerFat = 1;
    g.rootEntries = 16;
    FatImageBuilder b(g);
    std::vector<uint8_t> text(700);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<uint8_t>('a' + i % 26);
    b.addFile(0, "README  TXT", text);
    b.addFile(0, "EMPTY   BIN", {});
    const uint32_t docs = b.addDirectory(0, "DOCS       ", u"Documents");
    b.addFile(docs, "LONGNA~1TXT", std::vector<uint8_t>(1100, 0x5A), u"A long name.txt");
    const uint32_t deeper = b.addDirectory(docs, "DEEPER     ");
    b.addFile(deeper, "LEAF    BIN", std::vector<uint8_t>(10, 1));
    if (loops) {
        b.addRaw(docs, FatImageBuilder::shortEntry("SELF", 0x10, docs, 0));
        b.addRaw(deeper, FatImageBuilder::shortEntry("UP", 0x10, docs, 0));
        b.addRaw(deeper, FatImageBuilder::shortEntry("TOP", 0x10, 0, 0));
    }
    return b.image();
}

inline std::vector<std::byte> seedText(const std::string &s)
{
    std::vector<std::byte> out(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        out[i] = std::byte(static_cast<uint8_t>(s[i]));
    return out;
}

// An NTFS volume whose folders name themselves and their parent, one of them with an index block that is
// its own sub-node, beside a file with its data outside its record.
inline std::vector<std::byte> seedNtfsLoops()
{
    using test::NtfsVolumeBuilder;
    NtfsVolumeBuilder b(40);
    const uint32_t outer = b.addDirectory(5, u"outer");
    const uint32_t inner = b.addDirectory(outer, u"inner");
    b.addFile(inner, u"data.txt", seedText("inside"));
    b.addFile(5, u"big.bin", std::vector<std::byte>(9000, std::byte{0x41}), false);
    b.addEntry(outer, u"self", outer, true, 0, 1, NtfsVolumeBuilder::kDefaultTime);
    b.addEntry(inner, u"up", outer, true, 0, 1, NtfsVolumeBuilder::kDefaultTime);
    const uint32_t blocks = b.addDirectory(5, u"blocks");
    for (int i = 0; i < 9; ++i)
        b.addFile(blocks, u"g" + std::u16string(1, static_cast<char16_t>(u'a' + i)), seedText("y"));
    b.useIndexAllocation(blocks, 3);
    b.pointFirstBlockAtItself(blocks);
    return b.build();
}

} // namespace imbrex::fuzz
