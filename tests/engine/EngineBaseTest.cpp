#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "engine/Diagnostics.h"
#include "engine/EngineMemory.h"
#include "engine/EngineSlots.h"
#include "engine/VOLUME_BASE.h"
#include "tests/support/MemorySectorSource.h"

using namespace imbrex;
using namespace imbrex::engine;

namespace {

// A source whose sector n holds the byte n & 0xFF throughout.
std::vector<uint8_t> numberedSectors(uint32_t count)
{
    std::vector<uint8_t> data(size_t{count} * 512);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i / 512);
    return data;
}

class EngineSlots : public ::testing::Test
{
protected:
    void SetUp() override { setCurrentSectorSource(&m_source); }
    void TearDown() override { setCurrentSectorSource(nullptr); }

    test::MemorySectorSource m_source{numberedSectors(64)};
};

TEST_F(EngineSlots, EightSlotsThenTwentyOneAndReleaseFreesTheFirst)
{
    PARTITION_INFO info = m_source.partitionInfo();
    std::vector<int> slots(kSlotCount);
    for (int i = 0; i < kSlotCount; ++i) {
        ASSERT_EQ(zbRegisterPartition(&info, slots[static_cast<size_t>(i)]), 0);
        EXPECT_EQ(slots[static_cast<size_t>(i)], i);
    }
    int ninth = 5;
    EXPECT_EQ(zbRegisterPartition(&info, ninth), rc::kSlotNotOpen);
    EXPECT_EQ(ninth, kNoSlot);
    {
        // A volume constructed now has no slot, and its reads fail with 21.
        VOLUME_BASE volume(&info);
        EXPECT_EQ(volume.Slot(), kNoSlot);
        EXPECT_EQ(volume.RegistrationResult(), rc::kSlotNotOpen);
        EXPECT_EQ(volume.Mount(), 0);
    }
    zbReleasePartition(3);
    int again = -1;
    EXPECT_EQ(zbRegisterPartition(&info, again), 0);
    EXPECT_EQ(again, 3);
    for (int s : slots)
        zbReleasePartition(s);
    zbReleasePartition(-1); // ignored
    zbReleasePartition(kSlotCount);
}

TEST_F(EngineSlots, VolumeHoldsItsSlotForItsLifetime)
{
    PARTITION_INFO info = m_source.partitionInfo();
    int slot;
    {
        VOLUME_BASE volume(&info);
        slot = volume.Slot();
        ASSERT_NE(slot, kNoSlot);
        EXPECT_EQ(zbGetPartition(slot), &info);
    }
    EXPECT_EQ(zbGetPartition(slot), nullptr);
}

TEST_F(EngineSlots, DescriptorWithoutOpenFlagIsRefused)
{
    PARTITION_INFO info = m_source.partitionInfo();
    info.openFlags = kPartitionFlagsForRestore & ~kPartitionOpen;
    int slot = 0;
    EXPECT_EQ(zbRegisterPartition(&info, slot), rc::kSlotNotOpen);
    EXPECT_EQ(zbRegisterPartition(nullptr, slot), rc::kSlotNotOpen);
}

TEST_F(EngineSlots, LogReadChecksSlotAndRangeAndAddsFirstSector)
{
    PARTITION_INFO info = m_source.partitionInfo();
    info.firstSector = 10;
    info.sectorCount = 20;
    int slot = kNoSlot;
    ASSERT_EQ(zbRegisterPartition(&info, slot), 0);
    std::vector<uint8_t> buffer(2 * 512);

    EXPECT_EQ(zbLogRead(slot, 5, buffer.data(), 2), 0);
    EXPECT_EQ(m_source.lastSector(), 15u);
    EXPECT_EQ(buffer[0], 15);
    EXPECT_EQ(buffer[512], 16);

    EXPECT_EQ(zbLogRead(slot, 19, buffer.data(), 1), 0);
    EXPECT_EQ(zbLogRead(slot, 19, buffer.data(), 2), rc::kBeyondEnd);
    EXPECT_EQ(zbLogRead(slot, 0xFFFFFFFF, buffer.data(), 2), rc::kBeyondEnd); // no wrap-around
    EXPECT_EQ(zbLogRead(slot + 1, 0, buffer.data(), 1), rc::kSlotNotOpen);
    EXPECT_EQ(zbLogRead(-1, 0, buffer.data(), 1), rc::kSlotNotOpen);
    EXPECT_EQ(zbLogRead(kSlotCount, 0, buffer.data(), 1), rc::kSlotNotOpen);

    // A descriptor that is no longer open fails like a free slot.
    info.openFlags = 0;
    EXPECT_EQ(zbLogRead(slot, 0, buffer.data(), 1), rc::kSlotNotOpen);
    info.openFlags = kPartitionFlagsForRestore;

    setCurrentSectorSource(nullptr);
    EXPECT_EQ(zbLogRead(slot, 0, buffer.data(), 1), rc::kSlotNotOpen);
    zbReleasePartition(slot);
}

TEST_F(EngineSlots, ScaledReadMultipliesAndTreatsZeroAsOne)
{
    PARTITION_INFO info = m_source.partitionInfo();
    info.sectorMultiplier = 4;
    int slot = kNoSlot;
    ASSERT_EQ(zbRegisterPartition(&info, slot), 0);
    std::vector<uint8_t> buffer(8 * 512);

    EXPECT_EQ(zbLogReadScaled(slot, 3, buffer.data(), 2), 0);
    EXPECT_EQ(m_source.lastSector(), 12u);
    EXPECT_EQ(m_source.lastCount(), 8u);
    EXPECT_EQ(buffer[7 * 512], 19);
    EXPECT_EQ(zbLogReadScaled(slot, 15, buffer.data(), 2), rc::kBeyondEnd); // 60 + 8 > 64
    EXPECT_EQ(zbLogReadScaled(slot, 0x40000000, buffer.data(), 1), rc::kBeyondEnd);

    info.sectorMultiplier = 0;
    EXPECT_EQ(zbLogReadScaled(slot, 7, buffer.data(), 1), 0);
    EXPECT_EQ(m_source.lastSector(), 7u);
    EXPECT_EQ(m_source.lastCount(), 1u);
    zbReleasePartition(slot);
}

TEST(EngineMemory, ZeroSizeIsRefusedAndLogged)
{
    std::vector<std::string> lines;
    auto previous = setDiagnosticSink([&](std::string_view line) { lines.emplace_back(line); });
    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(zbGetMemory(0, &p), rc::kOutOfMemory);
    EXPECT_EQ(p, nullptr);
    setDiagnosticSink(std::move(previous));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "zbGetMemory: size = 0\n");
}

TEST(EngineMemory, AllocationIsZeroedAndFreeClearsThePointer)
{
    uint8_t *p = nullptr;
    ASSERT_EQ(zbGetMemory(100, &p), 0);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(p[i], 0);
    zbFreeMemory(&p);
    EXPECT_EQ(p, nullptr);
    zbFreeMemory(&p); // null is ignored
    zbFreeMemory(static_cast<void **>(nullptr));

    setMemoryFaultHook([](size_t size) { return size == 64; });
    EngineBuffer buffer;
    EXPECT_EQ(buffer.allocate(64), rc::kOutOfMemory);
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(buffer.allocate(65), 0);
    EXPECT_EQ(buffer.size(), 65u);
    setMemoryFaultHook({});
}

TEST(Diagnostics, LinesAreCutAt1024Characters)
{
    std::vector<std::string> lines;
    auto previous = setDiagnosticSink([&](std::string_view line) { lines.emplace_back(line); });
    const std::string longText(3000, 'x');
    logDiagnostic("%s", longText.c_str());
    logDiagnostic("cluster %u of %d", 7u, 9);
    setDiagnosticSink(std::move(previous));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), kMaxDiagnosticLine);
    EXPECT_EQ(lines[1], "cluster 7 of 9");
}

TEST(Diagnostics, StderrOnlyWhenImbrexDebugIsSet)
{
    unsetenv("IMBREX_DEBUG");
    ::testing::internal::CaptureStderr();
    logDiagnostic("silent\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    setenv("IMBREX_DEBUG", "1", 1);
    ::testing::internal::CaptureStderr();
    logDiagnostic("loud %d\n", 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "loud 1\n");
    unsetenv("IMBREX_DEBUG");
}

} // namespace
