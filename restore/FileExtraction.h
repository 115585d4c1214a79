// Restoring files and directory trees out of a partition into local files.
//
// The work reads through a FileSource (the file operations of the open partition) and asks its questions and
// shows its messages through RestoreQuestions, so that the File Restore windows and the command-line tool
// only answer them. Every error is reported once, where it happens; a file that fails or is cancelled never
// leaves a partial local file; names are made safe so that nothing lands outside the target directory.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/DIRLIST.h"
#include "platform/Directory.h"

namespace imbrex::restore {

// One item to restore: a listed entry (its raw FAT entry or NTFS record kept for opening it) or a name typed
// by hand.
struct RestoreItem
{
    std::string name;
    bool isDirectory = false;
    std::optional<std::array<uint8_t, 32>> rawEntry;
    // The modification time the file system records for it, when it has a valid one.
    std::optional<platform::FileTime> modified{};
    // NTFS: the record a listed file was found by (0 for a name typed by hand).
    uint32_t recordNumber = 0;
};

// What extraction reads: one current file, and directory listings.
class FileSource
{
public:
    virtual ~FileSource() = default;
    virtual bool isFatVolume() = 0;
    // Opens the file of a FAT directory entry as the current file.
    virtual int openEntry(const std::array<uint8_t, 32> &rawEntry) = 0;
    // Opens the file at path ("\"-separated) as the current file; kind 2 means more than one data stream.
    virtual int openFile(const std::string &path, int *kind) = 0;
    // Opens the file of a listed NTFS record as the current file.
    virtual int openRecord(uint32_t recordNumber, int *kind) = 0;
    // The whole size of the current file, also beyond 4 GiB.
    virtual uint64_t fileSize() = 0;
    virtual int readFile(void *buffer, uint32_t count) = 0;
    virtual int closeFile() = 0;
    // Lists a directory: on FAT by its entry when one is given, otherwise by path.
    virtual int listDirectory(const std::string &path, const std::array<uint8_t, 32> *rawEntry,
                              std::vector<engine::DirListEntry> *entries) = 0;
    virtual int resetStream() = 0;
    // Where a listed file's data begins on the volume; files are restored in this order. UINT64_MAX when it
    // cannot be told.
    virtual uint64_t dataStart(const RestoreItem &) { return 0; }
};

class WriteBehind;

class RestoreQuestions
{
public:
    enum class Answer
    {
        Yes,
        No,
        All,
        Cancel,
    };
    virtual ~RestoreQuestions() = default;
    // "File already exists. %s" / "Directory does not exist. %s"; offerAll adds the "all" answer and Cancel.
    virtual Answer replaceFile(const std::string &message, bool offerAll) = 0;
    virtual Answer createDirectory(const std::string &message, bool offerAll) = 0;
    // "Include sub-directories?": Yes, No or Cancel.
    virtual Answer includeSubdirectories() = 0;
    // An error box; with withCancel it has OK and Cancel, and false means Cancel was pressed.
    virtual bool error(const std::string &text, bool withCancel) = 0;
    virtual void information(const std::string &text) = 0;
    virtual void currentFile(const std::string &sourcePath) = 0;
    // How far the selected item has come, in percent: a file by its bytes, a folder tree by its files and
    // theirs; false when the person pressed Cancel.
    virtual bool filePercent(int percent) = 0;
    // Only the first data stream of an NTFS file was restored.
    virtual void firstStreamOnly(const std::string &sourcePath) = 0;
    // Where the run stands, for an overall percentage: item step (1-based) of the selection, within which
    // filePercent tells how far the item has come.
    virtual void itemStep(int /*step*/) {}
};

// How an item, or a whole run, ended. Kept apart from result codes: these are decisions and summaries, not
// errors of a call.
enum class RestoreOutcome
{
    Restored,  // written completely (for a run: every item was)
    Kept,      // an existing file was kept by the user's answer
    Failed,    // something was not restored; the reason has been reported
    Stopped,   // a needed directory was not to be created: the run ends quietly
    Cancelled, // the user cancelled
};

class FileExtraction
{
public:
    FileExtraction(FileSource &source, RestoreQuestions &questions);
    ~FileExtraction();
    FileExtraction(const FileExtraction &) = delete;
    FileExtraction &operator=(const FileExtraction &) = delete;

    // Restores the selected items of sourceDirectory ("\"-separated) into targetDirectory, or, when nothing
    // is selected, the item named by fileName. A run goes on after a failed item; it ends Failed when any
    // file or folder was not restored, Kept when its last item was a file the user kept.
    RestoreOutcome run(const std::string &fileName, const std::string &sourceDirectory,
                       const std::string &targetDirectory, const std::vector<RestoreItem> &selected);

    // Restored files and folders get the modification time the file system records, where it has a valid
    // one; otherwise (the default) the time of restoring.
    void setKeepTimes(bool keep) { m_keepTimes = keep; }
    // The files found in folders are restored in batches of at most so many files (at least 1) holding at
    // most so many bytes of names and paths, each in the order their data lies on the volume.
    void setBatchLimits(size_t files, size_t bytes)
    {
        m_batchFiles = std::max<size_t>(files, 1);
        m_batchBytes = bytes;
    }

    bool cancelled() const { return m_cancel; }
    void cancel() { m_cancel = true; }
    // Files written, for summaries.
    uint64_t filesRestored() const { return m_files; }
    // Files and folders that were not restored because of an error (each one reported).
    uint64_t failures() const { return m_failures; }

private:
    struct TargetLevel;
    struct PendingFile;

    RestoreOutcome restoreFile(const RestoreItem *entry, const std::string &source, TargetLevel &level,
                               const std::string &name);
    RestoreOutcome restoreDirectory(const RestoreItem *entry, const std::string &source,
                                    const std::shared_ptr<TargetLevel> &level);
    RestoreOutcome restoreItem(const RestoreItem *entry, bool isDirectory, const std::string &source,
                               const std::shared_ptr<TargetLevel> &parent, const std::string &name);
    RestoreOutcome restoreSelected(const RestoreItem *entry, bool isDirectory, const std::string &source,
                                   const std::shared_ptr<TargetLevel> &parent, const std::string &name);
    void restorePending(bool lastOfItem);
    bool showPercent(int filePercent);
    RestoreOutcome openLevel(TargetLevel &level, int *code);
    RestoreOutcome askCreate(const std::string &directory);
    RestoreOutcome askReplace(const std::string &target);
    RestoreOutcome fail(const std::string &text, bool withCancel);
    std::string localName(const std::string &name, const std::string &parentPath);

    FileSource &m_source;
    RestoreQuestions &m_questions;
    std::vector<std::byte> m_buffer;
    std::unique_ptr<WriteBehind> m_writeBehind; // made for the first file of more than one piece
    bool m_replaceAll = false;
    bool m_createAll = false;
    bool m_includeSubdirectories = false;
    bool m_severalItems = false;
    bool m_cancel = false;
    bool m_keepTimes = false;
    std::vector<PendingFile> m_pending;
    struct BatchProgress
    {
        int base = 0;  // the item's percent when the batch began
        int share = 0; // the percent of the item it stands for
        size_t done = 0;
        size_t count = 0;
    };
    std::optional<BatchProgress> m_batch;
    int m_itemShown = 0; // the percent of the selected item given to its batches so far
    size_t m_batchFiles = 8192;
    size_t m_batchBytes = size_t{8} << 20;
    size_t m_pendingBytes = 0;
    std::deque<std::weak_ptr<TargetLevel>> m_openLevels; // oldest first
    uint64_t m_files = 0;
    uint64_t m_failures = 0;
};

// The local name a restored entry gets: separators and names that could climb out of the target ("." and
// "..") are replaced, and bytes that are not UTF-8 become "x".
std::string safeLocalName(const std::string &name, bool *changed = nullptr);
// The last "\"-separated component of a partition path.
std::string lastComponent(const std::string &path);

// True for the entries by which a FAT subdirectory names itself and its parent: they hold no data of their
// own. A file, or an NTFS entry, whose name merely reads "." or ".." is not one of them.
bool isDotEntry(const engine::DirListEntry &entry, bool fat);

// The modification time an entry records, when it is a valid one: NTFS to 100 ns, FAT from its local date
// and time.
std::optional<platform::FileTime> recordedTime(const engine::DirListEntry &entry, bool fat);

} // namespace imbrex::restore
