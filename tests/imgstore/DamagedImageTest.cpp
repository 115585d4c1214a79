// Superblock and catalog damage: an image never loses a committed state to one damaged slot, never passes for
// an empty image, and a store showing an older state than its file's newest says so and changes nothing until
// told to go on.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "imgstore/ZbiFormat.h"
#include "imgstore/zbimgstr.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;

namespace {

std::vector<char> fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

zbi::Superblock slotOf(const std::string &path, int slot)
{
    zbi::Superblock sb;
    EXPECT_EQ(zbi::parseSuperblock(test::superblockSlot(path, slot), &sb), zbi::SlotState::Valid);
    return sb;
}

ImageStorePtr openReadOnly(const std::string &path, uint32_t *error)
{
    *error = 0;
    return ImageStorePtr(ImageStoreOpenReadOnly(path.c_str(), nullptr, error));
}

ImageStorePtr openWritable(const std::string &path, uint32_t *error)
{
    *error = 0;
    return ImageStorePtr(ImageStoreOpen(path.c_str(), kNoSplit, 0, nullptr, error));
}

struct Damage
{
    uint32_t damaged = 9;
    uint64_t shown = 0;
    uint64_t newest = 0;
};

Damage damageOf(ImageStore &store)
{
    Damage d;
    EXPECT_EQ(store.GetDamage(&d.damaged, &d.shown, &d.newest), 0);
    return d;
}

std::string imageName(ImageStore &store)
{
    char name[100] = {};
    (void)store.GetImageName(name, sizeof name);
    return name;
}

// A new image named name with one Low-compressed partition, closed.
void makeImage(const std::string &path, const char *name)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
    ASSERT_TRUE(store) << error;
    test::PartitionSpec spec;
    spec.compression = 301;
    ASSERT_EQ(test::addPartition(*store, spec), 0);
    ASSERT_EQ(store->SetImageName(name), 0);
}

TEST(DamagedImage, OneDamagedSlotLosesNoCommittedState)
{
    test::TempDir dir;
    std::string base = dir.file("base.zbi");
    makeImage(base, "kept");
    // Signature, generation, catalog offset and the slot's checksum.
    for (int slot = 0; slot < 2; ++slot) {
        for (uint64_t field : {0u, 16u, 30u, 504u}) {
            std::string path = dir.file("x.zbi");
            std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
            test::spoilByte(path, zbi::kSuperblockOffset[slot] + field);
            const auto label = "slot " + std::to_string(slot) + ", byte " + std::to_string(field);
            uint32_t error = 0;
            ImageStorePtr store = openWritable(path, &error);
            ASSERT_TRUE(store) << label << ": " << error;
            EXPECT_EQ(store->GetPartitionCount(), 1u) << label;
            EXPECT_EQ(imageName(*store), "kept") << label;
            EXPECT_EQ(damageOf(*store).damaged, 0u) << label;
            // The next change writes both slots again.
            ASSERT_EQ(store->SetImageName("again"), 0) << label;
            ASSERT_EQ(store->Close(), 0) << label;
            EXPECT_EQ(test::superblockSlot(path, 0), test::superblockSlot(path, 1)) << label;
        }
    }
}

TEST(DamagedImage, SingleSlotImagesOpenAndMirrorFromTheirNextChange)
{
    test::TempDir dir;
    std::string path = dir.file("old.zbi");
    ASSERT_TRUE(test::makeSingleSlotImage(path));
    uint32_t error = 0;
    {
        ImageStorePtr store = openWritable(path, &error);
        ASSERT_TRUE(store) << error;
        EXPECT_EQ(store->GetPartitionCount(), 1u);
        EXPECT_EQ(damageOf(*store).damaged, 0u);
        ASSERT_EQ(store->SetImageName("mirrored"), 0);
    }
    EXPECT_EQ(slotOf(path, 0).generation, 3u);
    EXPECT_EQ(slotOf(path, 1).generation, 3u);
    for (int slot = 0; slot < 2; ++slot) {
        std::string copy = dir.file("copy.zbi");
        std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
        test::spoilByte(copy, zbi::kSuperblockOffset[slot] + 30);
        ImageStorePtr store = openReadOnly(copy, &error);
        ASSERT_TRUE(store) << error;
        EXPECT_EQ(store->GetPartitionCount(), 1u) << "slot " << slot;
        EXPECT_EQ(imageName(*store), "mirrored") << "slot " << slot;
    }
}

// The newest slot of a single-slot image is unreadable: the older state is shown as such, and no change, not
// even a truncation, touches the file until the damage is accepted.
TEST(DamagedImage, OlderStateShownIsReportedAndChangesWaitForConsent)
{
    test::TempDir dir;
    struct Case
    {
        const char *name;
        uint64_t offset; // in slot 0, which holds generation 2
        uint64_t newest; // what the store can still tell of it
    };
    for (const Case &c : {Case{"catalog offset", 30, 2}, Case{"signature", 0, 0}}) {
        std::string path = dir.file("x.zbi");
        ASSERT_TRUE(test::makeSingleSlotImage(path));
        test::spoilByte(path, zbi::kSuperblockOffset[0] + c.offset);
        const std::vector<char> before = fileBytes(path);

        uint32_t error = 0;
        {
            ImageStorePtr store = openReadOnly(path, &error);
            ASSERT_TRUE(store) << c.name << ": " << error;
            Damage d = damageOf(*store);
            EXPECT_EQ(d.damaged, 1u) << c.name;
            EXPECT_EQ(d.shown, 1u) << c.name;
            EXPECT_EQ(d.newest, c.newest) << c.name;
        }
        {
            ImageStorePtr store = openWritable(path, &error);
            ASSERT_TRUE(store) << c.name << ": " << error;
            EXPECT_EQ(store->SetImageName("x"), rc::kDamagedImageNotAccepted) << c.name;
            EXPECT_EQ(store->SetImageComment("x"), rc::kDamagedImageNotAccepted) << c.name;
            EXPECT_EQ(store->AddPartition(6, 1, 64, 'C', 0, 0), rc::kDamagedImageNotAccepted) << c.name;
            EXPECT_EQ(store->Close(), 0) << c.name;
        }
        EXPECT_EQ(fileBytes(path), before) << c.name;

        {
            ImageStorePtr store = openWritable(path, &error);
            ASSERT_TRUE(store);
            ASSERT_EQ(store->AcceptDamage(), 0);
            ASSERT_EQ(store->SetImageName("went on"), 0) << c.name;
        }
        ImageStorePtr store = openReadOnly(path, &error);
        ASSERT_TRUE(store);
        EXPECT_EQ(damageOf(*store).damaged, 0u) << c.name;
        EXPECT_EQ(imageName(*store), "went on") << c.name;
        // Above the generation the damaged slot claimed, so no stale slot can pass for newer.
        EXPECT_GT(slotOf(path, 0).generation, std::max<uint64_t>(c.newest, 1)) << c.name;
        EXPECT_EQ(test::superblockSlot(path, 0), test::superblockSlot(path, 1)) << c.name;
    }
}

TEST(DamagedImage, NewestCatalogDamagedShowsTheOlderOneAsDamaged)
{
    test::TempDir dir;
    std::string path = dir.file("x.zbi");
    ASSERT_TRUE(test::makeSingleSlotImage(path));
    zbi::Superblock newest = slotOf(path, 0);
    test::spoilByte(path, newest.catalogOffset + 5);
    uint32_t error = 0;
    ImageStorePtr store = openReadOnly(path, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->GetPartitionCount(), 0u);
    Damage d = damageOf(*store);
    EXPECT_EQ(d.damaged, 1u);
    EXPECT_EQ(d.shown, 1u);
    EXPECT_EQ(d.newest, 2u);
}

TEST(DamagedImage, NothingReadableIsAnErrorNeverAnEmptyImage)
{
    test::TempDir dir;
    std::string base = dir.file("base.zbi");
    makeImage(base, "base");
    std::string bothSlots = dir.file("slots.zbi");
    std::filesystem::copy_file(base, bothSlots);
    test::spoilByte(bothSlots, zbi::kSuperblockOffset[0] + 30);
    test::spoilByte(bothSlots, zbi::kSuperblockOffset[1] + 30);
    // Both slots name one catalog.
    std::string catalog = dir.file("catalog.zbi");
    std::filesystem::copy_file(base, catalog);
    test::spoilByte(catalog, slotOf(base, 0).catalogOffset + 5);

    for (const std::string &path : {bothSlots, catalog}) {
        const std::vector<char> before = fileBytes(path);
        uint32_t error = 0;
        EXPECT_FALSE(openReadOnly(path, &error)) << path;
        EXPECT_EQ(error, static_cast<uint32_t>(rc::kImageDamaged)) << path;
        EXPECT_FALSE(openWritable(path, &error)) << path;
        EXPECT_EQ(error, static_cast<uint32_t>(rc::kImageDamaged)) << path;
        EXPECT_EQ(fileBytes(path), before) << path;
    }
}

} // namespace
