// A read-only check of a whole image: both superblock slots, the catalog, and for each partition its block
// bitmap, chunk table and every chunk record (checksum, header, decoding, and for a protected partition the
// key). It opens the file read-only, takes no lock and writes nothing, so it can run beside a writer; it
// reads the state committed when it opened, as the store does.
//
// Damage is collected as pieces, each saying where in the image it lies and what of the partition it holds,
// so that a caller can tell the person which partition bytes (and, through the file system, which files) are
// lost. Reading errors that are not damage (a missing part of a split set, a cancelled prompt) end the check
// of a partition with their code instead: the file could not be looked at, which is not the same as finding
// it broken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "IMGSTORE_UI_CALLBACK.h"
#include "ImageFile.h"
#include "Keyring.h"
#include "ZbiFormat.h"
#include "common/Progress.h"

namespace imbrex::zbi {

struct ByteRange
{
    uint64_t offset = 0;
    uint64_t length = 0;
};

enum class PieceKind
{
    Superblock,
    Catalog,
    Bitmap,
    ChunkTable,
    Chunks, // one chunk, or a run of neighbouring chunks damaged in the same way
};

struct DamagedPiece
{
    PieceKind kind = PieceKind::Chunks;
    uint32_t partition = 0; // 1-based; 0 for the image's own structures
    uint32_t slot = 0;      // superblock slot
    uint64_t firstChunk = 0, lastChunk = 0;
    ByteRange image; // addresses in the image (the first file's offsets for a single file)
    int code = 0;
    std::string reason;
    // What of the partition is lost with it: the whole partition when a bitmap or chunk table is damaged; for
    // chunks, bytes of the data stream and, when the bitmap can be read, where those bytes lie in the
    // partition (ranges in increasing order).
    bool wholePartition = false;
    ByteRange stream;
    bool placeKnown = false;
    std::vector<ByteRange> partitionRanges;
};

struct PartitionCheck
{
    uint64_t chunksChecked = 0;
    // A protected partition without a remembered password text that opens it: checksums are checked, but no
    // payload is decrypted or decoded, and the bitmap's block count cannot be compared.
    bool keyMissing = false;
    std::vector<DamagedPiece> damage;
};

class ImageVerifier
{
public:
    ImageVerifier() = default;
    ImageVerifier(const ImageVerifier &) = delete;
    ImageVerifier &operator=(const ImageVerifier &) = delete;

    // Opens the image read-only and checks its superblock slots and the catalog of the current one. 0 when
    // the image could be looked at (damage found goes to imageDamage()), or the code when it could not: the
    // file cannot be opened, holds no image at all (1900) or was made by a newer version (1818).
    [[nodiscard]] int open(const std::string &path, IMGSTORE_UI_CALLBACK *callback);

    const std::vector<DamagedPiece> &imageDamage() const { return m_imageDamage; }
    // False when no catalog could be read: there are no partitions to check then.
    bool catalogReadable() const { return m_catalogReadable; }
    const Catalog &catalog() const { return m_catalog; }
    uint64_t generation() const { return m_super.generation; }

    // Checks partition number (1-based). Reports the stored bytes checked so far against the partition's
    // stored size; 7 when progress asks to stop. 0 when every piece was looked at (check->damage says what
    // is broken), or the code that kept it from being looked at.
    [[nodiscard]] int verifyPartition(uint32_t number, Progress &progress, PartitionCheck *check);

private:
    void checkSuperblocks(std::span<const std::byte> head, int *best);
    int readExact(uint64_t address, std::span<std::byte> out, bool *complete);
    // Reads the records from chunk index on into the window, as far as they seem to follow each other.
    int fillWindow(const std::vector<uint64_t> &offsets, uint64_t index);
    int checkChunks(const PartitionRecord &p, uint32_t number, const std::vector<uint64_t> &offsets,
                    const std::optional<PartitionKey> &key, Progress &progress, PartitionCheck *check);

    ImageFile m_file;
    Superblock m_super;
    Catalog m_catalog;
    bool m_catalogReadable = false;
    std::vector<DamagedPiece> m_imageDamage;
    std::vector<std::byte> m_window;
    uint64_t m_windowBase = 0;
    size_t m_windowLength = 0;
};

// Where the data stream bytes [stream.offset, stream.offset + stream.length) of a partition lie in the
// partition, given its decoded block bitmap: the used blocks hold the stream one after another, in block
// order. Neighbouring ranges are merged.
std::vector<ByteRange> partitionRangesOf(std::span<const std::byte> bits, uint32_t blockCount,
                                         uint64_t blockBytes, ByteRange stream);

} // namespace imbrex::zbi
