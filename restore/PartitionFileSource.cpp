#include "PartitionFileSource.h"

namespace imbrex::restore {

int PartitionFileSource::enterFatDirectory(const std::string &path, const std::array<uint8_t, 32> &rawEntry)
{
    const engine::FAT_VOLUME *volume = m_access.FatVolume();
    if (volume == nullptr)
        return 0;
    if (!m_fatTrail || m_fatTrailVolume != volume ||
        m_fatTrail->root() != volume->DirectoryIdentity(nullptr)) {
        m_fatTrail.emplace(volume->DirectoryIdentity(nullptr));
        m_fatTrailVolume = volume;
    }
    return m_fatTrail->enter(path, volume->DirectoryIdentity(rawEntry.data()));
}

int PartitionFileSource::listDirectory(const std::string &path, const std::array<uint8_t, 32> *rawEntry,
                                       std::vector<engine::DirListEntry> *entries)
{
    // On FAT a directory given by its entry is listed from that entry alone (an empty path); otherwise by
    // path, an empty one meaning the root.
    int e = 0;
    if (rawEntry && m_access.IsFatVolume()) {
        e = enterFatDirectory(path, *rawEntry);
        if (e != 0) {
            entries->clear();
            return e;
        }
        e = m_access.ListDirectory(std::string(), rawEntry->data());
    } else {
        e = m_access.ListDirectoryFrom(path.empty() ? std::string("\\") : path);
    }
    entries->clear();
    if (engine::DIRLIST *list = m_access.GetDirList())
        for (int i = 0; i < list->GetCount(); ++i)
            if (const engine::DirListEntry *entry = list->Entry(i))
                entries->push_back(*entry);
    return e;
}

} // namespace imbrex::restore
