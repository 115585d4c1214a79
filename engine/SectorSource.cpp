#include "engine/SectorSource.h"

namespace imbrex::engine {

namespace {
SectorSource *g_currentSource = nullptr;
}

void setCurrentSectorSource(SectorSource *source)
{
    g_currentSource = source;
}

SectorSource *currentSectorSource()
{
    return g_currentSource;
}

} // namespace imbrex::engine
