// VOLUME_BASE: the common base of the volume readers. Constructing one registers its partition descriptor in
// the engine's slot table (EngineSlots.h); all of its reads go through that slot, and destroying it frees the
// slot. When all slots are taken the volume has no slot (Slot() == kNoSlot) and every read fails with 21.
#pragma once

#include <cstdint>

#include "engine/EngineSlots.h"
#include "engine/PARTITION_INFO.h"

namespace imbrex::engine {

class VOLUME_BASE
{
public:
    explicit VOLUME_BASE(PARTITION_INFO *partition);
    virtual ~VOLUME_BASE();
    VOLUME_BASE(const VOLUME_BASE &) = delete;
    VOLUME_BASE &operator=(const VOLUME_BASE &) = delete;

    // Reads the file system's structures; the base has none and succeeds.
    [[nodiscard]] virtual int Mount() { return 0; }
    // Frees what Mount built; the base holds nothing.
    virtual void Release() {}

    PARTITION_INFO *Partition() const { return m_partition; }
    int Slot() const { return m_slot; }
    // 0 when the descriptor got a slot, else the slot table's code (21).
    int RegistrationResult() const { return m_registration; }

protected:
    // zbLogRead / zbLogReadScaled through this volume's slot.
    [[nodiscard]] int LogRead(uint32_t sector, void *buffer, uint32_t count) const
    {
        return zbLogRead(m_slot, sector, buffer, count);
    }
    [[nodiscard]] int LogReadScaled(uint32_t sector, void *buffer, uint32_t count) const
    {
        return zbLogReadScaled(m_slot, sector, buffer, count);
    }

private:
    PARTITION_INFO *m_partition = nullptr;
    int m_slot = kNoSlot;
    int m_registration = 0;
};

} // namespace imbrex::engine
