// SectorSource: where the engine's logical reads end up. The partition access implements it over the image
// store and makes itself the current source when it opens a partition; tests install an in-memory source.
// There is one current source per process, and zbLogRead fails with 21 while none is set.
#pragma once

#include <cstdint>

namespace imbrex::engine {

class SectorSource
{
public:
    virtual ~SectorSource() = default;

    // Copies count sectors (of PARTITION_INFO::bytesPerSector bytes, 512 for file restore) starting at the
    // given partition sector into buffer. Returns 0 or a result code, which the engine passes on unchanged.
    [[nodiscard]] virtual int ReadSectors(uint32_t sector, void *buffer, uint32_t count) = 0;
};

// The source that physical reads go to; nullptr clears it. The caller keeps ownership and must clear or
// replace it before destroying the source.
void setCurrentSectorSource(SectorSource *source);
SectorSource *currentSectorSource();

} // namespace imbrex::engine
