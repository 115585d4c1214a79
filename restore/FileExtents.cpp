#include "FileExtents.h"

#include <algorithm>
#include <set>
#include <utility>

#include "common/ResultCodes.h"
#include "engine/ConvertName.h"
#include "engine/DIRLIST.h"
#include "engine/DirectoryTrail.h"
#include "engine/FAT_VOLUME.h"
#include "engine/ntfs/NTFS_VOLUME.h"
#include "engine/ntfs/NtfsLayout.h"

namespace imbrex::restore {

namespace {

using engine::DirListEntry;

// Runs a release at the end of a scope: the NTFS reader's records, attributes and indexes are counted and
// must be given back on every path.
template <typename Release> class AtScopeEnd
{
public:
    explicit AtScopeEnd(Release release) : m_release(std::move(release)) {}
    ~AtScopeEnd() { m_release(); }
    AtScopeEnd(const AtScopeEnd &) = delete;
    AtScopeEnd &operator=(const AtScopeEnd &) = delete;

private:
    Release m_release;
};

void addExtent(std::vector<FileExtent> &extents, uint64_t offset, uint64_t length)
{
    if (length == 0)
        return;
    if (!extents.empty() && extents.back().offset + extents.back().length == offset)
        extents.back().length += length;
    else
        extents.push_back({offset, length});
}

std::string childPath(const std::string &parent, const std::string &name)
{
    return parent == "\\" ? "\\" + name : parent + "\\" + name;
}

class FatWalk
{
public:
    FatWalk(engine::FAT_VOLUME &volume, const FileExtentVisitor &visit, std::vector<WalkProblem> *problems)
        : m_volume(volume), m_vars(*volume.Vars()), m_visit(visit), m_problems(problems)
    {
    }

    int run()
    {
        const uint64_t sector = m_vars.bytesPerSector;
        const uint64_t fatStart = uint64_t{m_vars.reservedSectors} * sector;
        const uint64_t fatBytes = uint64_t{m_vars.numberOfFats} * m_vars.sectorsPerFat * sector;
        if (!visitArea("(boot sector and reserved sectors)", 0, fatStart) ||
            !visitArea("(file allocation tables)", fatStart, fatBytes))
            return rc::kCancelled;
        m_seen.assign(size_t{m_vars.clusterCount} + engine::kFirstDataCluster, false);
        WalkedFile root{"\\", true, {}};
        uint32_t rootCluster = 0;
        if (m_vars.fatType == engine::kFat32) {
            rootCluster = m_vars.rootCluster;
            followChain(rootCluster, UINT64_MAX, root);
        } else {
            addExtent(root.extents, uint64_t{m_vars.firstRootSector} * sector,
                      uint64_t{m_vars.rootDirSectors} * sector);
        }
        if (!m_visit(root))
            return rc::kCancelled;
        m_walked.insert(0);
        m_walked.insert(rootCluster);
        return directory("\\", nullptr, 0);
    }

private:
    bool visitArea(const char *name, uint64_t offset, uint64_t length)
    {
        WalkedFile area{name, false, {}};
        addExtent(area.extents, offset, length);
        return m_visit(area);
    }

    void problem(const std::string &path, int code, const std::string &reason)
    {
        m_problems->push_back({path, code, reason});
    }

    // The clusters of a chain, at most enough for limit bytes. A chain that loops or leaves the FAT is cut
    // there and reported.
    void followChain(uint32_t start, uint64_t limit, WalkedFile &file)
    {
        const uint64_t clusterBytes = m_vars.bytesPerCluster;
        uint64_t covered = 0;
        uint64_t steps = 0;
        uint32_t cluster = start;
        while (covered < limit) {
            if (!m_vars.isDataCluster(cluster)) {
                if (cluster < engine::kFatEndOfChain || limit != UINT64_MAX)
                    problem(file.path, rc::kSeekBeyondEnd,
                            "its cluster chain ends early or leaves the volume");
                break;
            }
            if (m_seen[cluster]) {
                problem(file.path, rc::kSeekBeyondEnd, "its cluster chain runs in a loop");
                break;
            }
            m_seen[cluster] = true;
            ++steps;
            addExtent(file.extents, uint64_t{m_vars.clusterSector(cluster)} * m_vars.bytesPerSector,
                      clusterBytes);
            covered += clusterBytes;
            cluster = m_vars.entry(cluster);
        }
        // The marks are taken back along the same clusters, so the next chain starts clean at the cost of
        // this one's length rather than the volume's.
        for (cluster = start; steps > 0; --steps) {
            m_seen[cluster] = false;
            cluster = m_vars.entry(cluster);
        }
    }

    int directory(const std::string &path, const std::array<uint8_t, engine::kRawEntryBytes> *raw, int depth)
    {
        engine::DIRLIST list;
        int e = 0;
        if (raw == nullptr) {
            e = m_volume.ListDirectory(list, "\\", nullptr, nullptr, 1);
        } else {
            std::unique_ptr<engine::FAT_FILE> file;
            e = m_volume.MakeFile(raw->data(), file);
            if (e == 0)
                e = m_volume.ListDirectory(list, "", file.get(), nullptr, 1);
        }
        if (e != 0)
            problem(path, e, "the folder could not be listed");
        // Listed first, walked after, so that no listing is held open across the walk below.
        std::vector<DirListEntry> entries;
        for (int i = 0; i < list.GetCount(); ++i)
            if (const DirListEntry *entry = list.Entry(i))
                entries.push_back(*entry);
        for (const DirListEntry &entry : entries) {
            // A folder's own "." and ".." entries; no other short name starts with a dot.
            if (entry.rawEntry[0] == '.')
                continue;
            WalkedFile file{
                childPath(path, entry.name), (entry.attributes & engine::kAttrDirectory) != 0, {}};
            const uint32_t start = m_volume.StartCluster(entry.rawEntry.data());
            if (!file.directory) {
                if (start != 0)
                    followChain(start, entry.size, file);
                if (!m_visit(file))
                    return rc::kCancelled;
                continue;
            }
            if (m_walked.count(start) != 0) {
                problem(file.path, rc::kDirectoryLoop, "the folder refers to a folder already walked");
                continue;
            }
            if (static_cast<size_t>(depth) + 1 >= engine::kMaxDirectoryDepth) {
                problem(file.path, rc::kDirectoryLoop, "folders are nested too deeply");
                continue;
            }
            m_walked.insert(start);
            followChain(start, UINT64_MAX, file);
            if (!m_visit(file))
                return rc::kCancelled;
            if (int r = directory(file.path, &entry.rawEntry, depth + 1))
                return r;
        }
        return rc::kOk;
    }

    engine::FAT_VOLUME &m_volume;
    const engine::FAT_VARS &m_vars;
    const FileExtentVisitor &m_visit;
    std::vector<WalkProblem> *m_problems;
    std::vector<bool> m_seen;    // clusters of the chain being followed
    std::set<uint32_t> m_walked; // first clusters of the folders walked
};

class NtfsWalk
{
public:
    NtfsWalk(engine::NTFS_VOLUME &volume, const FileExtentVisitor &visit, std::vector<WalkProblem> *problems)
        : m_volume(volume), m_clusterBytes(volume.Geometry().clusterBytes), m_visit(visit),
          m_problems(problems)
    {
    }

    int run()
    {
        // The boot sector, the MFT and the other system files are listed in the root as $Boot, $MFT, ...
        m_walked.insert(engine::ntfs::kRootRecord);
        return directory(engine::ntfs::kRootRecord, "\\", 0);
    }

private:
    struct Child
    {
        uint32_t record = 0;
        bool directory = false;
        std::string name;
    };

    void problem(const std::string &path, int code, const std::string &reason)
    {
        m_problems->push_back({path, code, reason});
    }

    void addRuns(const engine::NTFS_ATTRIBUTE &attribute, WalkedFile &file) const
    {
        if (!attribute.NonResident())
            return;
        for (const engine::NTFS_RUNLIST::Run &run : attribute.Runs().runs())
            if (run.cluster >= 0)
                addExtent(file.extents, static_cast<uint64_t>(run.cluster) * m_clusterBytes,
                          run.length * m_clusterBytes);
    }

    // The clusters of every non-resident attribute of a record: a named data stream as a file of its own
    // ("name:stream"), everything else (the unnamed stream, index blocks, bitmaps) as the file's.
    void recordExtents(uint32_t record, WalkedFile &file, std::vector<WalkedFile> &streams)
    {
        engine::NTFS_FRS *frs = nullptr;
        if (int e = m_volume.LoadFrs(record, frs)) {
            problem(file.path, e, "its file record could not be read");
            return;
        }
        // Releasing and closing fail only for a record or attribute the reader does not hold, which these
        // are: nothing to report, here and below.
        AtScopeEnd releaseFrs([&] { (void)m_volume.ReleaseFrs(frs); });
        std::vector<std::pair<uint32_t, std::u16string>> attributes;
        auto note = [&](uint32_t type, const std::u16string &name) {
            const std::pair<uint32_t, std::u16string> key{type, name};
            if (std::find(attributes.begin(), attributes.end(), key) == attributes.end())
                attributes.push_back(key);
        };
        if (frs->HasAttributeList()) {
            for (const engine::ntfs::AttributeListEntry &entry : frs->AttributeList())
                if (entry.lowestVcn == 0)
                    note(entry.type, entry.name);
        } else {
            for (const engine::ntfs::AttributeHeader &header : frs->Parsed().attributes)
                if (header.nonResident && header.lowestVcn == 0)
                    note(header.type, header.name);
        }
        for (const auto &[type, name] : attributes) {
            engine::NTFS_ATTRIBUTE *attribute = nullptr;
            const int e = m_volume.OpenAttribute(frs, engine::NtfsResidency::NonResident, type, name,
                                                 engine::NTFS_ATTRIBUTE::kAnyInstance, attribute);
            if (e == rc::kNtfsMustBeNonResident)
                continue;
            if (e != 0) {
                problem(file.path, e, "where its data lies could not be read");
                continue;
            }
            if (type == engine::ntfs::attr::kData && !name.empty()) {
                WalkedFile stream{file.path + ":" + engine::utf16ToAnsi(name), false, {}};
                addRuns(*attribute, stream);
                streams.push_back(std::move(stream));
            } else {
                addRuns(*attribute, file);
            }
            (void)m_volume.CloseAttribute(attribute);
        }
    }

    // The file, then its named streams.
    bool visitRecord(uint32_t record, WalkedFile file)
    {
        std::vector<WalkedFile> streams;
        recordExtents(record, file, streams);
        if (!m_visit(file))
            return false;
        for (const WalkedFile &stream : streams)
            if (!m_visit(stream))
                return false;
        return true;
    }

    int listChildren(uint32_t record, std::vector<Child> *children)
    {
        engine::NTFS_FRS *frs = nullptr;
        if (int e = m_volume.LoadFrs(record, frs))
            return e;
        // As above, releasing what the reader handed out cannot fail.
        AtScopeEnd releaseFrs([&] { (void)m_volume.ReleaseFrs(frs); });
        engine::NTFS_INDEX index;
        if (int e = m_volume.OpenIndex(frs, index))
            return e;
        AtScopeEnd closeIndex([&] { (void)m_volume.CloseIndex(index); });
        return m_volume.WalkIndex(
            index, [&](const engine::ntfs::IndexNode::Entry &entry, const engine::ntfs::FileNameKey &key) {
                // DOS-only names repeat a file listed under its long name; a folder's entry for itself is
                // ".".
                if (key.nameSpace == 2 || entry.recordNumber == record)
                    return rc::kOk;
                children->push_back({entry.recordNumber,
                                     (key.fileAttributes & engine::ntfs::index::kFileAttributeDirectory) != 0,
                                     engine::utf16ToAnsi(key.name)});
                return rc::kOk;
            });
    }

    int directory(uint32_t record, const std::string &path, int depth)
    {
        std::vector<Child> children;
        if (int e = listChildren(record, &children))
            problem(path, e, "the folder could not be listed");
        if (!visitRecord(record, WalkedFile{path, true, {}}))
            return rc::kCancelled;
        for (const Child &child : children) {
            const std::string childName = childPath(path, child.name);
            if (!child.directory) {
                if (!visitRecord(child.record, WalkedFile{childName, false, {}}))
                    return rc::kCancelled;
                continue;
            }
            if (m_walked.count(child.record) != 0) {
                problem(childName, rc::kDirectoryLoop, "the folder refers to a folder already walked");
                continue;
            }
            if (static_cast<size_t>(depth) + 1 >= engine::kMaxDirectoryDepth) {
                problem(childName, rc::kDirectoryLoop, "folders are nested too deeply");
                continue;
            }
            m_walked.insert(child.record);
            if (int r = directory(child.record, childName, depth + 1))
                return r;
        }
        return rc::kOk;
    }

    engine::NTFS_VOLUME &m_volume;
    uint64_t m_clusterBytes;
    const FileExtentVisitor &m_visit;
    std::vector<WalkProblem> *m_problems;
    std::set<uint32_t> m_walked; // records of the folders walked
};

} // namespace

int walkFileExtents(engine::VOLUME_BASE &volume, const FileExtentVisitor &visit,
                    std::vector<WalkProblem> *problems)
{
    if (auto *fat = dynamic_cast<engine::FAT_VOLUME *>(&volume); fat != nullptr && fat->FatLoaded())
        return FatWalk(*fat, visit, problems).run();
    if (auto *ntfs = dynamic_cast<engine::NTFS_VOLUME *>(&volume); ntfs != nullptr && ntfs->Mounted())
        return NtfsWalk(*ntfs, visit, problems).run();
    return rc::kUnsupportedFileSystem;
}

} // namespace imbrex::restore
