#include "PartitionFileSource.h"

namespace imbrex::restore {

int PartitionFileSource::listDirectory(const std::string &path, const std::array<uint8_t, 32> *rawEntry,
                                       std::vector<engine::DirListEntry> *entries)
{
    // On FAT a directory given by its entry is listed from that entry alone (an empty path); otherwise by
    // path, an empty one meaning the root.
    int e = 0;
    if (rawEntry && m_access.IsFatVolume())
        e = m_access.ListDirectory(std::string(), rawEntry->data());
    else
        e = m_access.ListDirectoryFrom(path.empty() ? std::string("\\") : path);
    entries->clear();
    if (engine::DIRLIST *list = m_access.GetDirList())
        for (int i = 0; i < list->GetCount(); ++i)
            if (const engine::DirListEntry *entry = list->Entry(i))
                entries->push_back(*entry);
    return e;
}

} // namespace imbrex::restore
