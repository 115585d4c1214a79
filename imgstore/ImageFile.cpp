#include "ImageFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Checksum.h"
#include "common/ByteOrder.h"
#include "common/PathNames.h"
#include "common/ResultCodes.h"
#include "platform/FileCopy.h"

namespace imbrex::zbi {

namespace {

constexpr size_t kOpenParts = 16;
constexpr std::byte kPartMagic[8] = {std::byte{'I'}, std::byte{'M'}, std::byte{'B'}, std::byte{'R'},
                                     std::byte{'X'}, std::byte{'P'}, std::byte{'R'}, std::byte{'T'}};
// Part header field offsets.
constexpr size_t kPhVersion = 8;
constexpr size_t kPhImageId = 12;
constexpr size_t kPhNumber = 16;
constexpr size_t kPhSplitSize = 20;
constexpr size_t kPhChecksum = 24;
constexpr size_t kPhUsed = 32;

bool isMissing(int e)
{
    return e == platform::kErrorFileNotFound || e == platform::kErrorPathNotFound ||
           e == platform::kErrorNotReady;
}

} // namespace

std::string partPath(const std::string &path, uint32_t number)
{
    if (number <= 1)
        return path;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03u", number);
    return replaceExtension(path, digits);
}

int ImageFile::open(const std::string &path, bool writable)
{
    m_path = path;
    m_writable = writable;
    return m_first.open(path, writable ? platform::FileAccess::ReadWrite : platform::FileAccess::Read);
}

int ImageFile::createTemporary(const std::string &temporaryPath, const std::string &finalPath)
{
    m_path = finalPath;
    m_temporaryPath = temporaryPath;
    m_writable = true;
    return m_first.createExclusive(temporaryPath);
}

int ImageFile::rename()
{
    if (int e = platform::replaceFile(m_temporaryPath, m_path))
        return e;
    m_temporaryPath.clear();
    return rc::kOk;
}

void ImageFile::setLayout(uint32_t splitSize, uint32_t imageId)
{
    m_splitSize = splitSize >= kMinSplitSize && splitSize < kNoSplitSize ? splitSize : 0;
    m_imageId = imageId;
}

uint32_t ImageFile::partOf(uint64_t address) const
{
    if (m_splitSize == 0 || address < m_splitSize)
        return 1;
    uint64_t perPart = m_splitSize - kPartHeaderSize;
    uint64_t k = 2 + (address - m_splitSize) / perPart;
    return k > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(k);
}

ImageFile::Piece ImageFile::pieceAt(uint64_t address, size_t length) const
{
    uint32_t number = partOf(address);
    if (number == 1) {
        uint64_t room = m_splitSize == 0 ? UINT64_MAX : m_splitSize - address;
        return {1, address, static_cast<size_t>(std::min<uint64_t>(length, room))};
    }
    uint64_t perPart = m_splitSize - kPartHeaderSize;
    uint64_t start = m_splitSize + uint64_t{number - 2} * perPart;
    uint64_t within = address - start;
    return {number, kPartHeaderSize + within,
            static_cast<size_t>(std::min<uint64_t>(length, perPart - within))};
}

int ImageFile::writeHeader(platform::File &file, uint32_t number)
{
    std::vector<std::byte> header(kPartHeaderSize);
    std::memcpy(header.data(), kPartMagic, sizeof kPartMagic);
    storeLe16(header, kPhVersion, 1);
    storeLe32(header, kPhImageId, m_imageId);
    storeLe32(header, kPhNumber, number);
    storeLe32(header, kPhSplitSize, m_splitSize);
    storeLe64(header, kPhChecksum, checksum(std::span(header).first(kPhChecksum)));
    return file.writeAt(0, header);
}

int ImageFile::checkHeader(platform::File &file, uint32_t number)
{
    std::byte header[kPhUsed];
    size_t got = 0;
    if (int e = file.readAt(0, header, &got))
        return e;
    if (got != sizeof header || std::memcmp(header, kPartMagic, sizeof kPartMagic) != 0 ||
        loadLe64(header, kPhChecksum) != checksum(std::span(header).first(kPhChecksum)) ||
        loadLe32(header, kPhImageId) != m_imageId || loadLe32(header, kPhNumber) != number ||
        loadLe32(header, kPhSplitSize) != m_splitSize)
        return rc::kDataDamaged;
    return rc::kOk;
}

int ImageFile::openPart(uint32_t number, bool create, platform::File *file)
{
    std::string name = partPath(m_path, number);
    for (;;) {
        int e = file->open(name, m_writable ? platform::FileAccess::ReadWrite : platform::FileAccess::Read);
        if (e == 0) {
            e = checkHeader(*file, number);
            if (e == 0)
                return rc::kOk;
            file->close();
            if (create) {
                // A file of this name from another set or an older run: replace it only when allowed.
                if (!m_callback || !m_callback->ConfirmReplaceFile(name.c_str()))
                    return rc::kCancelled;
                if (int r = platform::removeFile(name))
                    return r;
                continue;
            }
            if (m_callback)
                m_callback->ReportWrongMedia();
            if (!m_callback || !m_callback->PromptNumberedMedia(name.c_str(), static_cast<int>(number)))
                return rc::kSpanned;
            continue;
        }
        if (!isMissing(e))
            return e;
        if (create) {
            e = file->createExclusive(name);
            if (e == 0)
                e = writeHeader(*file, number);
            if (e == 0)
                return rc::kOk;
            file->close();
            (void)platform::removeFile(name);
            if (e != platform::kErrorDiskFull)
                return e;
            if (m_callback)
                m_callback->ReportMediaFull();
            if (!m_callback || !m_callback->PromptNewMediaForFile(name.c_str()))
                return rc::kMediaFull;
            continue;
        }
        if (!m_callback || !m_callback->PromptMediaWithFile(name.c_str()))
            return rc::kSpanned;
    }
}

int ImageFile::part(uint32_t number, bool create, platform::File **out)
{
    for (auto it = m_parts.begin(); it != m_parts.end(); ++it) {
        if (it->first == number) {
            m_parts.splice(m_parts.begin(), m_parts, it);
            *out = &m_parts.front().second;
            return rc::kOk;
        }
    }
    platform::File file;
    if (int e = openPart(number, create, &file))
        return e;
    while (m_parts.size() >= kOpenParts) {
        // A part leaves the cache synced, so that sync() need not reopen it.
        if (m_dirty.count(m_parts.back().first)) {
            if (int e = m_parts.back().second.sync())
                return e;
            m_dirty.erase(m_parts.back().first);
        }
        m_parts.pop_back();
    }
    m_parts.emplace_front(number, std::move(file));
    *out = &m_parts.front().second;
    return rc::kOk;
}

int ImageFile::readAt(uint64_t address, std::span<std::byte> data, size_t *got)
{
    size_t done = 0;
    while (done < data.size()) {
        Piece piece = pieceAt(address + done, data.size() - done);
        platform::File *file = &m_first;
        if (piece.part != 1)
            if (int e = part(piece.part, false, &file))
                return e;
        size_t n = 0;
        if (int e = file->readAt(piece.offset, data.subspan(done, piece.length), &n))
            return e;
        done += n;
        if (n < piece.length)
            break;
    }
    *got = done;
    return rc::kOk;
}

platform::File *ImageFile::firstPartHolding(uint64_t address, size_t length, uint64_t *offset)
{
    const Piece piece = pieceAt(address, length);
    if (!m_first.isOpen() || piece.part != 1 || piece.length != length)
        return nullptr;
    *offset = piece.offset;
    return &m_first;
}

template <typename Write> int ImageFile::writeToPart(uint32_t number, Write write)
{
    platform::File *file = &m_first;
    if (number != 1)
        if (int e = part(number, true, &file))
            return e;
    for (;;) {
        int e = write(*file);
        if (e == 0)
            break;
        if (e != platform::kErrorDiskFull || !m_callback)
            return e == platform::kErrorDiskFull ? rc::kMediaFull : e;
        m_callback->ReportMediaFull();
        if (!m_callback->PromptNewMediaForFile(partPath(m_path, number).c_str()))
            return rc::kMediaFull;
    }
    m_dirty.insert(number);
    return rc::kOk;
}

int ImageFile::writeAt(uint64_t address, std::span<const std::byte> data)
{
    size_t done = 0;
    while (done < data.size()) {
        const Piece piece = pieceAt(address + done, data.size() - done);
        if (int e = writeToPart(piece.part, [&](platform::File &file) {
                return file.writeAt(piece.offset, data.subspan(done, piece.length));
            }))
            return e;
        done += piece.length;
    }
    return rc::kOk;
}

int ImageFile::copyFrom(ImageFile &source, uint64_t from, uint64_t to, uint64_t length,
                        std::span<const std::byte> inHand)
{
    // Piece by piece, where either set goes on in its next part.
    uint64_t done = 0;
    while (done < length) {
        const auto rest = static_cast<size_t>(length - done);
        const Piece in = source.pieceAt(from + done, rest);
        const Piece out = pieceAt(to + done, rest);
        const size_t n = std::min(in.length, out.length);
        platform::File *sourceFile = &source.m_first;
        if (in.part != 1)
            if (int e = source.part(in.part, false, &sourceFile))
                return e;
        const auto bytes = inHand.empty() ? inHand : inHand.subspan(static_cast<size_t>(done), n);
        if (int e = writeToPart(out.part, [&](platform::File &file) {
                return platform::copyFileRange(*sourceFile, in.offset, file, out.offset, n, bytes);
            }))
            return e;
        done += n;
    }
    return rc::kOk;
}

int ImageFile::sync()
{
    for (uint32_t number : m_dirty) {
        platform::File *file = &m_first;
        if (number != 1)
            if (int e = part(number, false, &file))
                return e;
        if (int e = file->sync())
            return e;
    }
    m_dirty.clear();
    return rc::kOk;
}

void ImageFile::shrinkTo(uint64_t end)
{
    uint32_t last = partOf(end == 0 ? 0 : end - 1);
    if (m_splitSize != 0) {
        // Later parts of this set hold nothing the image uses any more; files of that name that belong to
        // something else are left alone.
        for (uint32_t number = last + 1;; ++number) {
            m_parts.remove_if([number](const auto &p) { return p.first == number; });
            m_dirty.erase(number);
            platform::File file;
            std::string name = partPath(m_path, number);
            if (file.open(name, platform::FileAccess::Read) != 0 || checkHeader(file, number) != 0)
                break;
            file.close();
            if (platform::removeFile(name) != 0)
                break;
        }
    }
    Piece piece = pieceAt(end == 0 ? 0 : end - 1, 1);
    platform::File *file = &m_first;
    if (piece.part != 1 && part(piece.part, false, &file) != 0)
        return;
    uint64_t size = 0;
    if (file->size(&size) == 0 && size > piece.offset + 1)
        (void)file->truncate(piece.offset + 1);
}

int ImageFile::checkPresent(uint64_t address, uint64_t length)
{
    if (m_splitSize == 0 || length == 0)
        return rc::kOk;
    for (uint32_t number = std::max<uint32_t>(2, partOf(address)); number <= partOf(address + length - 1);
         ++number) {
        platform::File *file = nullptr;
        if (int e = part(number, false, &file))
            return e;
    }
    return rc::kOk;
}

void ImageFile::close()
{
    m_parts.clear();
    m_dirty.clear();
    m_first.close();
}

} // namespace imbrex::zbi
