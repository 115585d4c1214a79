#include "engine/ntfs/NTFS_ATTRIBUTE.h"

#include "engine/ntfs/NTFS_FRS.h"

namespace imbrex::engine {

std::span<const std::byte> NTFS_ATTRIBUTE::HeaderRecordBytes() const
{
    if (m_inExtension)
        return m_extension.span();
    return m_frs != nullptr ? m_frs->Bytes() : std::span<const std::byte>{};
}

} // namespace imbrex::engine
