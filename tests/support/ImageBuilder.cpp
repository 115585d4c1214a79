#include "ImageBuilder.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "imgstore/ZbiFormat.h"

namespace imbrex::test {

std::vector<uint8_t> patternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> out(size);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

std::vector<uint8_t> textBytes(size_t size, uint32_t seed)
{
    static const char *const kWords[] = {"partition", "image",   "restore", "block", "sector",
                                         "volume",    "the",     "of",      "and",   "file",
                                         "directory", "cluster", "record",  "index"};
    std::vector<uint8_t> random = patternBytes(size / 4 + 16, seed);
    std::string text;
    size_t r = 0;
    while (text.size() < size) {
        text += kWords[random[r % random.size()] % 14];
        text += random[(r + 1) % random.size()] % 9 == 0 ? "\n" : " ";
        if (random[(r + 2) % random.size()] % 5 == 0)
            text += std::to_string(random[(r + 3) % random.size()]);
        r += 4;
    }
    return std::vector<uint8_t>(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

static uint32_t blockCountOf(const PartitionSpec &spec)
{
    return (spec.sectorCount + spec.sectorsPerBlock - 1) / spec.sectorsPerBlock;
}

static bool isStored(const PartitionSpec &spec, uint32_t block)
{
    return spec.storedBlocks.empty() || (block < spec.storedBlocks.size() && spec.storedBlocks[block]);
}

std::vector<uint8_t> volumeBytes(const PartitionSpec &spec)
{
    size_t size = static_cast<size_t>(spec.sectorCount) * 512;
    if (!spec.content.empty()) {
        std::vector<uint8_t> given = spec.content;
        given.resize(size);
        return given;
    }
    return spec.compressible ? textBytes(size, spec.seed) : patternBytes(size, spec.seed);
}

std::vector<uint8_t> storedStream(const PartitionSpec &spec)
{
    std::vector<uint8_t> volume = volumeBytes(spec);
    std::vector<uint8_t> stream;
    size_t blockBytes = static_cast<size_t>(spec.sectorsPerBlock) * 512;
    for (uint32_t b = 0; b < blockCountOf(spec); ++b) {
        if (!isStored(spec, b))
            continue;
        size_t start = b * blockBytes;
        size_t end = std::min(start + blockBytes, volume.size());
        stream.insert(stream.end(), volume.begin() + static_cast<std::ptrdiff_t>(start),
                      volume.begin() + static_cast<std::ptrdiff_t>(end));
        // The last block of a volume that is not a whole number of blocks is stored in full, padded with
        // zeros.
        stream.resize(stream.size() + (blockBytes - (end - start)));
    }
    return stream;
}

std::vector<uint8_t> bitmapOf(const PartitionSpec &spec)
{
    uint32_t blocks = blockCountOf(spec);
    std::vector<uint8_t> bitmap((blocks + 7) / 8);
    for (uint32_t b = 0; b < blocks; ++b)
        if (isStored(spec, b))
            bitmap[b / 8] = static_cast<uint8_t>(bitmap[b / 8] | (1u << (b % 8)));
    return bitmap;
}

int addPartition(ImageStore &store, const PartitionSpec &spec, uint32_t writeSize)
{
    if (int e = store.AddPartition(spec.typeId, spec.fileSystemType, spec.sectorCount, spec.driveLetter,
                                   spec.compression, 0))
        return e;
    if (!spec.password.empty())
        if (int e = store.SetPartitionPassword(ConvertPasswordString(spec.password.c_str())))
            return e;
    if (int e = store.SetNewPartitionName(spec.name.c_str()))
        return e;
    if (int e = store.SetNewPartitionComment(spec.comment.c_str()))
        return e;
    if (int e = store.SetPartitionKind(spec.kind))
        return e;
    std::vector<uint8_t> bitmap = bitmapOf(spec);
    uint32_t used = 0;
    for (uint32_t b = 0; b < blockCountOf(spec); ++b)
        used += isStored(spec, b) ? 1u : 0u;
    if (int e = store.WriteBlockBitmap(bitmap.data(), static_cast<uint32_t>(bitmap.size()),
                                       spec.sectorsPerBlock, blockCountOf(spec), used, spec.compression))
        return e;
    std::vector<uint8_t> stream = storedStream(spec);
    for (size_t offset = 0; offset < stream.size();) {
        auto n = static_cast<uint32_t>(std::min<size_t>(writeSize, stream.size() - offset));
        uint32_t written = 0;
        if (int e = store.WriteData(stream.data() + offset, n, &written))
            return e;
        offset += written;
    }
    return store.ReleasePartition(1);
}

namespace {

// Selects partition number and appends to *out what read (a call of ReadData or ReadRawData into a buffer of
// size bytes) gives until it gives nothing.
template <typename Read>
int readAll(ImageStore &store, uint32_t number, uint32_t size, std::vector<uint8_t> *out, Read read)
{
    if (int e = store.SelectPartition(number, 0))
        return e;
    out->clear();
    std::vector<uint8_t> buffer(size);
    for (;;) {
        uint32_t got = 0;
        if (int e = read(buffer.data(), size, &got)) {
            (void)store.ReleasePartition(1);
            return e;
        }
        if (got == 0)
            break;
        out->insert(out->end(), buffer.begin(), buffer.begin() + got);
    }
    return store.ReleasePartition(1);
}

} // namespace

int readStream(ImageStore &store, uint32_t number, std::vector<uint8_t> *out, uint32_t readSize)
{
    return readAll(store, number, readSize, out, [&](uint8_t *buffer, uint32_t size, uint32_t *got) {
        return store.ReadData(buffer, size, got);
    });
}

int readRawStream(ImageStore &store, uint32_t number, std::vector<uint8_t> *out)
{
    return readAll(store, number, 1 << 20, out, [&](uint8_t *buffer, uint32_t size, uint32_t *got) {
        uint32_t compression = 0;
        return store.ReadRawData(buffer, size, got, &compression);
    });
}

int copyStoredForm(ImageStore &source, uint32_t number, ImageStore &target, uint32_t step)
{
    if (int e = source.SelectPartition(number, 0))
        return e;
    uint32_t typeId = 0, fileSystemType = 0, sectorCount = 0, compression = 0, password = 0;
    uint32_t sectorsPerBlock = 0, blockCount = 0, used = 0;
    char drive = 0;
    for (int e :
         {source.GetPartitionTypeId(&typeId), source.GetFileSystemType(&fileSystemType),
          source.GetSectorCount(&sectorCount), source.GetCompression(&compression),
          source.GetPartitionPassword(&password), source.GetSectorsPerBlock(&sectorsPerBlock),
          source.GetBlockCount(&blockCount), source.GetUsedBlockCount(&used), source.GetDriveLetter(&drive)})
        if (e != 0)
            return e;
    if (int e = target.AddPartition(typeId, fileSystemType, sectorCount, drive, compression, 0))
        return e;
    if (int e = target.SetPartitionPassword(password))
        return e;
    std::vector<uint8_t> bitmap(blockCount / 8 + 4096);
    uint32_t bytes = 0;
    if (int e = source.ReadBlockBitmapRaw(bitmap.data(), static_cast<uint32_t>(bitmap.size()), &bytes,
                                          &compression))
        return e;
    if (int e =
            target.WriteBlockBitmapRaw(bitmap.data(), bytes, sectorsPerBlock, blockCount, used, compression))
        return e;
    for (;;) {
        uint32_t moved = 0;
        if (int e = target.CopyRawDataFrom(source, step, &moved))
            return e;
        if (moved == 0)
            break;
    }
    if (int e = source.ReleasePartition(1))
        return e;
    return target.ReleasePartition(1);
}

std::vector<std::byte> superblockSlot(const std::string &path, int slot)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(zbi::kSuperblockOffset[slot]));
    std::vector<char> bytes(zbi::kSuperblockSize);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    std::vector<std::byte> out(bytes.size());
    std::transform(bytes.begin(), bytes.end(), out.begin(), [](char c) { return static_cast<std::byte>(c); });
    return out;
}

namespace {

void putBytes(const std::string &path, uint64_t offset, std::span<const std::byte> bytes)
{
    std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(static_cast<std::streamoff>(offset));
    io.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

void spoilByte(const std::string &path, uint64_t offset, char value)
{
    std::byte b{static_cast<unsigned char>(value)};
    putBytes(path, offset, std::span(&b, 1));
}

bool makeSingleSlotImage(const std::string &path)
{
    std::vector<std::byte> first;
    {
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
        if (!store)
            return false;
        first = superblockSlot(path, 1);
        PartitionSpec spec;
        spec.sectorCount = 400;
        if (addPartition(*store, spec) != 0 || store->Close() != 0)
            return false;
    }
    // The slots as such a writer wrote them: generation g in slot g mod 2, without the mirrored flag.
    auto singleSlot = [](std::span<const std::byte> bytes, uint64_t generation, std::vector<std::byte> *out) {
        zbi::Superblock sb;
        if (zbi::parseSuperblock(bytes, &sb) != zbi::SlotState::Valid || sb.generation != generation)
            return false;
        sb.flags = 0;
        *out = zbi::encodeSuperblock(sb);
        return true;
    };
    std::vector<std::byte> one, two;
    if (!singleSlot(first, 1, &one) || !singleSlot(superblockSlot(path, 0), 2, &two))
        return false;
    putBytes(path, zbi::kSuperblockOffset[1], one);
    putBytes(path, zbi::kSuperblockOffset[0], two);
    return true;
}

} // namespace imbrex::test
