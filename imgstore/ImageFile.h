// The bytes of an image as one address space, kept in one file or split over a set of part files.
//
// A set's first part is the image file itself and holds addresses [0, S) of split size S. Part k >= 2 is
// named after the first by replacing the text after the last "." with k as three digits (a name without "."
// gets one), starts with a header naming its image and number, and holds the next S - 4096 addresses. A part
// that is missing, or that belongs to another image or another number, is asked for through the callback; a
// part that is not there when it is needed is reported as 1812, the set being spread over several places.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "IMGSTORE_UI_CALLBACK.h"
#include "platform/File.h"

namespace imbrex::zbi {

inline constexpr uint64_t kPartHeaderSize = 4096;
// Split sizes the store accepts; 0 and anything from kNoSplitSize up mean a single file.
inline constexpr uint32_t kMinSplitSize = 10000000;
inline constexpr uint32_t kNoSplitSize = 0x7fffffff;

// The file name of part number (1-based) of the set whose first part is path.
std::string partPath(const std::string &path, uint32_t number);

class ImageFile
{
public:
    ImageFile() = default;
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    // Opens an existing first part (the image file).
    [[nodiscard]] int open(const std::string &path, bool writable);
    // Creates a new first part at a temporary path; rename() gives it its name once it is complete.
    [[nodiscard]] int createTemporary(const std::string &temporaryPath, const std::string &finalPath);
    [[nodiscard]] int rename();
    // The set's layout, known from the image's superblock (or chosen for a new image).
    void setLayout(uint32_t splitSize, uint32_t imageId);
    void setCallback(IMGSTORE_UI_CALLBACK *callback) { m_callback = callback; }

    [[nodiscard]] int readAt(uint64_t address, std::span<std::byte> data, size_t *got);
    // The first part's file when [address, address + length) lies wholly in it, with the offset there in
    // *offset; nullptr otherwise. Another thread may read it with readAt while the image stays open.
    platform::File *firstPartHolding(uint64_t address, size_t length, uint64_t *offset);
    [[nodiscard]] int writeAt(uint64_t address, std::span<const std::byte> data);
    // Copies length bytes at address from of source to address to here, inside the kernel where it can;
    // inHand, when not empty, holds those bytes already read, to write where it cannot.
    [[nodiscard]] int copyFrom(ImageFile &source, uint64_t from, uint64_t to, uint64_t length,
                               std::span<const std::byte> inHand);
    // Makes every part written since the last sync durable.
    [[nodiscard]] int sync();
    // Gives back everything from address end on: later parts are deleted, the last one is cut.
    void shrinkTo(uint64_t end);
    // Checks that the parts holding [address, address + length) are there, asking for missing ones.
    [[nodiscard]] int checkPresent(uint64_t address, uint64_t length);
    [[nodiscard]] bool tryLockExclusive() { return m_first.tryLockExclusive(); }
    [[nodiscard]] int firstPartSize(uint64_t *out) const { return m_first.size(out); }
    void close();

    bool isSplit() const { return m_splitSize != 0; }
    uint32_t splitSize() const { return m_splitSize; }
    // The part number holding address.
    uint32_t partOf(uint64_t address) const;
    const std::string &path() const { return m_path; }

private:
    struct Piece
    {
        uint32_t part;
        uint64_t offset; // within the part file
        size_t length;
    };
    Piece pieceAt(uint64_t address, size_t length) const;
    // Runs write (which returns an error code) on the file of part number, asking for new media while it
    // reports a full disk.
    template <typename Write> int writeToPart(uint32_t number, Write write);
    // The open file of part number >= 2, opening (or, when writing, creating) it first.
    int part(uint32_t number, bool create, platform::File **out);
    int openPart(uint32_t number, bool create, platform::File *file);
    int checkHeader(platform::File &file, uint32_t number);
    int writeHeader(platform::File &file, uint32_t number);

    std::string m_path;
    std::string m_temporaryPath;
    bool m_writable = false;
    uint32_t m_splitSize = 0; // 0: one file
    uint32_t m_imageId = 0;
    IMGSTORE_UI_CALLBACK *m_callback = nullptr;
    platform::File m_first;
    // Open later parts, the most recently used first; at most kOpenParts stay open.
    std::list<std::pair<uint32_t, platform::File>> m_parts;
    std::set<uint32_t> m_dirty;
    std::set<uint32_t> m_confirmed; // parts created or checked by this object
};

} // namespace imbrex::zbi
