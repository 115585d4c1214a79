#include "RestoreCommands.h"

#include <cstdio>
#include <optional>

#include "CliSupport.h"
#include "TerminalProgress.h"
#include "common/ResultCodes.h"
#include "index/IndexCallbacks.h"
#include "platform/Terminal.h"
#include "restore/FileExtraction.h"
#include "restore/FileRows.h"
#include "restore/PartitionFileSource.h"
#include "restore/PathLookup.h"

namespace imbrex::cli {

const char *const kRestoreHelp = R"(  zbitool ls IMAGE N [PATH] [--index FILE] [--password-file FILE]
      List a directory of partition N (default the root, "\"): name|Folder or File|size|date time|
  zbitool extract IMAGE N PATH... -o DIR [--overwrite | --skip-existing] [--current-time] [--no-subdirectories]
                 [--index FILE] [--password-file FILE]
      Restore files and whole directory trees into DIR, creating missing directories. "\" restores the whole
      partition; a pattern such as \DOCS\*.TXT restores the matching files of that folder. Files and folders
      keep the modification time the partition records unless --current-time is given;
      --no-subdirectories restores the files of the chosen folders without their subfolders.
)";

namespace {

// Questions answered from the command line's choices, messages on standard error, progress on the terminal.
class TerminalQuestions final : public restore::RestoreQuestions
{
public:
    enum class Existing
    {
        Ask,
        Overwrite,
        Skip,
    };
    TerminalQuestions(Existing existing, bool subdirectories, TerminalProgress &progress)
        : m_existing(existing), m_subdirectories(subdirectories), m_progress(progress)
    {
    }

    Answer replaceFile(const std::string &message, bool) override
    {
        if (m_existing == Existing::Overwrite)
            return Answer::All;
        if (m_existing == Existing::Ask && platform::canAskOnTerminal()) {
            std::fprintf(stderr, "\nzbitool: %s\n", message.c_str());
            auto answer = platform::askLine("Replace it? [y]es, [n]o, [a]ll, [c]ancel: ");
            if (answer && (*answer == "y" || *answer == "yes"))
                return Answer::Yes;
            if (answer && (*answer == "a" || *answer == "all"))
                return Answer::All;
            if (!answer || *answer == "c" || *answer == "cancel")
                return Answer::Cancel;
            return Answer::No;
        }
        std::fprintf(stderr, "\nzbitool: %s Kept (use --overwrite to replace existing files).\n",
                     message.c_str());
        ++m_kept;
        return Answer::No;
    }
    Answer createDirectory(const std::string &, bool) override { return Answer::All; }
    Answer includeSubdirectories() override { return m_subdirectories ? Answer::Yes : Answer::No; }
    bool error(const std::string &text, bool) override
    {
        std::fprintf(stderr, "\nzbitool: %s\n", text.c_str());
        ++m_errors;
        return true;
    }
    void information(const std::string &text) override
    {
        std::fprintf(stderr, "\nzbitool: %s\n", text.c_str());
    }
    void currentFile(const std::string &sourcePath) override { m_progress.setAction(sourcePath); }
    bool filePercent(int percent) override { return m_progress.update(static_cast<uint64_t>(percent), 100); }
    void firstStreamOnly(const std::string &sourcePath) override
    {
        std::fprintf(
            stderr,
            "\nzbitool: %s: Warning:  Restored data from the first data stream only of an NTFS file.\n",
            sourcePath.c_str());
    }
    int errors() const { return m_errors; }
    int kept() const { return m_kept; }

private:
    Existing m_existing;
    bool m_subdirectories;
    TerminalProgress &m_progress;
    int m_errors = 0;
    int m_kept = 0;
};

} // namespace

int runLs(const std::vector<std::string> &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {"--index", "--password-file"}, {}, &args))
        return usageError(*error);
    if (args.positional.size() != 2 && args.positional.size() != 3)
        return usageError("usage: zbitool ls IMAGE N [PATH] [--index FILE] [--password-file FILE]");
    OpenedPartition partition;
    if (int status = partition.open(args, true))
        return status;
    std::string path = args.positional.size() == 3 ? args.positional[2] : "\\";
    if (path.empty() || path[0] != '\\')
        path = "\\" + path;
    restore::PartitionFileSource source(partition.access());
    std::vector<engine::DirListEntry> entries;
    restore::LocatedDirectory where;
    int e = restore::locateDirectory(source, path, &where);
    if (e == 0)
        e = restore::listLocated(source, where, &entries);
    if (e != 0)
        return failure("The directory '" + path + "' cannot be listed.", e);
    for (const engine::DirListEntry &entry : entries) {
        if (restore::isDotEntry(entry, source.isFatVolume()))
            continue;
        std::printf("%s\n", escapeControls(restore::fileRowText(entry).substr(2)).c_str());
    }
    return 0;
}

int runExtract(const std::vector<std::string> &words)
{
    Arguments args;
    if (auto error = parseArguments(
            words, {"-o", "--index", "--password-file"},
            {"--overwrite", "--skip-existing", "--current-time", "--no-subdirectories"}, &args))
        return usageError(*error);
    auto target = args.option("-o");
    if (args.positional.size() < 3 || !target || target->empty())
        return usageError("usage: zbitool extract IMAGE N PATH... -o DIR [--overwrite | --skip-existing] "
                          "[--current-time] [--no-subdirectories] [--index FILE] [--password-file FILE]");
    if (args.flag("--overwrite") && args.flag("--skip-existing"))
        return usageError("--overwrite and --skip-existing exclude each other");
    OpenedPartition partition;
    if (int status = partition.open(args, true))
        return status;

    TerminalProgress progress;
    index::ProgressIndexReporter reporter(progress);
    partition.access().SetIndexProgress(&reporter);
    restore::PartitionFileSource source(partition.access());
    TerminalQuestions questions(args.flag("--overwrite")       ? TerminalQuestions::Existing::Overwrite
                                : args.flag("--skip-existing") ? TerminalQuestions::Existing::Skip
                                                               : TerminalQuestions::Existing::Ask,
                                !args.flag("--no-subdirectories"), progress);
    restore::FileExtraction extraction(source, questions);
    extraction.setKeepTimes(!args.flag("--current-time"));
    bool fat = source.isFatVolume();
    // A path that names nothing, or whose folder cannot be listed, is reported and the others still run.
    uint64_t pathFailures = 0;
    auto pathFailed = [&](const std::string &text, int code) {
        (void)failure(text, code);
        ++pathFailures;
    };
    for (size_t i = 2; i < args.positional.size() && !extraction.cancelled(); ++i) {
        std::string path = args.positional[i];
        if (path.empty() || path[0] != '\\')
            path = "\\" + path;
        std::vector<restore::RestoreItem> selected;
        std::string directory;
        std::string name;
        std::vector<engine::DirListEntry> entries;
        bool pattern = false;
        if (path == "\\") {
            // The whole partition: every entry of the root.
            directory = "\\";
            if (int e = source.listDirectory("\\", nullptr, &entries))
                pathFailed("The root directory cannot be listed completely.", e);
        } else {
            if (path.size() > 1 && path.back() == '\\')
                path.pop_back();
            restore::WildcardCheck check = restore::checkWildcards(path);
            if (check.failed) {
                pathFailed(restore::kWildcardMessage, 0);
                continue;
            }
            pattern = check.hasPattern;
            std::tie(directory, name) = restore::splitPartitionPath(path);
            restore::LocatedDirectory where;
            int e = restore::locateDirectory(source, directory, &where);
            if (e == 0)
                e = restore::listLocated(source, where, &entries);
            if (e != 0)
                pathFailed("The directory '" + directory + "' cannot be listed completely.", e);
            if (e != 0 && entries.empty())
                continue;
            directory = where.path;
        }
        for (const auto &entry : entries) {
            if (restore::isDotEntry(entry, fat))
                continue;
            bool isFile = (entry.attributes & engine::kAttrDirectory) == 0;
            if (path == "\\" || (pattern ? isFile && restore::patternMatches(name, entry.name)
                                         : restore::entryNamed(entry, name, fat)))
                selected.push_back(restore::restoreItemOf(entry, fat));
        }
        if (selected.empty()) {
            if (path != "\\")
                pathFailed(pattern ? "No file matches '" + path + "'." : "File " + path + " not found", 0);
            continue;
        }
        if (selected.size() == 1)
            name = selected[0].name;
        restore::RestoreOutcome outcome = extraction.run(name, directory, *target, selected);
        if (outcome == restore::RestoreOutcome::Stopped)
            break;
    }
    if (extraction.cancelled())
        return failure("Cancelled; files restored so far are complete, the one in progress was removed.", 0);
    uint64_t failed = extraction.failures() + pathFailures;
    std::fprintf(stderr, "\nzbitool: restored %llu files into %s",
                 static_cast<unsigned long long>(extraction.filesRestored()), target->c_str());
    if (failed > 0)
        std::fprintf(stderr, "; %llu failed\n", static_cast<unsigned long long>(failed));
    else
        std::fprintf(stderr, "\n");
    return failed > 0 || questions.errors() > 0 ? kExitFailure : 0;
}

} // namespace imbrex::cli
