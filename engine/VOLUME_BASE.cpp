#include "engine/VOLUME_BASE.h"

namespace imbrex::engine {

VOLUME_BASE::VOLUME_BASE(PARTITION_INFO *partition) : m_partition(partition)
{
    m_registration = zbRegisterPartition(partition, m_slot);
}

VOLUME_BASE::~VOLUME_BASE()
{
    zbReleasePartition(m_slot);
}

} // namespace imbrex::engine
