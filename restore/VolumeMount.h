// Which volume reader serves a file-system code: each reader is reached through one mount function, so adding
// a reader is one line in volumeMounterFor.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/PARTITION_INFO.h"
#include "engine/VOLUME_BASE.h"

namespace imbrex::restore {

// Constructs the reader on info into volume and mounts it; the mount's result. The volume is kept even when
// its mount fails, so that its owner releases it in one place.
using VolumeMounter = int (*)(engine::PARTITION_INFO &info, std::unique_ptr<engine::VOLUME_BASE> &volume);

int mountFatVolume(engine::PARTITION_INFO &info, std::unique_ptr<engine::VOLUME_BASE> &volume);
int mountNtfsVolume(engine::PARTITION_INFO &info, std::unique_ptr<engine::VOLUME_BASE> &volume);

// The mounter for a file-system code (FAT32's 15 already folded into 1), or nullptr when no reader serves it.
VolumeMounter volumeMounterFor(uint8_t fileSystemCode);

} // namespace imbrex::restore
