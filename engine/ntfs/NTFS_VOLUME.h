// NTFS_VOLUME: a read-only NTFS reader over the sectors of one partition, read through the engine slot of its
// VOLUME_BASE. It mounts the volume from its boot sector and the MFT, shares file records and attributes by
// reference count, decodes runlists across attribute lists and extension records, walks directory indexes in
// key order, lists directories into a DIRLIST and reads the unnamed data stream of a file.
//
// Limits that keep a hostile volume bounded: at most 8 records open in the volume and 8 attributes in a
// record; every index block is visited at most once per walk and sub-nodes nest at most 32 deep; a path may
// not pass through the same directory twice nor nest deeper than kMaxDirectoryDepth; runlists
// must advance and stay inside the volume; attribute lists are read only up to 4 MiB.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/DIRLIST.h"
#include "engine/DirectoryTrail.h"
#include "engine/EngineMemory.h"
#include "engine/VOLUME_BASE.h"
#include "engine/ntfs/NTFS_ATTRIBUTE.h"
#include "engine/ntfs/NTFS_FRS.h"
#include "engine/ntfs/NTFS_INDEX.h"
#include "engine/ntfs/NtfsBootSector.h"
#include "engine/ntfs/NtfsIndexNode.h"
#include "engine/ntfs/NtfsLayout.h"

namespace imbrex::engine {

// Handle flag: the file's record holds more than one $DATA attribute (only the unnamed one is read).
inline constexpr uint32_t kNtfsHandleMultipleData = 4;

struct NtfsFileHandle
{
    NTFS_ATTRIBUTE *data = nullptr; // nullptr once the volume was released under the handle
    NTFS_FRS *frs = nullptr;
    uint64_t position = 0;
    uint32_t flags = 0;
};

enum class NtfsResidency
{
    Resident,
    NonResident,
    Either,
};

class NTFS_VOLUME : public VOLUME_BASE
{
public:
    static constexpr size_t kRecordSlots = 8;
    static constexpr size_t kCacheSlots = 16;
    static constexpr uint16_t kMaxAge = 65530;

    explicit NTFS_VOLUME(PARTITION_INFO *partition);
    ~NTFS_VOLUME() override;

    // 0 or an error code; a failed mount leaves the volume released.
    [[nodiscard]] int Mount() override;
    // Closes every record and attribute, frees the cache and the bitmaps. Handles still open read 725 from
    // then on and must still be closed.
    void Release() override;
    bool Mounted() const { return m_mounted; }

    // File operations. Paths are ANSI text with "\" between components.
    [[nodiscard]] int NtfsOpenFile(const char *path, NtfsFileHandle **handle);
    // Opens the file of a listed record, as NtfsOpenFile opens the record its path leads to.
    [[nodiscard]] int NtfsOpenRecord(uint32_t recordNumber, NtfsFileHandle **handle);
    // The data size cut to 32 bits: 0xFFFFFFFF when it does not fit, 0 for a handle without an open
    // attribute.
    uint32_t NtfsGetFileSize(const NtfsFileHandle *handle) const;
    // The full data size; 0 for a handle without an open attribute.
    uint64_t NtfsGetFileSize64(const NtfsFileHandle *handle) const;
    // Reads count bytes at the handle's position (any 64-bit position) and advances it by count.
    [[nodiscard]] int NtfsReadFile(NtfsFileHandle *handle, void *buffer, uint32_t count);
    [[nodiscard]] int NtfsCloseFile(NtfsFileHandle *handle);
    // Appends the directory's names to list: nameSpaceChoice 1 lists every name except the short DOS-only
    // ones, 2 lists the DOS names.
    [[nodiscard]] int NtfsListDirectory(DIRLIST &list, const char *path, int nameSpaceChoice);
    // The first cluster of a file's unnamed data stream, given by its record; 0 when the data lies in the
    // record itself or has no clusters.
    [[nodiscard]] int NtfsDataStart(uint32_t recordNumber, uint64_t *cluster);

    // Building blocks, public so that they can be tested one by one.
    [[nodiscard]] int LoadFrs(uint32_t recordNumber, NTFS_FRS *&out);
    [[nodiscard]] int ReleaseFrs(NTFS_FRS *frs);
    [[nodiscard]] int OpenAttribute(NTFS_FRS *frs, NtfsResidency residency, uint32_t type,
                                    std::u16string_view name, int instance, NTFS_ATTRIBUTE *&out);
    [[nodiscard]] int CloseAttribute(NTFS_ATTRIBUTE *attribute);
    [[nodiscard]] int ReadAttribute(NTFS_ATTRIBUTE *attribute, uint64_t offset, void *buffer, uint32_t count);
    [[nodiscard]] int LoadCluster(uint32_t cluster, const std::byte *&out);
    [[nodiscard]] int OpenIndex(NTFS_FRS *frs, NTFS_INDEX &index);
    [[nodiscard]] int CloseIndex(NTFS_INDEX &index);
    [[nodiscard]] int ReadIndexBlock(NTFS_INDEX &index, uint64_t vcn, std::span<std::byte> block);
    // Visits the keyed entries of the index in key order; visit returns 0 to go on, kStopWalk to end the walk
    // with success, or an error that ends it.
    static constexpr int kStopWalk = -1;
    using IndexVisitor = std::function<int(const ntfs::IndexNode::Entry &, const ntfs::FileNameKey &)>;
    [[nodiscard]] int WalkIndex(NTFS_INDEX &index, const IndexVisitor &visit);
    // Visits, in key order, the entries whose names equal name by CompareNames, reading only the blocks on
    // the way to them; an index sorted otherwise than by CompareNames may hide entries from it.
    [[nodiscard]] int SeekIndex(NTFS_INDEX &index, std::u16string_view name, const IndexVisitor &visit);
    // The record of the path's last component and of its parent directory.
    [[nodiscard]] int LookupPath(const char *path, uint32_t &record, uint32_t &parent);

    const ntfs::NtfsBootSector &Geometry() const { return m_geometry; }
    std::span<const std::byte> BootSector() const { return m_bootSector; }
    std::span<const std::byte> VolumeInformation() const { return m_volumeInformation; }
    std::span<const std::byte> MftBitmap() const { return m_mftBitmap.span(); }
    std::span<const std::byte> ClusterBitmap() const { return m_clusterBitmap.span(); }
    uint32_t RecordCount() const { return m_recordCount; }
    size_t OpenRecordCount() const;

private:
    struct CacheSlot
    {
        EngineBuffer data;
        bool valid = false;
        uint16_t age = 0;
        uint32_t cluster = 0;
    };

    int mountStructures();
    int readRecord(uint32_t recordNumber, std::span<std::byte> buffer);
    int loadAttributeList(NTFS_FRS &frs);
    int loadExtension(const NTFS_FRS &base, const ntfs::AttributeListEntry &entry, EngineBuffer &buffer,
                      ntfs::FileRecord &parsed);
    int decodeRuns(const NTFS_FRS &frs, NTFS_ATTRIBUTE &attribute);
    // Whether whole clusters of a non-resident read may bypass the cluster cache.
    enum class ClusterReads
    {
        Cached,
        Direct,
    };
    int readAttribute(NTFS_ATTRIBUTE *attribute, uint64_t offset, void *buffer, uint32_t count,
                      ClusterReads reads);
    int readNonResident(const ntfs::AttributeHeader &header, const NTFS_RUNLIST &runs, uint64_t offset,
                        std::byte *buffer, size_t count, ClusterReads reads);
    // Reads clusters whole clusters from cluster on into buffer, past the cluster cache.
    int readClusters(uint64_t cluster, uint64_t clusters, std::byte *buffer);
    int readAttributeInto(NTFS_ATTRIBUTE *attribute, EngineBuffer &target, uint64_t bytes);
    int rootNode(const NTFS_INDEX &index, std::optional<ntfs::IndexNode> &node) const;
    int readSubNode(NTFS_INDEX &index, const ntfs::IndexNode::Entry &entry, int depth,
                    std::vector<uint64_t> &visited, EngineBuffer &block);
    int walkNode(NTFS_INDEX &index, ntfs::IndexNode node, int depth, std::vector<uint64_t> &visited,
                 const IndexVisitor &visit);
    int seekNode(NTFS_INDEX &index, ntfs::IndexNode node, int depth, std::vector<uint64_t> &visited,
                 std::u16string_view name, const IndexVisitor &visit);
    bool ownsHandle(const NtfsFileHandle *handle) const;

    std::array<std::byte, 512> m_bootSector{};
    ntfs::NtfsBootSector m_geometry;
    bool m_mounted = false;
    std::array<CacheSlot, kCacheSlots> m_cache;
    std::array<std::unique_ptr<NTFS_FRS>, kRecordSlots> m_records;
    NTFS_FRS *m_mftFrs = nullptr;
    NTFS_ATTRIBUTE *m_mftData = nullptr;
    NTFS_ATTRIBUTE *m_mftBitmapAttribute = nullptr;
    NTFS_FRS *m_bitmapFrs = nullptr;
    NTFS_ATTRIBUTE *m_bitmapData = nullptr;
    EngineBuffer m_mftBitmap;
    EngineBuffer m_clusterBitmap;
    std::array<std::byte, 12> m_volumeInformation{};
    uint32_t m_recordCount = 0;
    std::vector<std::unique_ptr<NtfsFileHandle>> m_handles;
    // The directory part of the last path looked up (as given, without the leading separator), its record and
    // the records of the directories on the way to it.
    struct LastDirectory
    {
        std::u16string path;
        uint32_t record = 0;
        DirectoryTrail trail{ntfs::kRootRecord};
        bool valid = false;
        void clear() { *this = LastDirectory{}; }
    } m_lastDirectory;
};

} // namespace imbrex::engine
