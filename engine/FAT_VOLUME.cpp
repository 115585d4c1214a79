#include "engine/FAT_VOLUME.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "engine/ConvertName.h"
#include "engine/Diagnostics.h"
#include "engine/DirectoryTrail.h"

namespace imbrex::engine {

namespace {

constexpr uint32_t kHighHalfClusterCount = 65538;
constexpr uint32_t kLongNameCharsPerEntry = 13;
constexpr uint8_t kLongNameLast = 0x40;
constexpr uint8_t kAttrLongNameMask = 0x0F;
constexpr size_t kListedNameBytes = kLongNameChars * 4 + 1;
constexpr int kWalkEnd = -1;

std::span<const std::byte> bytesOf(const uint8_t *p, size_t n)
{
    return std::as_bytes(std::span(p, n));
}

DirListDate entryDate(std::span<const std::byte> e)
{
    const uint16_t d = loadLe16(e, FatDirEntry::kDate);
    DirListDate date;
    date.day = static_cast<uint8_t>(d & 0x1F);
    date.month = static_cast<uint8_t>((d >> 5) & 0x0F);
    date.year = static_cast<uint16_t>(d >> 9);
    return date;
}

DirListTime entryTime(std::span<const std::byte> e)
{
    const uint16_t t = loadLe16(e, FatDirEntry::kTime);
    DirListTime time;
    time.hour = static_cast<uint8_t>(t >> 11);
    time.minute = static_cast<uint8_t>((t >> 5) & 0x3F);
    time.second = static_cast<uint8_t>((t & 0x1F) * 2);
    return time;
}

// "NAME.EXT" from the space-padded fields, as stored.
std::string shortName(const uint8_t *e)
{
    std::string name;
    for (size_t i = 0; i < FatDirEntry::kNameBytes && e[FatDirEntry::kName + i] != ' '; ++i)
        name.push_back(static_cast<char>(e[FatDirEntry::kName + i]));
    std::string extension;
    for (size_t i = 0; i < FatDirEntry::kExtensionBytes && e[FatDirEntry::kExtension + i] != ' '; ++i)
        extension.push_back(static_cast<char>(e[FatDirEntry::kExtension + i]));
    if (!extension.empty())
        name += "." + extension;
    return name;
}

// The short name as it is shown: the case flags of byte 12 applied (base and extension in lower case, as
// Windows writes them for names like "readme.txt"), then converted from the disk's OEM code page.
std::string listedShortName(const uint8_t *e, std::vector<char> &buffer)
{
    constexpr size_t kCaseFlags = 12;
    constexpr uint8_t kLowerBase = 0x08;
    constexpr uint8_t kLowerExtension = 0x10;
    std::string name = shortName(e);
    auto dot = name.find('.');
    for (size_t i = 0; i < name.size(); ++i) {
        bool inExtension = dot != std::string::npos && i > dot;
        uint8_t flag = inExtension ? kLowerExtension : kLowerBase;
        if ((e[kCaseFlags] & flag) && name[i] >= 'A' && name[i] <= 'Z')
            name[i] = static_cast<char>(name[i] - 'A' + 'a');
    }
    if (ConvertName(kNameAnsi, buffer.data(), kNameOem, name.c_str(), buffer.size()) == 0 && buffer[0] != 0)
        return buffer.data();
    return name;
}

// The 11-byte name field form of one path component: upper-cased, "." moves to the extension.
std::array<uint8_t, 11> shortForm(std::string_view component)
{
    std::array<uint8_t, 11> form;
    form.fill(' ');
    size_t at = 0;
    for (const char c : component) {
        if (c == '.') {
            at = FatDirEntry::kNameBytes;
            continue;
        }
        if (at >= form.size())
            continue;
        form[at++] = static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return form;
}

} // namespace

// ---- FAT_VARS ----

int FAT_VARS::attachFat(SectorReader read)
{
    m_fatSectors = static_cast<uint32_t>((fatBytesNeeded() + bytesPerSector - 1) / bytesPerSector);
    const uint32_t pieces = (m_fatSectors + kFatPieceSectors - 1) / kFatPieceSectors;
    const int result = m_fat.allocate(size_t{m_fatSectors} * bytesPerSector);
    if (result != rc::kOk)
        return result;
    m_pieceLoaded.assign(pieces, 0);
    m_read = std::move(read);
    return rc::kOk;
}

// Reads every piece not yet read that holds a byte of firstByte .. lastByte.
int FAT_VARS::loadPieces(size_t firstByte, size_t lastByte) const
{
    const size_t pieceBytes = size_t{kFatPieceSectors} * bytesPerSector;
    for (size_t piece = firstByte / pieceBytes; piece <= lastByte / pieceBytes; ++piece) {
        if (m_pieceLoaded[piece] != 0)
            continue;
        const uint32_t first = static_cast<uint32_t>(piece) * kFatPieceSectors;
        const uint32_t count = std::min(kFatPieceSectors, m_fatSectors - first);
        const int result = m_read(activeFatSector() + first, m_fat.data() + piece * pieceBytes, count);
        if (result != rc::kOk) {
            logDiagnostic("FAT_VARS: sectors %u .. %u of the FAT cannot be read (%d)\n", first,
                          first + count - 1, result);
            return result;
        }
        m_pieceLoaded[piece] = 1;
    }
    return rc::kOk;
}

int FAT_VARS::lookup(uint32_t cluster, uint32_t &next) const
{
    next = kFatEndOfChain;
    if (!fatLoaded() || size_t{cluster} >= size_t{clusterCount} + 2)
        return rc::kOk;
    const size_t at =
        fatType == kFat12 ? 3 * size_t{cluster} / 2 : size_t{cluster} * (fatType == kFat16 ? 2 : 4);
    const size_t width = fatType == kFat32 ? 4 : 2;
    const int result = loadPieces(at, at + width - 1);
    if (result != rc::kOk) {
        next = kFatBadCluster;
        return result;
    }
    next = fatEntry(m_fat.span(), fatType, cluster);
    return rc::kOk;
}

// ---- FAT_FILE ----

FAT_FILE::FAT_FILE(FAT_VOLUME *owner, const std::array<uint8_t, FatDirEntry::kBytes> &dirEntry,
                   uint32_t startCluster, const FatEntryLocation &where)
    : volume(owner), entry(dirEntry), currentCluster(startCluster), location(where),
      m_startCluster(startCluster)
{
}

// ---- directory walks ----

// Hands out a directory's sectors one at a time: the fixed root area of FAT12/16, or the sectors of a
// cluster chain that checkChain() has accepted.
class FAT_VOLUME::DirectoryWalk
{
public:
    DirectoryWalk(FAT_VOLUME &volume, uint32_t firstCluster) : m_volume(volume)
    {
        const FAT_VARS &v = *volume.m_vars;
        if (firstCluster < kFirstDataCluster && v.fatType == kFat32)
            firstCluster = v.rootCluster;
        m_fixedRoot = firstCluster < kFirstDataCluster;
        m_first = m_fixedRoot ? 0 : firstCluster;
        m_cluster = m_first;
        m_isFat32Root = v.fatType == kFat32 && m_first == v.rootCluster;
    }

    // Checks the chain before the walk starts.
    int start() const
    {
        if (m_fixedRoot)
            return rc::kOk;
        return m_volume.checkChain(m_first, m_isFat32Root ? rc::kPathNotFound : rc::kFatClusterOutOfRange);
    }

    // Reads the next sector into buffer: 0, kWalkEnd after the last sector, or an error.
    int next(std::byte *buffer)
    {
        const FAT_VARS &v = *m_volume.m_vars;
        if (m_fixedRoot) {
            if (m_sector >= v.rootDirSectors)
                return kWalkEnd;
            m_currentSector = m_sector++;
            return m_volume.readVolumeSectors(v.firstRootSector + m_currentSector, buffer, 1);
        }
        if (m_sector == v.sectorsPerCluster) {
            const uint32_t next = v.entry(m_cluster);
            // A directory has no size of its own: a chain that runs into a cluster marked bad has lost its
            // tail, and ending the listing there would hide the entries that were in it.
            if (next == kFatBadCluster) {
                logDiagnostic("FAT_VOLUME: the directory at cluster %u runs into a bad cluster after %u\n",
                              m_first, m_cluster);
                return rc::kFatClusterOutOfRange;
            }
            if (next >= kFatBadCluster)
                return kWalkEnd;
            m_cluster = next; // checkChain() made sure it is a data cluster
            m_sector = 0;
        }
        m_currentSector = m_sector++;
        return m_volume.readVolumeSectors(v.clusterSector(m_cluster) + m_currentSector, buffer, 1);
    }

    FatEntryLocation location(uint32_t entryIndex) const
    {
        return {static_cast<int32_t>(m_first), static_cast<int32_t>(m_cluster),
                static_cast<int32_t>(m_currentSector), static_cast<int32_t>(entryIndex)};
    }

private:
    FAT_VOLUME &m_volume;
    bool m_fixedRoot = false;
    bool m_isFat32Root = false;
    uint32_t m_first = 0;
    uint32_t m_cluster = 0;
    uint32_t m_sector = 0;
    uint32_t m_currentSector = 0;
};

// ---- FAT_VOLUME ----

FAT_VOLUME::FAT_VOLUME(PARTITION_INFO *partition) : VOLUME_BASE(partition) {}

FAT_VOLUME::~FAT_VOLUME()
{
    FAT_VOLUME::Release();
}

void FAT_VOLUME::Release()
{
    m_clusterBuffer.reset();
    m_vars.reset();
    m_bufferedCluster = 0;
    m_bytesPerCluster = 0;
    m_sectorsPerCluster = 0;
    m_readScale = 1;
}

int FAT_VOLUME::Mount()
{
    Release();
    if (RegistrationResult() != rc::kOk)
        return RegistrationResult();
    const PARTITION_INFO *info = Partition();
    if (info == nullptr || info->bytesPerSector == 0)
        return rc::kFatBadGeometry;
    const uint32_t unit =
        uint32_t{info->bytesPerSector} * (info->sectorMultiplier == 0 ? 1u : info->sectorMultiplier);
    const uint32_t bootUnits = (static_cast<uint32_t>(FAT_VARS::kBootSectorBytes) + unit - 1) / unit;

    EngineBuffer boot;
    int result = boot.allocate(size_t{bootUnits} * unit);
    if (result != rc::kOk)
        return result;
    result = LogReadScaled(0, boot.data(), bootUnits);
    if (result != rc::kOk)
        return result;

    auto vars = std::unique_ptr<FAT_VARS>(new (std::nothrow) FAT_VARS);
    if (!vars)
        return rc::kOutOfMemory;
    result = vars->parse(boot.span(), uint64_t{info->sectorCount} * info->bytesPerSector);
    if (result != rc::kOk) {
        logDiagnostic("FAT_VOLUME::Mount: boot sector refused (%d)\n", result);
        return result;
    }
    // A volume sector must be a whole number of the sectors the logical read scales by.
    if (vars->bytesPerSector % unit != 0)
        return rc::kFatBadGeometry;

    result = m_clusterBuffer.allocate(vars->bytesPerCluster);
    if (result != rc::kOk)
        return result;
    m_vars = std::move(vars);
    m_readScale = m_vars->bytesPerSector / unit;

    // The FAT's sectors are read as lookups reach them.
    const FAT_VARS &v = *m_vars;
    result = m_vars->attachFat([this](uint32_t sector, void *buffer, uint32_t count) {
        return readVolumeSectors(sector, buffer, count);
    });
    if (result != rc::kOk) {
        Release();
        return result;
    }
    m_bytesPerCluster = v.bytesPerCluster;
    m_sectorsPerCluster = v.sectorsPerCluster;
    return rc::kOk;
}

int FAT_VOLUME::readVolumeSectors(uint32_t sector, void *buffer, uint32_t count)
{
    const uint64_t first = uint64_t{sector} * m_readScale;
    const uint64_t n = uint64_t{count} * m_readScale;
    if (first > std::numeric_limits<uint32_t>::max() || n > std::numeric_limits<uint32_t>::max())
        return rc::kBeyondEnd;
    return LogReadScaled(static_cast<uint32_t>(first), buffer, static_cast<uint32_t>(n));
}

int FAT_VOLUME::loadCluster(uint32_t cluster)
{
    if (m_bufferedCluster == cluster)
        return rc::kOk;
    m_bufferedCluster = 0;
    const int result =
        readVolumeSectors(m_vars->clusterSector(cluster), m_clusterBuffer.data(), m_sectorsPerCluster);
    if (result == rc::kOk)
        m_bufferedCluster = cluster;
    return result;
}

uint32_t FAT_VOLUME::StartCluster(const uint8_t *rawEntry) const
{
    const auto e = bytesOf(rawEntry, FatDirEntry::kBytes);
    if ((rawEntry[FatDirEntry::kAttributes] & 0x18) == kAttrVolumeLabel)
        return 0;
    uint32_t cluster = loadLe16(e, FatDirEntry::kClusterLow);
    if (m_vars && (m_vars->fatType == kFat32 || m_vars->clusterCount >= kHighHalfClusterCount))
        cluster |= uint32_t{loadLe16(e, FatDirEntry::kClusterHigh)} << 16;
    return cluster;
}

uint32_t FAT_VOLUME::directoryIdentity(uint32_t firstCluster) const
{
    // DirectoryWalk lists the root for every first cluster below the data area.
    if (firstCluster < kFirstDataCluster)
        return m_vars->fatType == kFat32 ? m_vars->rootCluster : 0;
    return firstCluster;
}

uint32_t FAT_VOLUME::DirectoryIdentity(const uint8_t *rawEntry) const
{
    if (!m_vars)
        return 0;
    return directoryIdentity(rawEntry != nullptr ? StartCluster(rawEntry) : 0);
}

// Follows the chain from start with two walkers at different speeds: they meet only when the chain loops.
// Also refuses a chain that leads to a cluster outside the data area (a free entry gives freeCode).
int FAT_VOLUME::checkChain(uint32_t start, int freeCode) const
{
    const FAT_VARS &v = *m_vars;
    if (start == 0 || start >= kFatBadCluster)
        return rc::kOk;
    if (!v.isDataCluster(start))
        return rc::kFatClusterOutOfRange;
    uint32_t slow = start;
    uint32_t fast = start;
    for (;;) {
        for (int step = 0; step < 2; ++step) {
            uint32_t next = 0;
            if (const int result = v.lookup(fast, next); result != rc::kOk)
                return result;
            if (next >= kFatBadCluster)
                return rc::kOk;
            if (!v.isDataCluster(next)) {
                logDiagnostic("FAT_VOLUME: cluster %u leads to %u\n", fast, next);
                return next == 0 ? freeCode : rc::kFatClusterOutOfRange;
            }
            fast = next;
        }
        slow = v.entry(slow); // behind fast, on entries already read
        if (slow == fast) {
            logDiagnostic("FAT_VOLUME: the chain from cluster %u loops\n", start);
            return rc::kFatChainLoop;
        }
    }
}

int FAT_VOLUME::MakeFile(const uint8_t *rawEntry, std::unique_ptr<FAT_FILE> &file)
{
    std::array<uint8_t, FatDirEntry::kBytes> entry;
    std::memcpy(entry.data(), rawEntry, entry.size());
    file.reset(new (std::nothrow) FAT_FILE(this, entry, StartCluster(rawEntry)));
    return file ? rc::kOk : rc::kOutOfMemory;
}

int FAT_VOLUME::Seek(FAT_FILE &file, uint32_t position)
{
    if (!FatLoaded())
        return rc::kFatNotLoaded;
    if (file.isRegular() && position > file.size())
        return rc::kSeekBeyondEnd;
    if (!file.chainChecked) {
        const int result = checkChain(file.startCluster(), rc::kFatClusterOutOfRange);
        if (result != rc::kOk)
            return result;
        file.chainChecked = true;
    }
    const uint32_t target = position / m_bytesPerCluster;
    // Behind the end of the chain nothing leads forward; start again from the first cluster.
    if (target < file.clusterIndex || file.currentCluster >= kFatBadCluster) {
        file.currentCluster = file.startCluster();
        file.clusterIndex = 0;
    }
    while (file.clusterIndex < target && file.currentCluster < kFatBadCluster) {
        if (!m_vars->isDataCluster(file.currentCluster))
            return rc::kFatClusterOutOfRange;
        file.currentCluster = m_vars->entry(file.currentCluster);
        ++file.clusterIndex;
    }
    if (file.clusterIndex < target) {
        file.clusterIndex = 0xFFFF;
        return rc::kSeekBeyondEnd;
    }
    file.position = position;
    return rc::kOk;
}

int FAT_VOLUME::ReadFile(FAT_FILE &file, void *buffer, uint32_t count)
{
    if (!FatLoaded())
        return rc::kFatNotLoaded;
    if (count == 0)
        return rc::kOk;
    if (file.isRegular() && uint64_t{file.position} + count > file.size())
        return rc::kBeyondEnd;
    if (file.currentCluster >= kFatBadCluster)
        return rc::kBeyondEnd;
    if (!file.chainChecked) {
        const int result = checkChain(file.startCluster(), rc::kFatClusterOutOfRange);
        if (result != rc::kOk)
            return result;
        file.chainChecked = true;
    }
    auto *out = static_cast<std::byte *>(buffer);
    while (count > 0) {
        if (!m_vars->isDataCluster(file.currentCluster))
            return file.currentCluster >= kFatBadCluster ? rc::kBeyondEnd : rc::kFatClusterOutOfRange;
        int result = loadCluster(file.currentCluster);
        if (result != rc::kOk)
            return result;
        const uint32_t offset = file.position % m_bytesPerCluster;
        const uint32_t n = std::min(count, m_bytesPerCluster - offset);
        std::memcpy(out, m_clusterBuffer.data() + offset, n);
        out += n;
        count -= n;
        const uint64_t next = uint64_t{file.position} + n;
        if (next > std::numeric_limits<uint32_t>::max())
            return rc::kBeyondEnd;
        result = Seek(file, static_cast<uint32_t>(next));
        if (result != rc::kOk && count > 0)
            return result;
    }
    return rc::kOk;
}

int FAT_VOLUME::FindPath(const char *path, uint8_t attributeMask,
                         std::array<uint8_t, FatDirEntry::kBytes> &entry, FatEntryLocation &location)
{
    if (!FatLoaded())
        return rc::kFatNotLoaded;
    std::string_view rest = path != nullptr ? path : "";
    if (const size_t colon = rest.find(':'); colon != std::string_view::npos)
        rest.remove_prefix(colon + 1);

    EngineBuffer sector;
    int result = sector.allocate(m_vars->bytesPerSector);
    if (result != rc::kOk)
        return result;
    const size_t perSector = m_vars->bytesPerSector / FatDirEntry::kBytes;

    uint32_t directory = m_vars->rootCluster;
    DirectoryTrail trail(directoryIdentity(directory));
    bool found = false;
    for (;;) {
        while (!rest.empty() && rest.front() == '\\')
            rest.remove_prefix(1);
        if (rest.empty())
            break;
        const size_t end = rest.find('\\');
        const std::string_view component = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        const bool more = rest.find_first_not_of('\\') != std::string_view::npos;
        const uint8_t required = more ? kAttrDirectory : attributeMask;
        const auto form = shortForm(component);

        DirectoryWalk walk(*this, directory);
        result = walk.start();
        if (result != rc::kOk)
            return result;
        found = false;
        uint32_t examined = 0;
        while (!found) {
            result = walk.next(sector.data());
            if (result == kWalkEnd)
                return rc::kPathNotFound;
            if (result != rc::kOk)
                return result;
            for (size_t i = 0; i < perSector; ++i) {
                if (examined++ == kMaxDirectoryEntries)
                    return rc::kFatDirectoryTooLarge;
                const auto *e = reinterpret_cast<const uint8_t *>(sector.data() + i * FatDirEntry::kBytes);
                if (e[0] == FatDirEntry::kEndMarker)
                    return rc::kPathNotFound;
                const uint8_t attributes = e[FatDirEntry::kAttributes];
                if (e[0] == FatDirEntry::kDeletedMarker || std::memcmp(e, form.data(), form.size()) != 0 ||
                    (attributes & required) != required ||
                    (attributes & kAttrLongNameMask) == kAttrLongNameMask)
                    continue;
                std::memcpy(entry.data(), e, entry.size());
                location = walk.location(static_cast<uint32_t>(i));
                found = true;
                break;
            }
        }
        directory = StartCluster(entry.data());
        if ((entry[FatDirEntry::kAttributes] & kAttrDirectory) != 0) {
            result = trail.push(directoryIdentity(directory));
            if (result != rc::kOk)
                return result;
        }
    }
    return found ? rc::kOk : rc::kPathNotFound;
}

int FAT_VOLUME::OpenPath(const char *path, std::unique_ptr<FAT_FILE> &file, uint8_t attributeMask)
{
    std::array<uint8_t, FatDirEntry::kBytes> entry;
    FatEntryLocation location;
    const int result = FindPath(path, attributeMask, entry, location);
    if (result != rc::kOk)
        return result;
    file.reset(new (std::nothrow) FAT_FILE(this, entry, StartCluster(entry.data()), location));
    return file ? rc::kOk : rc::kOutOfMemory;
}

int FAT_VOLUME::ListDirectory(DIRLIST &dirList, const char *path, FAT_FILE *directoryFile,
                              std::unique_ptr<FAT_FILE> *openedDirectory, int longNames)
{
    if (!FatLoaded())
        return rc::kFatNotLoaded;
    std::string_view p = path != nullptr ? path : "";
    std::string_view afterDrive = p.substr(p.find(':') == std::string_view::npos ? 0 : p.find(':') + 1);
    const bool names = afterDrive.find_first_not_of('\\') != std::string_view::npos;

    std::unique_ptr<FAT_FILE> opened;
    uint32_t first = 0; // the root
    if (!p.empty() && !names) {
        // "\" (or "C:\"): the root directory.
    } else if (directoryFile == nullptr || !p.empty()) {
        const int result = OpenPath(path, opened, kAttrDirectory);
        if (result != rc::kOk)
            return result;
        first = opened->startCluster();
    } else {
        const int result = Seek(*directoryFile, 0);
        if (result != rc::kOk)
            return result;
        first = directoryFile->startCluster();
    }

    DirectoryWalk walk(*this, first);
    int result = walk.start();
    if (result == rc::kOk)
        result = listEntries(dirList, walk, longNames);
    if (result == rc::kOk && openedDirectory != nullptr && opened)
        *openedDirectory = std::move(opened);
    return result;
}

int FAT_VOLUME::listEntries(DIRLIST &dirList, DirectoryWalk &walk, int longNames)
{
    EngineBuffer sector;
    int result = sector.allocate(m_vars->bytesPerSector);
    if (result != rc::kOk)
        return result;
    const size_t perSector = m_vars->bytesPerSector / FatDirEntry::kBytes;

    std::array<char16_t, kLongNameChars + 1> longName{};
    bool collecting = false;
    int checksum = -1;
    uint32_t parts = 0;    // entries the long name has
    uint32_t seen = 0;     // bit n - 1 set once part n was copied
    uint32_t examined = 0; // entries so far, also the running byte offset / 32
    std::vector<char> listed(kListedNameBytes);

    for (;;) {
        result = walk.next(sector.data());
        if (result == kWalkEnd)
            return rc::kOk;
        if (result != rc::kOk)
            return result;
        for (size_t i = 0; i < perSector; ++i) {
            if (examined == kMaxDirectoryEntries)
                return rc::kFatDirectoryTooLarge;
            const int32_t entryOffset = static_cast<int32_t>(examined * FatDirEntry::kBytes);
            ++examined;
            const auto *e = reinterpret_cast<const uint8_t *>(sector.data() + i * FatDirEntry::kBytes);
            const auto eb = bytesOf(e, FatDirEntry::kBytes);
            if (e[0] == FatDirEntry::kEndMarker)
                return rc::kOk;
            if (e[0] == FatDirEntry::kDeletedMarker)
                continue;
            const uint8_t attributes = e[FatDirEntry::kAttributes];

            if (longNames != 0 && attributes == FatDirEntry::kLongNameAttributes &&
                e[FatDirEntry::kReserved] == 0 && loadLe16(eb, FatDirEntry::kClusterLow) == 0) {
                uint32_t number = e[0];
                if ((number & kLongNameLast) != 0) {
                    number &= ~uint32_t{kLongNameLast};
                    collecting = number >= 1 && number <= kMaxLongNameEntries;
                    checksum = collecting ? e[13] : -1;
                    longName.fill(0);
                    parts = collecting ? number : 0;
                    seen = 0;
                }
                if (collecting && e[13] == checksum && number >= 1 && number <= parts) {
                    char16_t *to = longName.data() + (number - 1) * kLongNameCharsPerEntry;
                    for (size_t k = 0; k < 5; ++k)
                        to[k] = static_cast<char16_t>(loadLe16(eb, 1 + 2 * k));
                    for (size_t k = 0; k < 6; ++k)
                        to[5 + k] = static_cast<char16_t>(loadLe16(eb, 14 + 2 * k));
                    for (size_t k = 0; k < 2; ++k)
                        to[11 + k] = static_cast<char16_t>(loadLe16(eb, 28 + 2 * k));
                    seen |= 1u << (number - 1);
                    continue;
                }
                // A stray long-name entry ends the name being collected, as a short entry would.
            }

            const bool file = (attributes & (kAttrVolumeLabel | kAttrDirectory)) == 0;
            const bool directory = (attributes & kAttrDirectory) != 0;
            const bool extendedAttributes = std::memcmp(e + FatDirEntry::kExtension, " SF", 3) == 0;
            if ((file || directory) && !extendedAttributes) {
                std::string name;
                const bool complete = collecting && parts > 0 && seen == (1u << parts) - 1;
                if (complete && longName[0] != 0 &&
                    ConvertName(kNameAnsi, listed.data(), kNameUtf16, longName.data(), listed.size()) == 0)
                    name = listed.data();
                if (name.empty())
                    name = listedShortName(e, listed);
                const DirListDate date = entryDate(eb);
                const DirListTime time = entryTime(eb);
                result = dirList.AddEntry(name.c_str(), attributes, loadLe32(eb, FatDirEntry::kSize), 0,
                                          &date, &time, entryOffset, e);
                if (result != rc::kOk)
                    return result;
            }
            collecting = false;
            checksum = -1;
            parts = 0;
            seen = 0;
        }
    }
}

} // namespace imbrex::engine
