// Restoring files and directory trees out of a partition into local files.
//
// The work reads through a FileSource (the file operations of the open partition) and asks its questions and
// shows its messages through RestoreQuestions, so that the File Restore windows and the command-line tool
// only answer them. Every error is reported once, where it happens; a file that fails or is cancelled never
// leaves a partial local file; names are made safe so that nothing lands outside the target directory.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/DIRLIST.h"

namespace imbrex::restore {

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
    // The whole size of the current file, also beyond 4 GiB.
    virtual uint64_t fileSize() = 0;
    virtual int readFile(void *buffer, uint32_t count) = 0;
    virtual int closeFile() = 0;
    // Lists a directory: on FAT by its entry when one is given, otherwise by path.
    virtual int listDirectory(const std::string &path, const std::array<uint8_t, 32> *rawEntry,
                              std::vector<engine::DirListEntry> *entries) = 0;
    virtual int resetStream() = 0;
};

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
    // The percent of the current file; false when the person pressed Cancel.
    virtual bool filePercent(int percent) = 0;
    // Only the first data stream of an NTFS file was restored.
    virtual void firstStreamOnly(const std::string &sourcePath) = 0;
    // Where the run stands, for an overall percentage: item step (1-based) of the selection; a directory
    // of count entries splits the current step into count sub-steps, entered one by one (from 0), and
    // joins them again when it is done.
    virtual void itemStep(int /*step*/) {}
    virtual void splitStep(int /*count*/) {}
    virtual void subStep(int /*index*/) {}
    virtual void joinStep(int /*count*/) {}
};

// One item to restore: a listed entry (its raw FAT entry kept for opening it) or a name typed by hand.
struct RestoreItem
{
    std::string name;
    bool isDirectory = false;
    std::optional<std::array<uint8_t, 32>> rawEntry;
};

// Results besides 0 and the reported error codes.
inline constexpr int kRestoreStopQuietly = 3; // a needed directory was not created
inline constexpr int kRestoreKept = 80;       // an existing file was kept

class FileExtraction
{
public:
    FileExtraction(FileSource &source, RestoreQuestions &questions) : m_source(source), m_questions(questions)
    {
    }

    // Restores the selected items of sourceDirectory ("\"-separated) into targetDirectory, or, when nothing
    // is selected, the item named by fileName.
    int run(const std::string &fileName, const std::string &sourceDirectory,
            const std::string &targetDirectory, const std::vector<RestoreItem> &selected);

    int restoreFile(const RestoreItem *entry, const std::string &source, const std::string &target);
    int restoreDirectory(const RestoreItem *entry, const std::string &source, const std::string &target);

    bool cancelled() const { return m_cancel; }
    void cancel() { m_cancel = true; }
    // Files written, for summaries.
    uint64_t filesRestored() const { return m_files; }

private:
    int createTarget(const std::string &target, class TargetFile &file);
    int createMissingDirectories(const std::string &target, class TargetFile &file, bool *created);
    int ensureDirectory(const std::string &directory);
    int askCreate(const std::string &directory);

    FileSource &m_source;
    RestoreQuestions &m_questions;
    std::vector<std::byte> m_buffer;
    bool m_replaceAll = false;
    bool m_createAll = false;
    bool m_includeSubdirectories = false;
    bool m_severalItems = false;
    bool m_cancel = false;
    uint64_t m_files = 0;
};

// The local name a restored entry gets: separators and names that could climb out of the target ("." and
// "..") are replaced, and bytes that are not UTF-8 become "x".
std::string safeLocalName(const std::string &name, bool *changed = nullptr);
// The last "\"-separated component of a partition path.
std::string lastComponent(const std::string &path);

} // namespace imbrex::restore
