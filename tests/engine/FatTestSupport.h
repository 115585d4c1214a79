// A FAT_VOLUME over an in-memory partition, with the sector source installed for the test's lifetime.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/DIRLIST.h"
#include "engine/FAT_VOLUME.h"
#include "engine/SectorSource.h"
#include "tests/support/MemorySectorSource.h"

namespace imbrex::test {

class MountedFat
{
public:
    explicit MountedFat(MemorySectorSource source) : m_source(std::move(source))
    {
        engine::setCurrentSectorSource(&m_source);
        m_info = m_source.partitionInfo();
        m_volume = std::make_unique<engine::FAT_VOLUME>(&m_info);
    }
    explicit MountedFat(const std::vector<uint8_t> &image) : MountedFat(MemorySectorSource(image)) {}
    ~MountedFat()
    {
        m_volume.reset();
        engine::setCurrentSectorSource(nullptr);
    }
    MountedFat(const MountedFat &) = delete;
    MountedFat &operator=(const MountedFat &) = delete;

    engine::FAT_VOLUME &volume() { return *m_volume; }
    engine::PARTITION_INFO &info() { return m_info; }
    MemorySectorSource &source() { return m_source; }
    int mount() { return m_volume->Mount(); }

    // Lists a path into a fresh list; the names, in order.
    int list(const std::string &path, std::vector<std::string> &names, engine::DIRLIST *keep = nullptr)
    {
        engine::DIRLIST local;
        engine::DIRLIST &dirList = keep != nullptr ? *keep : local;
        const int result = m_volume->ListDirectory(dirList, path.c_str(), nullptr, nullptr, 1);
        names.clear();
        for (int i = 0; i < dirList.GetCount(); ++i)
            names.push_back(dirList.Entry(i)->name);
        return result;
    }

    // Opens path and reads all of it; the read's result.
    int readAll(const std::string &path, std::vector<uint8_t> &data)
    {
        std::unique_ptr<engine::FAT_FILE> file;
        int result = m_volume->OpenPath(path.c_str(), file);
        if (result != 0)
            return result;
        data.assign(file->size(), 0);
        return m_volume->ReadFile(*file, data.data(), file->size());
    }

private:
    MemorySectorSource m_source;
    engine::PARTITION_INFO m_info;
    std::unique_ptr<engine::FAT_VOLUME> m_volume;
};

} // namespace imbrex::test
