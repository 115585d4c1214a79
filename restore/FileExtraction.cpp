#include "FileExtraction.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>

#include "PathLookup.h"
#include "WriteBehind.h"
#include "common/ResultCodes.h"
#include "platform/File.h"
#include "translate/Translate.h"

namespace imbrex::restore {

namespace {

constexpr uint32_t kCopyBufferSize = 65536;
// Larger files are written behind their reading in pieces of four copy buffers: with a piece of one buffer
// the two threads hand over too often to gain anything (a 200 MiB file took longer than on one thread);
// with four, a plain one takes three quarters of the time.
constexpr size_t kWritePieceBytes = 4 * kCopyBufferSize;
// Files in folders are restored in batches in the order their data lies on the volume, so they go back and
// forth between target folders: only so many of those are kept open at a time.
constexpr size_t kOpenFolders = 64;
constexpr int kErrorInvalidName = 123; // what the system says of a name it cannot hold

std::string format(const char *text, const std::string &a)
{
    std::string t = Translate(text);
    size_t at = t.find("%s");
    return at == std::string::npos ? t : t.substr(0, at) + a + t.substr(at + 2);
}

std::string formatCode(const char *text, int code, const std::string &a)
{
    std::string t = Translate(text);
    size_t at = t.find("%d");
    if (at != std::string::npos)
        t = t.substr(0, at) + std::to_string(code) + t.substr(at + 2);
    at = t.find("%s");
    return at == std::string::npos ? t : t.substr(0, at) + a + t.substr(at + 2);
}

std::string withoutTrailingSeparator(std::string path)
{
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Why a directory of the target could not be opened or made, in the user's terms.
std::string directoryDetail(int code)
{
    if (code == platform::kErrorSymbolicLink)
        return Translate("A symbolic link stands there; it is not followed.");
    if (code == platform::kErrorNotADirectory)
        return Translate("A file of that name is in the way.");
    if (code == platform::kErrorNotReady)
        return Translate("The media is not ready.");
    if (code == platform::kErrorAccessDenied)
        return Translate("Access denied.");
    return Translate("Could not create directory.");
}

// Seconds between 1601-01-01 and 1970-01-01, and NTFS time units (100 ns) per second.
constexpr uint64_t kNtfsEpochSeconds = 11644473600ull;
constexpr uint64_t kNtfsTicksPerSecond = 10000000ull;

bool validUtf8At(const std::string &s, size_t i, size_t *length)
{
    auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return false;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return false;
    *length = n;
    return true;
}

} // namespace

// A directory of the target tree, opened (and made, when the user agrees) when something is first written
// into it. Every level below the target is opened relative to the one above and never through a symbolic
// link.
struct FileExtraction::TargetLevel : std::enable_shared_from_this<TargetLevel>
{
    TargetLevel() = default;
    TargetLevel(const TargetLevel &) = delete;
    TargetLevel &operator=(const TargetLevel &) = delete;
    // The folder gets its time when nothing more is written into it: when the last of its files and folders
    // lets go of it. It may have been closed meanwhile, to keep few directories open.
    ~TargetLevel()
    {
        if (modified && opened && reopen() == 0)
            (void)directory.setModificationTime(*modified);
    }
    int reopen()
    {
        if (directory.isOpen())
            return 0;
        if (!parent)
            return directory.open(path);
        if (int e = parent->reopen())
            return e;
        return directory.openChild(parent->directory, name);
    }
    bool holds(const TargetLevel &other) const
    {
        for (const TargetLevel *l = &other; l; l = l->parent.get())
            if (l == this)
                return true;
        return false;
    }

    std::shared_ptr<TargetLevel> parent;
    std::string name; // inside the parent; the whole path for the target directory itself
    std::string path; // for messages
    platform::Directory directory;
    int error = 0;         // opening failed with this code, already reported
    bool declined = false; // the user did not want it created
    bool opened = false;   // it exists: once closed, it is opened again where needed
    std::optional<platform::FileTime> modified;
};

// A file found in a folder, restored later together with others in the order their data lies on the volume.
struct FileExtraction::PendingFile
{
    RestoreItem item;
    std::string source;
    std::shared_ptr<TargetLevel> level;
    std::string name; // the local one
    uint64_t dataStart = 0;
};

namespace {

// A local file being written under a temporary name in its directory: it gets its own name only when it is
// complete, and the temporary one is removed otherwise, so no partial file is ever left under a real name.
class TargetFile
{
public:
    explicit TargetFile(const platform::Directory &directory) : m_directory(directory) {}
    ~TargetFile()
    {
        if (file.isOpen())
            file.close();
        if (!m_temporary.empty())
            (void)m_directory.remove(m_temporary);
    }
    TargetFile(const TargetFile &) = delete;
    TargetFile &operator=(const TargetFile &) = delete;

    int create() { return m_directory.createTemporary(file, &m_temporary); }
    int complete(const std::string &name, bool replace)
    {
        file.close();
        int e = m_directory.rename(m_temporary, name, replace);
        if (e == 0)
            m_temporary.clear();
        return e;
    }

    platform::File file;

private:
    const platform::Directory &m_directory;
    std::string m_temporary;
};

} // namespace

std::string safeLocalName(const std::string &name, bool *changed)
{
    std::string out;
    bool replaced = false;
    for (size_t i = 0; i < name.size();) {
        size_t length = 1;
        if (name[i] == '/' || name[i] == '\0') {
            out += '_';
            replaced = true;
        } else if (!validUtf8At(name, i, &length)) {
            out += 'x';
            replaced = true;
            length = 1;
        } else {
            out.append(name, i, length);
        }
        i += length;
    }
    if (out.empty() || out == "." || out == "..") {
        out = "_" + out;
        replaced = true;
    }
    if (changed)
        *changed = replaced;
    return out;
}

std::string lastComponent(const std::string &path)
{
    auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isDotEntry(const engine::DirListEntry &entry, bool fat)
{
    if (!fat || (entry.attributes & engine::kAttrDirectory) == 0)
        return false;
    static constexpr char kDot[] = ".          ";
    static constexpr char kDotDot[] = "..         ";
    return std::equal(entry.rawEntry.begin(), entry.rawEntry.begin() + 11, kDot) ||
           std::equal(entry.rawEntry.begin(), entry.rawEntry.begin() + 11, kDotDot);
}

std::optional<platform::FileTime> recordedTime(const engine::DirListEntry &entry, bool fat)
{
    platform::FileTime time;
    if (!fat) {
        // Times before 1970 are not kept: the restoring time is the better guess for such a date.
        if (entry.fileTime / kNtfsTicksPerSecond <= kNtfsEpochSeconds)
            return std::nullopt;
        time.seconds = static_cast<int64_t>(entry.fileTime / kNtfsTicksPerSecond - kNtfsEpochSeconds);
        time.nanoseconds = static_cast<uint32_t>(entry.fileTime % kNtfsTicksPerSecond) * 100u;
        return time;
    }
    if (!platform::localDateTime(1980 + entry.date.year, entry.date.month, entry.date.day, entry.time.hour,
                                 entry.time.minute, entry.time.second, &time))
        return std::nullopt;
    return time;
}

FileExtraction::FileExtraction(FileSource &source, RestoreQuestions &questions)
    : m_source(source), m_questions(questions)
{
}

FileExtraction::~FileExtraction() = default;

RestoreOutcome FileExtraction::fail(const std::string &text, bool withCancel)
{
    ++m_failures;
    if (!m_questions.error(text, withCancel) && withCancel)
        m_cancel = true;
    return m_cancel ? RestoreOutcome::Cancelled : RestoreOutcome::Failed;
}

std::string FileExtraction::localName(const std::string &name, const std::string &parentPath)
{
    bool changed = false;
    std::string safe = safeLocalName(name, &changed);
    if (changed)
        m_questions.information(
            formatCode("Error %d creating file %s", kErrorInvalidName, parentPath + "/" + name) + "\n\n" +
            format("File saved as %s.", parentPath + "/" + safe));
    return safe;
}

RestoreOutcome FileExtraction::run(const std::string &fileName, const std::string &sourceDirectory,
                                   const std::string &targetDirectory,
                                   const std::vector<RestoreItem> &selected)
{
    m_buffer.assign(kCopyBufferSize, std::byte{0});
    const uint64_t failuresBefore = m_failures;
    m_includeSubdirectories = false;
    m_severalItems = false;
    if (int e = m_source.resetStream())
        return fail(formatCode("Error %d accessing partition", e, std::string()), false);
    auto root = std::make_shared<TargetLevel>();
    root->name = root->path = withoutTrailingSeparator(targetDirectory);
    std::string directory = sourceDirectory == "\\" ? std::string() : sourceDirectory;
    RestoreOutcome result = RestoreOutcome::Restored;
    if (selected.size() < 2) {
        std::string source =
            !fileName.empty() && fileName[0] == '\\' ? fileName : directory + "\\" + fileName;
        const RestoreItem *entry = !selected.empty() && selected[0].name == fileName ? &selected[0] : nullptr;
        bool isDirectory = entry && entry->isDirectory;
        m_severalItems = isDirectory;
        result = restoreSelected(entry, isDirectory, source, root, lastComponent(source));
    } else {
        m_severalItems = true;
        int step = 0;
        for (const RestoreItem &item : selected) {
            m_questions.itemStep(++step);
            result = restoreSelected(&item, item.isDirectory, directory + "\\" + item.name, root, item.name);
            if (m_cancel || result == RestoreOutcome::Stopped)
                break;
        }
    }
    m_pending.clear();
    root.reset();
    m_openLevels.clear();
    m_buffer.clear();
    if (m_cancel)
        return RestoreOutcome::Cancelled;
    if (result == RestoreOutcome::Stopped || result == RestoreOutcome::Kept)
        return result;
    return m_failures > failuresBefore ? RestoreOutcome::Failed : RestoreOutcome::Restored;
}

RestoreOutcome FileExtraction::restoreSelected(const RestoreItem *entry, bool isDirectory,
                                               const std::string &source,
                                               const std::shared_ptr<TargetLevel> &parent,
                                               const std::string &name)
{
    m_itemShown = 0;
    RestoreOutcome result = restoreItem(entry, isDirectory, source, parent, name);
    if (!m_cancel)
        restorePending(true);
    m_pending.clear();
    m_pendingBytes = 0;
    return result;
}

RestoreOutcome FileExtraction::restoreItem(const RestoreItem *entry, bool isDirectory,
                                           const std::string &source,
                                           const std::shared_ptr<TargetLevel> &parent,
                                           const std::string &name)
{
    m_questions.currentFile(source);
    (void)showPercent(0);
    std::string local = localName(name, parent->path);
    if (!isDirectory)
        return restoreFile(entry, source, *parent, local);
    auto level = std::make_shared<TargetLevel>();
    level->parent = parent;
    level->name = local;
    level->path = parent->path + "/" + local;
    return restoreDirectory(entry, source, level);
}

// The percent of the selected item shown: a batch of files gets a share of what is left of the item, all of
// it when it is the item's last, half of it otherwise (how many files are still to come is not known yet).
bool FileExtraction::showPercent(int filePercent)
{
    int shown = m_itemShown + (100 - m_itemShown) * filePercent / 100;
    if (m_batch) {
        const BatchProgress &b = *m_batch;
        shown =
            b.base + static_cast<int>(uint64_t{static_cast<uint32_t>(b.share)} *
                                      (b.done * 100 + static_cast<uint32_t>(filePercent)) / (b.count * 100));
    }
    return m_questions.filePercent(shown);
}

void FileExtraction::restorePending(bool lastOfItem)
{
    std::vector<PendingFile> batch;
    batch.swap(m_pending);
    m_pendingBytes = 0;
    if (batch.empty())
        return;
    // Where a file's data begins is read from its record, so the records are visited in the order they lie.
    std::stable_sort(batch.begin(), batch.end(), [](const PendingFile &a, const PendingFile &b) {
        return a.item.recordNumber < b.item.recordNumber;
    });
    for (PendingFile &file : batch)
        file.dataStart = m_source.dataStart(file.item);
    std::stable_sort(batch.begin(), batch.end(),
                     [](const PendingFile &a, const PendingFile &b) { return a.dataStart < b.dataStart; });
    const int share = lastOfItem ? 100 - m_itemShown : (100 - m_itemShown) / 2;
    m_batch = BatchProgress{m_itemShown, share, 0, batch.size()};
    for (PendingFile &file : batch) {
        if (m_cancel)
            break;
        m_questions.currentFile(file.source);
        (void)showPercent(0);
        // A folder the user did not want made, or one that failed, is noted in its level: its other files
        // are passed over or reported there.
        (void)restoreFile(&file.item, file.source, *file.level, file.name);
        file.level.reset();
        ++m_batch->done;
    }
    m_batch.reset();
    m_itemShown += share;
}

RestoreOutcome FileExtraction::askCreate(const std::string &directory)
{
    if (m_createAll)
        return RestoreOutcome::Restored;
    switch (m_questions.createDirectory(format("Directory does not exist. %s", directory),
                                        m_severalItems || m_includeSubdirectories)) {
    case RestoreQuestions::Answer::All:
        m_createAll = true;
        return RestoreOutcome::Restored;
    case RestoreQuestions::Answer::Yes:
        return RestoreOutcome::Restored;
    case RestoreQuestions::Answer::No:
        return RestoreOutcome::Stopped;
    case RestoreQuestions::Answer::Cancel:
        break;
    }
    m_cancel = true;
    return RestoreOutcome::Cancelled;
}

RestoreOutcome FileExtraction::askReplace(const std::string &target)
{
    if (m_replaceAll)
        return RestoreOutcome::Restored;
    switch (m_questions.replaceFile(format("File already exists. %s", target), m_severalItems)) {
    case RestoreQuestions::Answer::All:
        m_replaceAll = true;
        return RestoreOutcome::Restored;
    case RestoreQuestions::Answer::Yes:
        return RestoreOutcome::Restored;
    case RestoreQuestions::Answer::No:
        return RestoreOutcome::Kept;
    case RestoreQuestions::Answer::Cancel:
        break;
    }
    m_cancel = true;
    return RestoreOutcome::Cancelled;
}

// Opens level, and the levels above it that are not open yet, from the top down; missing ones are made after
// one question that names the deepest. A level that fails is reported once and not tried again; *code says
// why, so that each file or folder below it can be named with that reason.
RestoreOutcome FileExtraction::openLevel(TargetLevel &level, int *code)
{
    if (level.directory.isOpen())
        return RestoreOutcome::Restored;
    std::vector<TargetLevel *> chain;
    for (TargetLevel *l = &level; l && !l->directory.isOpen(); l = l->parent.get())
        chain.push_back(l);
    std::reverse(chain.begin(), chain.end());
    bool asked = false;
    for (TargetLevel *l : chain) {
        if (l->declined)
            return RestoreOutcome::Stopped;
        if (l->error != 0) {
            *code = l->error;
            return RestoreOutcome::Failed;
        }
        auto open = [l] {
            return l->parent ? l->directory.openChild(l->parent->directory, l->name)
                             : l->directory.open(l->path);
        };
        int e = open();
        if (e == platform::kErrorFileNotFound || e == platform::kErrorPathNotFound) {
            if (!asked) {
                RestoreOutcome answer = askCreate(level.path);
                if (answer == RestoreOutcome::Stopped)
                    l->declined = true;
                if (answer != RestoreOutcome::Restored)
                    return answer;
                asked = true;
            }
            e = l->parent ? l->parent->directory.makeDirectory(l->name)
                          : platform::createDirectoryPath(l->path);
            if (e == 0 || e == platform::kErrorFileExists)
                e = open();
        }
        if (e == platform::kErrorCancelled) {
            m_cancel = true;
            return RestoreOutcome::Cancelled;
        }
        if (e != 0) {
            l->error = e;
            *code = e;
            return fail(
                formatCode("Error %d creating directory %s", e, l->path) + "\n\n" + directoryDetail(e), true);
        }
        l->opened = true;
        m_openLevels.push_back(l->weak_from_this());
    }
    // Files restored in the order of their data go back and forth between folders: the folders opened
    // longest ago are closed, except those on the way to this one.
    for (size_t passes = m_openLevels.size(); m_openLevels.size() > kOpenFolders && passes > 0; --passes) {
        std::shared_ptr<TargetLevel> oldest = m_openLevels.front().lock();
        m_openLevels.pop_front();
        if (oldest && oldest->holds(level))
            m_openLevels.push_back(std::move(oldest));
        else if (oldest)
            oldest->directory.close();
    }
    return RestoreOutcome::Restored;
}

RestoreOutcome FileExtraction::restoreFile(const RestoreItem *entry, const std::string &source,
                                           TargetLevel &level, const std::string &name)
{
    if (m_buffer.empty())
        m_buffer.assign(kCopyBufferSize, std::byte{0});
    int kind = 1;
    int e = entry && entry->rawEntry && m_source.isFatVolume() ? m_source.openEntry(*entry->rawEntry)
            : entry && entry->recordNumber != 0 ? m_source.openRecord(entry->recordNumber, &kind)
                                                : m_source.openFile(source, &kind);
    if (e != 0)
        return fail(e == rc::kNoIndexFile ? format("File %s not found", source)
                                          : formatCode("Error %d opening file %s", e, source),
                    false);
    uint64_t size = m_source.fileSize();
    std::string target = level.path + "/" + name;

    int levelError = 0;
    RestoreOutcome result = openLevel(level, &levelError);
    if (result == RestoreOutcome::Failed)
        result = fail(formatCode("Error %d creating file %s", levelError, target) + "\n\n" +
                          directoryDetail(levelError),
                      true);
    bool replace = false;
    if (result == RestoreOutcome::Restored) {
        platform::EntryKind existing = platform::EntryKind::Missing;
        e = level.directory.kindOf(name, &existing);
        if (e == 0 && existing == platform::EntryKind::Directory)
            e = platform::kErrorFileExists;
        if (e != 0) {
            result =
                fail(formatCode("Error %d creating file %s", e, target) + "\n\n" +
                         (e == platform::kErrorFileExists ? Translate("A folder of that name is in the way.")
                                                          : std::string()),
                     true);
        } else if (existing != platform::EntryKind::Missing) {
            // A link or a file with other names is replaced as a name: what it points at is never written.
            result = askReplace(target);
            replace = true;
        }
    }

    if (result == RestoreOutcome::Restored) {
        TargetFile file(level.directory);
        e = file.create();
        if (e != 0) {
            if (e == platform::kErrorCancelled) {
                m_cancel = true;
                result = RestoreOutcome::Cancelled;
            } else {
                result = fail(formatCode("Error %d creating file %s", e, target) + "\n\n" +
                                  (e == platform::kErrorNotReady       ? Translate("The media is not ready.")
                                   : e == platform::kErrorAccessDenied ? Translate("Access denied.")
                                                                       : std::string()),
                              true);
            }
        }
        // A larger file is written on another thread, a few copy buffers at a time, while the next ones are
        // read.
        const bool behind = size > kWritePieceBytes;
        if (behind && !m_writeBehind)
            m_writeBehind = std::make_unique<WriteBehind>(kWritePieceBytes);
        uint64_t remaining = size;
        int writeError = 0;
        std::span<std::byte> piece; // being filled, to be written at pieceAt
        uint64_t pieceAt = 0;
        size_t filled = 0;
        while (result == RestoreOutcome::Restored && remaining > 0) {
            if (behind && filled == 0) {
                piece = m_writeBehind->piece();
                if (m_writeBehind->failed())
                    break;
                pieceAt = size - remaining;
            }
            const std::span<std::byte> into = behind ? piece.subspan(filled) : std::span(m_buffer);
            auto n = static_cast<uint32_t>(std::min<uint64_t>(m_buffer.size(), remaining));
            if (int r = m_source.readFile(into.data(), n)) {
                if (r != rc::kCancelled) {
                    result = fail(formatCode("Error %d reading file %s", r, source), false);
                } else {
                    m_cancel = true;
                    result = RestoreOutcome::Cancelled;
                }
                break;
            }
            if (behind) {
                filled += n;
                if (filled == piece.size() || n == remaining) {
                    m_writeBehind->write(file.file, pieceAt, filled);
                    filled = 0;
                }
            } else if (int w = file.file.writeAt(size - remaining, into.first(n))) {
                writeError = w;
                break;
            }
            remaining -= n;
            int percent = static_cast<int>((100 * (size - remaining) + size - 1) / size);
            if (!showPercent(percent))
                m_cancel = true;
            if (m_cancel)
                result = RestoreOutcome::Cancelled;
        }
        if (behind)
            if (int w = m_writeBehind->finish(); w != 0 && writeError == 0)
                writeError = w;
        if (writeError != 0 && result == RestoreOutcome::Restored)
            result = fail(writeError == platform::kErrorDiskFull
                              ? format("An error occurred while writing to '%s'. The drive is out of "
                                       "storage space.",
                                       target)
                              : formatCode("Error %d writing file %s", writeError, target),
                          true);
        if (result == RestoreOutcome::Restored) {
            // A date the file system holds but the local system cannot take leaves the time of restoring.
            if (m_keepTimes && entry && entry->modified)
                (void)platform::Directory::setModificationTime(file.file, *entry->modified);
            if (int r = file.complete(name, replace))
                result = fail(formatCode("Error %d creating file %s", r, target), true);
        }
        if (result == RestoreOutcome::Restored) {
            ++m_files;
            if (kind == 2)
                m_questions.firstStreamOnly(source);
        }
    }
    int closed = m_source.closeFile();
    if (closed != 0 && result == RestoreOutcome::Restored)
        return fail(formatCode("Error %d closing file %s", closed, source), false);
    return result;
}

RestoreOutcome FileExtraction::restoreDirectory(const RestoreItem *entry, const std::string &source,
                                                const std::shared_ptr<TargetLevel> &levelHeld)
{
    TargetLevel &level = *levelHeld;
    std::vector<engine::DirListEntry> entries;
    const std::array<uint8_t, 32> *raw =
        entry && entry->rawEntry && m_source.isFatVolume() ? &*entry->rawEntry : nullptr;
    RestoreOutcome result = RestoreOutcome::Restored;
    bool listingFailed = false;
    if (int e = m_source.listDirectory(source, raw, &entries)) {
        // What could be listed is still restored; the folder counts as not restored.
        result = fail(formatCode("Error %d traversing directories at %s", e, source), false);
        listingFailed = true;
    }
    bool processed = false;
    bool wantSubdirectories = true;
    bool fat = m_source.isFatVolume();
    for (const engine::DirListEntry &listed : entries) {
        if (m_cancel)
            break;
        if (isDotEntry(listed, fat))
            continue;
        RestoreItem child = restoreItemOf(listed, fat, m_keepTimes);
        std::string childSource = source + "\\" + listed.name;
        if (!child.isDirectory) {
            processed = true;
            std::string local = localName(listed.name, level.path);
            // Paths on a deep volume are long: the batch is bounded by what it holds, too (the folder's path
            // is counted with each file, though the files share it).
            m_pendingBytes += sizeof(PendingFile) + childSource.size() + listed.name.size() + local.size() +
                              level.path.size();
            m_pending.push_back(
                PendingFile{std::move(child), std::move(childSource), levelHeld, std::move(local)});
            if (m_pending.size() >= m_batchFiles || m_pendingBytes >= m_batchBytes)
                restorePending(false);
        } else if (wantSubdirectories) {
            RestoreQuestions::Answer answer =
                m_includeSubdirectories ? RestoreQuestions::Answer::Yes : m_questions.includeSubdirectories();
            if (answer == RestoreQuestions::Answer::Yes || answer == RestoreQuestions::Answer::All) {
                m_includeSubdirectories = true;
                processed = true;
                RestoreOutcome outcome = restoreItem(&child, true, childSource, levelHeld, listed.name);
                if (result != RestoreOutcome::Failed)
                    result = outcome;
            } else if (answer == RestoreQuestions::Answer::No) {
                wantSubdirectories = false;
            } else {
                m_cancel = true;
            }
        }
    }
    if (m_cancel)
        return RestoreOutcome::Cancelled;
    // An empty directory, or one whose subdirectories were all skipped, is still made; "No" to making it
    // leaves it out without stopping the run.
    if (!processed && !listingFailed) {
        int levelError = 0;
        RestoreOutcome made = openLevel(level, &levelError);
        if (made == RestoreOutcome::Failed && level.error == 0) // a folder above it could not be made
            made = fail(formatCode("Error %d creating directory %s", levelError, level.path) + "\n\n" +
                            directoryDetail(levelError),
                        true);
        if (made != RestoreOutcome::Stopped)
            result = made;
    }
    if (m_keepTimes && entry)
        level.modified = entry->modified;
    return result;
}

} // namespace imbrex::restore
