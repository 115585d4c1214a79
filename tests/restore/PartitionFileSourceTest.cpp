// The partition's file source over images whose FAT folders lead back into themselves: listed one directory
// per call by their entries, as extraction lists them, they end with the loop's code at the first folder
// that would repeat the path, whatever order the calls come in.
#include "restore/PartitionFileSource.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "engine/PARTITION_INFO.h"
#include "imgstore/zbimgstr.h"
#include "restore/PARTITION_ACCESS.h"
#include "tests/engine/FatImageBuilder.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace imbrex::restore {
namespace {

using test::FatImageBuilder;
using Entries = std::vector<engine::DirListEntry>;

const engine::DirListEntry *named(const Entries &entries, const std::string &name)
{
    for (const auto &e : entries)
        if (e.name == name)
            return &e;
    return nullptr;
}

// A FAT volume stored as the only partition of an image, opened and mounted.
class StoredFat
{
public:
    explicit StoredFat(const std::vector<uint8_t> &volume)
    {
        const std::string image = m_dir.file("loops.zbi");
        test::PartitionSpec spec;
        spec.fileSystemType = engine::kFileSystemFat;
        spec.sectorCount = static_cast<uint32_t>(volume.size() / 512);
        spec.content = volume;
        uint32_t error = 0;
        {
            ImageStorePtr writer(ImageStoreCreateNew(image.c_str(), kNoSplit, 0, 0, nullptr, &error));
            EXPECT_TRUE(writer) << error;
            if (writer) {
                EXPECT_EQ(test::addPartition(*writer, spec), 0);
                EXPECT_EQ(writer->Close(), 0);
            }
        }
        m_store.reset(ImageStoreOpenReadOnly(image.c_str(), nullptr, &error));
        EXPECT_TRUE(m_store) << error;
        if (m_store) {
            EXPECT_EQ(m_store->SelectPartition(1, 0), 0);
            openResult = m_access.OpenSectors(m_store.get(), "");
            if (openResult == 0)
                openResult = m_access.MountVolume();
        }
    }
    PARTITION_ACCESS &access() { return m_access; }
    int openResult = -1;

private:
    test::TempDir m_dir;
    ImageStorePtr m_store;
    PARTITION_ACCESS m_access;
};

TEST(PartitionFileSource, FatFoldersListedByEntryCannotRepeatTheirPath)
{
    FatImageBuilder::Geometry g;
    g.totalSectors = 256;
    FatImageBuilder b(g);
    const uint32_t docs = b.addDirectory(0, "DOCS       ");
    b.addFile(docs, "A       TXT", {1, 2, 3});
    const uint32_t inner = b.addDirectory(docs, "INNER      ");
    b.addRaw(docs, FatImageBuilder::shortEntry("SELF", 0x10, docs, 0));
    b.addRaw(inner, FatImageBuilder::shortEntry("UP", 0x10, docs, 0));
    b.addRaw(inner, FatImageBuilder::shortEntry("TOP", 0x10, 0, 0));
    const uint32_t other = b.addDirectory(0, "OTHER      ");
    b.addRaw(other, FatImageBuilder::shortEntry("TWIN", 0x10, inner, 0));

    StoredFat fat(b.image());
    ASSERT_EQ(fat.openResult, 0);
    PartitionFileSource source(fat.access());
    Entries root, docsEntries, innerEntries, entries;
    ASSERT_EQ(source.listDirectory("\\", nullptr, &root), 0);
    ASSERT_TRUE(named(root, "DOCS") && named(root, "OTHER"));
    ASSERT_EQ(source.listDirectory("\\DOCS", &named(root, "DOCS")->rawEntry, &docsEntries), 0);
    // DOCS inside DOCS.
    ASSERT_TRUE(named(docsEntries, "SELF"));
    EXPECT_EQ(source.listDirectory("\\DOCS\\SELF", &named(docsEntries, "SELF")->rawEntry, &entries),
              rc::kDirectoryLoop);
    EXPECT_TRUE(entries.empty());
    // The refusal leaves DOCS on the path: its subfolder is listed, and leads back to DOCS and to the root.
    ASSERT_EQ(source.listDirectory("\\DOCS\\INNER", &named(docsEntries, "INNER")->rawEntry, &innerEntries),
              0);
    EXPECT_EQ(source.listDirectory("\\DOCS\\INNER\\UP", &named(innerEntries, "UP")->rawEntry, &entries),
              rc::kDirectoryLoop);
    EXPECT_EQ(source.listDirectory("\\DOCS\\INNER\\TOP", &named(innerEntries, "TOP")->rawEntry, &entries),
              rc::kDirectoryLoop);

    // Another branch naming INNER is no loop: INNER is not above it. Below it, INNER's own entries lead back
    // to DOCS, which is not above that path either, and the loop shows one level later.
    Entries otherEntries, twinEntries, upEntries;
    ASSERT_EQ(source.listDirectory("\\OTHER", &named(root, "OTHER")->rawEntry, &otherEntries), 0);
    ASSERT_EQ(source.listDirectory("\\OTHER\\TWIN", &named(otherEntries, "TWIN")->rawEntry, &twinEntries), 0);
    ASSERT_EQ(source.listDirectory("\\OTHER\\TWIN\\UP", &named(twinEntries, "UP")->rawEntry, &upEntries), 0);
    EXPECT_EQ(
        source.listDirectory("\\OTHER\\TWIN\\UP\\INNER", &named(upEntries, "INNER")->rawEntry, &entries),
        rc::kDirectoryLoop);
    EXPECT_EQ(source.listDirectory("\\OTHER\\TWIN\\TOP", &named(twinEntries, "TOP")->rawEntry, &entries),
              rc::kDirectoryLoop);
}

} // namespace
} // namespace imbrex::restore
