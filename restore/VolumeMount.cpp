#include "VolumeMount.h"

#include "common/ResultCodes.h"
#include "engine/FAT_VOLUME.h"
#include "restore/NtfsSupport.h"

namespace imbrex::restore {

int mountFatVolume(engine::PARTITION_INFO &info, std::unique_ptr<engine::VOLUME_BASE> &volume)
{
    volume = std::make_unique<engine::FAT_VOLUME>(&info);
    return volume->Mount();
}

int mountNtfsVolume([[maybe_unused]] engine::PARTITION_INFO &info,
                    [[maybe_unused]] std::unique_ptr<engine::VOLUME_BASE> &volume)
{
    volume = std::make_unique<engine::NTFS_VOLUME>(&info);
    return volume->Mount();
}

VolumeMounter volumeMounterFor(uint8_t fileSystemCode)
{
    switch (fileSystemCode) {
    case engine::kFileSystemFat:
        return mountFatVolume;
    case engine::kFileSystemNtfs:
        return mountNtfsVolume;
    default:
        return nullptr;
    }
}

} // namespace imbrex::restore
