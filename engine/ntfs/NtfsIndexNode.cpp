#include "engine/ntfs/NtfsIndexNode.h"

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "engine/ntfs/NtfsLayout.h"
#include "engine/ntfs/NtfsRecord.h"

namespace imbrex::engine::ntfs {

int parseIndexRoot(std::span<const std::byte> value, IndexRoot &out)
{
    if (value.size() < index::kRootHeader + index::kHeaderSize)
        return rc::kNtfsBadLayout;
    out.blockBytes = loadLe32(value, index::kRootBlockBytes);
    out.clustersPerBlock = std::to_integer<uint8_t>(value[index::kRootClustersPerBlock]);
    return rc::kOk;
}

uint32_t indexVcnUnit(const IndexRoot &root, uint32_t clusterBytes)
{
    const uint32_t b = root.blockBytes;
    if (b < kSectorBytes || b > kMaxIndexBlockBytes || (b & (b - 1)) != 0 || clusterBytes == 0)
        return 0;
    const uint32_t unit = b >= clusterBytes ? clusterBytes : static_cast<uint32_t>(kSectorBytes);
    return uint64_t{root.clustersPerBlock} * unit == b ? unit : 0;
}

int parseIndexBlock(std::span<std::byte> block)
{
    if (block.size() < kSectorBytes || block.size() % kSectorBytes != 0)
        return rc::kNtfsBadLayout;
    const char sig[] = "INDX";
    for (size_t i = 0; i < 4; ++i) {
        if (std::to_integer<char>(block[index::kBlockSignature + i]) != sig[i])
            return rc::kNtfsBadIndexSignature;
    }
    const auto sectors = static_cast<uint32_t>(block.size() / kSectorBytes);
    if (loadLe16(block, index::kBlockUsaOffset) != index::kBlockUsaArray ||
        loadLe16(block, index::kBlockUsaCount) != sectors + 1)
        return rc::kNtfsBadFixup;
    return ApplyFixups(block, index::kBlockUsaArray, sectors);
}

IndexNode IndexNode::forRoot(std::span<const std::byte> rootValue)
{
    // A value shorter than its header gives an empty node, which fails at the first entry.
    if (rootValue.size() < index::kRootHeader + index::kHeaderSize)
        return IndexNode({}, 0);
    const uint64_t first = uint64_t{index::kRootHeader} + loadLe32(rootValue, index::kRootHeader);
    return IndexNode(rootValue, first > rootValue.size() ? rootValue.size() : static_cast<size_t>(first));
}

IndexNode IndexNode::forBlock(std::span<const std::byte> block)
{
    if (block.size() < index::kBlockHeader + index::kHeaderSize)
        return IndexNode({}, 0);
    const uint64_t first = uint64_t{index::kBlockHeader} + loadLe32(block, index::kBlockHeader);
    return IndexNode(block, first > block.size() ? block.size() : static_cast<size_t>(first));
}

int IndexNode::next(Entry &entry)
{
    if (m_done)
        return rc::kNtfsNoClosingEntry;
    if (m_pos >= m_node.size() || m_node.size() - m_pos < index::kEntryMinimum)
        return rc::kNtfsNoClosingEntry;
    const auto e = m_node.subspan(m_pos);
    const size_t length = loadLe16(e, index::kEntryLength);
    const size_t keyLength = loadLe16(e, index::kEntryKeyLength);
    const uint16_t flags = loadLe16(e, index::kEntryFlags);
    if (length < index::kEntryMinimum || length > e.size())
        return rc::kNtfsNoClosingEntry;
    entry = Entry{};
    entry.recordNumber = loadLe32(e, index::kEntryReference);
    entry.hasSubNode = (flags & index::kEntryHasSubNode) != 0;
    entry.last = (flags & index::kEntryLast) != 0;
    const size_t tail = entry.hasSubNode ? 8 : 0;
    if (length < index::kEntryKey + tail || keyLength > length - index::kEntryKey - tail)
        return rc::kNtfsBadLayout;
    if (entry.hasSubNode)
        entry.subNodeVcn = loadLe64(e, length - 8);
    entry.key = e.subspan(index::kEntryKey, keyLength);
    m_pos += length;
    m_done = entry.last;
    return rc::kOk;
}

int parseFileNameKey(std::span<const std::byte> key, FileNameKey &out)
{
    if (key.size() < index::kKeyName)
        return rc::kNtfsBadLayout;
    const size_t units = std::to_integer<uint8_t>(key[index::kKeyNameLength]);
    if (key.size() - index::kKeyName < 2 * units)
        return rc::kNtfsBadLayout;
    out.modificationTime = loadLe64(key, index::kKeyModificationTime);
    out.dataSize = loadLe64(key, index::kKeyDataSize);
    out.fileAttributes = loadLe32(key, index::kKeyFileAttributes);
    out.nameSpace = std::to_integer<uint8_t>(key[index::kKeyNamespace]);
    out.name.assign(units, u'\0');
    for (size_t i = 0; i < units; ++i)
        out.name[i] = static_cast<char16_t>(loadLe16(key, index::kKeyName + 2 * i));
    return rc::kOk;
}

} // namespace imbrex::engine::ntfs
