// Directory index nodes: the node inside an $INDEX_ROOT value, index blocks ("INDX"), and their entries with
// $FILE_NAME keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace imbrex::engine::ntfs {

struct IndexRoot
{
    uint32_t blockBytes = 0;
    uint8_t clustersPerBlock = 0;
};

// Reads the fixed part of an $INDEX_ROOT value; 1513 when it is too short.
int parseIndexRoot(std::span<const std::byte> value, IndexRoot &out);

// The unit in which sub-node VCNs count, for blocks of blockBytes on clusters of clusterBytes: the cluster
// when a block holds at least one, else 512 bytes. 0 when the root's size fields disagree or the block size
// is not one the reader accepts (1525 for the caller).
uint32_t indexVcnUnit(const IndexRoot &root, uint32_t clusterBytes);

// Checks an index block of block.size() bytes and applies its fix-ups in place: 1508 (signature), 1527.
int parseIndexBlock(std::span<std::byte> block);

// The entries of one node: those of a root value (whose header follows the root's fixed part) or of a checked
// index block. The entries must end with a closing entry inside the node.
class IndexNode
{
public:
    static IndexNode forRoot(std::span<const std::byte> rootValue);
    static IndexNode forBlock(std::span<const std::byte> block);

    struct Entry
    {
        uint32_t recordNumber = 0;
        bool hasSubNode = false;
        bool last = false;
        uint64_t subNodeVcn = 0;
        std::span<const std::byte> key; // empty for an entry without key
    };

    // Fills entry with the entry at the cursor and moves past it. Returns 0 with done set after the closing
    // entry was handed out; 1526 when the entries leave the node without one, 1513 for a malformed entry.
    int next(Entry &entry);
    bool done() const { return m_done; }

private:
    IndexNode(std::span<const std::byte> node, size_t first) : m_node(node), m_pos(first) {}

    std::span<const std::byte> m_node;
    size_t m_pos;
    bool m_done = false;
};

// The parts of a $FILE_NAME key a listing uses.
struct FileNameKey
{
    uint64_t modificationTime = 0;
    uint64_t dataSize = 0;
    uint32_t fileAttributes = 0;
    uint8_t nameSpace = 0;
    std::u16string name;
};

// 1513 when the key is too short for its name.
int parseFileNameKey(std::span<const std::byte> key, FileNameKey &out);

} // namespace imbrex::engine::ntfs
