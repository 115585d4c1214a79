// Partition tables of whole-disk images, built in memory: the extended chain followed in order, and hostile
// tables refused instead of walked.
#include "capture/DiskLayout.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "common/ByteOrder.h"

using namespace imbrex::capture;

namespace {

class Disk
{
public:
    explicit Disk(uint64_t sectors) : m_bytes(sectors * 512) {}
    void entry(uint64_t tableSector, int slot, uint8_t type, uint32_t start, uint32_t count)
    {
        std::span<std::byte> b(m_bytes);
        size_t base = tableSector * 512 + 446 + static_cast<size_t>(slot) * 16;
        b[base + 4] = std::byte{type};
        imbrex::storeLe32(b, base + 8, start);
        imbrex::storeLe32(b, base + 12, count);
        b[tableSector * 512 + 510] = std::byte{0x55};
        b[tableSector * 512 + 511] = std::byte{0xAA};
    }
    DiskLayout layout() const
    {
        return readDiskLayout(
            [this](uint64_t offset, std::span<std::byte> out) {
                if (offset > m_bytes.size() || m_bytes.size() - offset < out.size())
                    return 38;
                std::memcpy(out.data(), m_bytes.data() + offset, out.size());
                return 0;
            },
            m_bytes.size());
    }

private:
    std::vector<std::byte> m_bytes;
};

// Two primary partitions and an extended one at 1000 with logical partitions at 1001 and 1501.
Disk twoPrimaryTwoLogical()
{
    Disk d(3000);
    d.entry(0, 0, 0x06, 100, 400);
    d.entry(0, 1, 0x07, 500, 400);
    d.entry(0, 2, 0x0F, 1000, 1000);
    d.entry(1000, 0, 0x0B, 1, 499);
    d.entry(1000, 1, 0x05, 500, 500);
    d.entry(1500, 0, 0x07, 1, 499);
    return d;
}

} // namespace

TEST(DiskLayout, PrimaryThenLogicalWithLettersInOrder)
{
    DiskLayout layout = twoPrimaryTwoLogical().layout();
    ASSERT_EQ(layout.kind, DiskLayoutKind::Disk) << layout.problem;
    ASSERT_EQ(layout.partitions.size(), 4u);
    const uint32_t types[] = {0x06, 0x07, 0x0B, 0x07};
    const uint32_t kinds[] = {kKindPrimary, kKindPrimary, kKindLogical, kKindLogical};
    const uint64_t starts[] = {100, 500, 1001, 1501};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(layout.partitions[i].typeId, types[i]);
        EXPECT_EQ(layout.partitions[i].kind, kinds[i]);
        EXPECT_EQ(layout.partitions[i].offset, starts[i] * 512);
        EXPECT_EQ(layout.partitions[i].driveLetter, static_cast<char>('C' + i));
    }
    EXPECT_EQ(layout.partitions[2].length, 499u * 512);
}

TEST(DiskLayout, HostileTablesAreDamaged)
{
    Disk loop = twoPrimaryTwoLogical();
    loop.entry(1500, 1, 0x05, 0 + 500, 500); // the second record links to itself
    EXPECT_EQ(loop.layout().kind, DiskLayoutKind::Damaged);

    Disk back = twoPrimaryTwoLogical();
    back.entry(1500, 1, 0x05, 0, 500); // start 0 would be the first record again
    EXPECT_EQ(back.layout().kind, DiskLayoutKind::Damaged);

    Disk beyond(3000);
    beyond.entry(0, 0, 0x06, 100, 5000);
    EXPECT_EQ(beyond.layout().kind, DiskLayoutKind::Damaged);

    Disk overlap(3000);
    overlap.entry(0, 0, 0x06, 100, 400);
    overlap.entry(0, 1, 0x06, 300, 400);
    EXPECT_EQ(overlap.layout().kind, DiskLayoutKind::Damaged);

    Disk logicalOutside = twoPrimaryTwoLogical();
    logicalOutside.entry(1500, 0, 0x07, 1, 900);
    EXPECT_EQ(logicalOutside.layout().kind, DiskLayoutKind::Damaged);
}

TEST(DiskLayout, AVolumeOrAnEmptyTableIsNotADisk)
{
    EXPECT_EQ(Disk(10).layout().kind, DiskLayoutKind::NotADisk);
    Disk empty(10);
    empty.entry(0, 0, 0x00, 0, 0);
    EXPECT_EQ(empty.layout().kind, DiskLayoutKind::NotADisk);
}
