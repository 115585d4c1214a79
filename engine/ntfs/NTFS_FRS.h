// NTFS_FRS: one file record of a mounted NTFS_VOLUME, shared by reference count. The volume creates, looks up
// and frees these objects (LoadFrs / ReleaseFrs); the record's buffer has had its fix-ups applied and its
// attribute area checked.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/EngineMemory.h"
#include "engine/ntfs/NtfsRecord.h"

namespace imbrex::engine {

class NTFS_ATTRIBUTE;
class NTFS_VOLUME;

class NTFS_FRS
{
public:
    static constexpr uint32_t kMarker = 0x5F535246; // "FRS_"
    static constexpr size_t kAttributeSlots = 8;

    NTFS_FRS();
    ~NTFS_FRS();
    NTFS_FRS(const NTFS_FRS &) = delete;
    NTFS_FRS &operator=(const NTFS_FRS &) = delete;

    uint32_t RecordNumber() const { return m_number; }
    const ntfs::FileRecord &Parsed() const { return m_parsed; }
    std::span<const std::byte> Bytes() const { return m_record.span(); }
    bool HasAttributeList() const { return m_hasList; }
    const std::vector<ntfs::AttributeListEntry> &AttributeList() const { return m_list; }
    int ReferenceCount() const { return m_references; }

private:
    friend class NTFS_VOLUME;

    uint32_t m_marker = 0; // kMarker while registered in the volume's table
    NTFS_VOLUME *m_volume = nullptr;
    uint32_t m_number = 0;
    EngineBuffer m_record;
    ntfs::FileRecord m_parsed;
    bool m_hasList = false;
    std::vector<ntfs::AttributeListEntry> m_list;
    std::array<std::unique_ptr<NTFS_ATTRIBUTE>, kAttributeSlots> m_attributes;
    int m_references = 0;
};

} // namespace imbrex::engine
