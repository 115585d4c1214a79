#include "engine/EngineSlots.h"

#include <array>
#include <limits>

#include "common/ResultCodes.h"
#include "engine/SectorSource.h"

namespace imbrex::engine {

namespace {

std::array<PARTITION_INFO *, kSlotCount> g_slots{};

PARTITION_INFO *openPartition(int slot)
{
    if (slot < 0 || slot >= kSlotCount)
        return nullptr;
    PARTITION_INFO *info = g_slots[static_cast<size_t>(slot)];
    if (info == nullptr || (info->openFlags & kPartitionOpen) == 0)
        return nullptr;
    return info;
}

int readChecked(PARTITION_INFO &info, uint64_t sector, void *buffer, uint64_t count)
{
    if (count == 0)
        return rc::kOk;
    if (sector > info.sectorCount || count > info.sectorCount - sector)
        return rc::kBeyondEnd;
    const uint64_t physical = sector + info.firstSector;
    if (physical > std::numeric_limits<uint32_t>::max() || count > std::numeric_limits<uint32_t>::max())
        return rc::kBeyondEnd;
    SectorSource *source = currentSectorSource();
    if (source == nullptr)
        return rc::kSlotNotOpen;
    return source->ReadSectors(static_cast<uint32_t>(physical), buffer, static_cast<uint32_t>(count));
}

} // namespace

int zbRegisterPartition(PARTITION_INFO *info, int &slot)
{
    slot = kNoSlot;
    if (info == nullptr || (info->openFlags & kPartitionOpen) == 0)
        return rc::kSlotNotOpen;
    for (int i = 0; i < kSlotCount; ++i) {
        if (g_slots[static_cast<size_t>(i)] == nullptr) {
            g_slots[static_cast<size_t>(i)] = info;
            slot = i;
            return rc::kOk;
        }
    }
    return rc::kSlotNotOpen;
}

void zbReleasePartition(int slot)
{
    if (slot >= 0 && slot < kSlotCount)
        g_slots[static_cast<size_t>(slot)] = nullptr;
}

PARTITION_INFO *zbGetPartition(int slot)
{
    if (slot < 0 || slot >= kSlotCount)
        return nullptr;
    return g_slots[static_cast<size_t>(slot)];
}

int zbLogRead(int slot, uint32_t sector, void *buffer, uint32_t count)
{
    PARTITION_INFO *info = openPartition(slot);
    if (info == nullptr)
        return rc::kSlotNotOpen;
    return readChecked(*info, sector, buffer, count);
}

int zbLogReadScaled(int slot, uint32_t sector, void *buffer, uint32_t count)
{
    PARTITION_INFO *info = openPartition(slot);
    if (info == nullptr)
        return rc::kSlotNotOpen;
    const uint64_t multiplier = info->sectorMultiplier == 0 ? 1 : info->sectorMultiplier;
    return readChecked(*info, uint64_t{sector} * multiplier, buffer, uint64_t{count} * multiplier);
}

} // namespace imbrex::engine
