#include "VolumeFiles.h"

#include "common/ResultCodes.h"
#include "engine/ntfs/NTFS_VOLUME.h"

namespace imbrex::restore {

namespace {

class FatFiles final : public VolumeFiles
{
public:
    explicit FatFiles(engine::PARTITION_INFO &info) : m_volume(&info) {}

    engine::VOLUME_BASE &volume() override { return m_volume; }
    engine::FAT_VOLUME *fatVolume() override { return &m_volume; }
    engine::FAT_FILE *currentFatFile() const override { return m_current.get(); }

    int openFile(const std::string &path, int *kind) override
    {
        std::unique_ptr<engine::FAT_FILE> file;
        if (int e = m_volume.OpenPath(path.c_str(), file))
            return e;
        m_current = std::move(file);
        if (kind)
            *kind = kFileKindSingleStream;
        return rc::kOk;
    }

    int openEntry(const uint8_t *rawEntry, std::unique_ptr<engine::FAT_FILE> *out) override
    {
        if (rawEntry == nullptr)
            return rc::kInvalidArgument;
        std::unique_ptr<engine::FAT_FILE> file;
        if (int e = m_volume.MakeFile(rawEntry, file))
            return e == rc::kOutOfMemory ? rc::kCacheAllocation : e;
        if (out)
            *out = std::move(file);
        else
            m_current = std::move(file);
        return rc::kOk;
    }

    uint32_t fileSize() const override { return m_current ? m_current->size() : 0; }
    uint64_t fileSize64() const override { return fileSize(); }

    int readFile(void *buffer, uint32_t count) override
    {
        if (!m_current)
            return rc::kNoVolumeOpen;
        return m_volume.ReadFile(*m_current, buffer, count);
    }

    int closeFile() override
    {
        m_current.reset();
        return rc::kOk;
    }

    int dataStart(const uint8_t *rawEntry, uint32_t, uint64_t *cluster) override
    {
        *cluster = rawEntry ? m_volume.StartCluster(rawEntry) : 0;
        return rc::kOk;
    }

    int listDirectory(engine::DIRLIST &list, const std::string &path, engine::FAT_FILE *directoryFile,
                      std::unique_ptr<engine::FAT_FILE> *openedDirectory) override
    {
        return m_volume.ListDirectory(list, path.c_str(), directoryFile, openedDirectory, 1);
    }

private:
    engine::FAT_VOLUME m_volume;
    std::unique_ptr<engine::FAT_FILE> m_current; // declared after the volume: released before it
};

class NtfsFiles final : public VolumeFiles
{
public:
    explicit NtfsFiles(engine::PARTITION_INFO &info) : m_volume(&info) {}
    // The handle belongs to the reader and is given back to it; nothing can be done about a failure here.
    ~NtfsFiles() override { (void)closeFile(); }

    engine::VOLUME_BASE &volume() override { return m_volume; }

    int openFile(const std::string &path, int *kind) override
    {
        return open(
            [&](engine::NtfsFileHandle **handle) { return m_volume.NtfsOpenFile(path.c_str(), handle); },
            kind);
    }

    int openRecord(uint32_t recordNumber, int *kind) override
    {
        return open(
            [&](engine::NtfsFileHandle **handle) { return m_volume.NtfsOpenRecord(recordNumber, handle); },
            kind);
    }

    int openEntry(const uint8_t *, std::unique_ptr<engine::FAT_FILE> *) override
    {
        return rc::kGeneralFailure;
    }

    uint32_t fileSize() const override { return m_current ? m_volume.NtfsGetFileSize(m_current) : 0; }
    uint64_t fileSize64() const override { return m_current ? m_volume.NtfsGetFileSize64(m_current) : 0; }

    int readFile(void *buffer, uint32_t count) override
    {
        if (m_current == nullptr)
            return rc::kNoVolumeOpen;
        return m_volume.NtfsReadFile(m_current, buffer, count);
    }

    int closeFile() override
    {
        engine::NtfsFileHandle *handle = m_current;
        m_current = nullptr;
        return handle ? m_volume.NtfsCloseFile(handle) : rc::kOk;
    }

    int dataStart(const uint8_t *, uint32_t recordNumber, uint64_t *cluster) override
    {
        *cluster = 0;
        return recordNumber != 0 ? m_volume.NtfsDataStart(recordNumber, cluster) : rc::kOk;
    }

    int listDirectory(engine::DIRLIST &list, const std::string &path, engine::FAT_FILE *,
                      std::unique_ptr<engine::FAT_FILE> *) override
    {
        return m_volume.NtfsListDirectory(list, path.c_str(), 1);
    }

private:
    template <class Open> int open(Open openHandle, int *kind)
    {
        // The previous file is closed even when the new one cannot be opened; its close result does not
        // change whether the new one opens.
        (void)closeFile();
        engine::NtfsFileHandle *handle = nullptr;
        if (int e = openHandle(&handle))
            return e;
        m_current = handle;
        if (kind)
            *kind = (handle->flags & engine::kNtfsHandleMultipleData) ? kFileKindSeveralStreams
                                                                      : kFileKindSingleStream;
        return rc::kOk;
    }

    engine::NTFS_VOLUME m_volume;
    engine::NtfsFileHandle *m_current = nullptr; // owned by the reader
};

template <class Files> int mountAs(engine::PARTITION_INFO &info, std::unique_ptr<VolumeFiles> &files)
{
    files = std::make_unique<Files>(info);
    return files->volume().Mount();
}

} // namespace

int mountVolumeFiles(uint8_t fileSystemCode, engine::PARTITION_INFO &info,
                     std::unique_ptr<VolumeFiles> &files)
{
    files.reset();
    switch (fileSystemCode) {
    case engine::kFileSystemFat:
        return mountAs<FatFiles>(info, files);
    case engine::kFileSystemNtfs:
        return mountAs<NtfsFiles>(info, files);
    default:
        return rc::kUnsupportedFileSystem;
    }
}

} // namespace imbrex::restore
