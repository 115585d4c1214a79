// NTFS_ATTRIBUTE: one open attribute of an NTFS_FRS, shared by open count. Its header lies either in the base
// record or in an extension record that the attribute keeps a copy of; a non-resident attribute carries the
// runs of all its extents.
#pragma once

#include <cstdint>
#include <string>

#include "engine/EngineMemory.h"
#include "engine/ntfs/NTFS_RUNLIST.h"
#include "engine/ntfs/NtfsRecord.h"

namespace imbrex::engine {

class NTFS_FRS;

class NTFS_ATTRIBUTE
{
public:
    static constexpr uint32_t kMarker = 0x52545441; // "ATTR"
    static constexpr int kAnyInstance = -1;

    uint32_t Type() const { return m_header.type; }
    bool NonResident() const { return m_header.nonResident; }
    const ntfs::AttributeHeader &Header() const { return m_header; }
    const NTFS_RUNLIST &Runs() const { return m_runs; }
    NTFS_FRS *Record() const { return m_frs; }
    // The record number the header lies in.
    uint32_t HeaderRecordNumber() const { return m_headerRecord; }
    // Data size: the value length of a resident attribute, the header's data size otherwise.
    uint64_t DataSize() const { return m_header.nonResident ? m_header.dataSize : m_header.valueLength; }
    // The record bytes that hold the header.
    std::span<const std::byte> HeaderRecordBytes() const;

private:
    friend class NTFS_VOLUME;

    uint32_t m_marker = 0;
    NTFS_FRS *m_frs = nullptr;
    // What the attribute was opened by, for sharing.
    uint32_t m_wantedType = 0;
    std::u16string m_wantedName;
    int m_wantedInstance = kAnyInstance;

    ntfs::AttributeHeader m_header;
    uint32_t m_headerRecord = 0;
    EngineBuffer m_extension; // the extension record holding the header, when not the base record
    bool m_inExtension = false;
    NTFS_RUNLIST m_runs;
    int m_openCount = 0;
};

} // namespace imbrex::engine
