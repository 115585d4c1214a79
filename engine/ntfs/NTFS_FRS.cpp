#include "engine/ntfs/NTFS_FRS.h"

#include "engine/ntfs/NTFS_ATTRIBUTE.h"

namespace imbrex::engine {

NTFS_FRS::NTFS_FRS() = default;
NTFS_FRS::~NTFS_FRS() = default;

} // namespace imbrex::engine
