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

namespace imbrex::cli {

const char *const kRestoreHelp = R"(  zbitool ls IMAGE N [PATH] [--index FILE] [--password-file FILE]
      List a directory of partition N (default the root, "\"): name|Folder or File|size|date time|
  zbitool extract IMAGE N PATH... -o DIR [--overwrite | --skip-existing] [--index FILE] [--password-file FILE]
      Restore files and whole directory trees into DIR, creating missing directories. "\" restores the whole
      partition; a pattern such as \DOCS\*.TXT restores the matching files of that folder.
)";

namespace {

// The directory part and the name of a partition path: "\A\B" -> "\A", "B"; "\B" -> "\", "B".
std::pair<std::string, std::string> splitPath(const std::string &path)
{
    auto slash = path.find_last_of('\\');
    if (slash == std::string::npos)
        return {"\\", path};
    return {slash == 0 ? "\\" : path.substr(0, slash), path.substr(slash + 1)};
}

bool sameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// The 8.3 name of a FAT directory entry: "README  TXT" -> "README.TXT".
std::string shortName(const std::array<uint8_t, 32> &raw)
{
    std::string base(reinterpret_cast<const char *>(raw.data()), 8);
    std::string extension(reinterpret_cast<const char *>(raw.data()) + 8, 3);
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    while (!extension.empty() && extension.back() == ' ')
        extension.pop_back();
    return extension.empty() ? base : base + "." + extension;
}

bool entryNamed(const engine::DirListEntry &entry, const std::string &name, bool fat)
{
    return sameName(entry.name, name) || (fat && sameName(shortName(entry.rawEntry), name));
}

// A directory of the partition, found component by component so that long names work on FAT too.
struct Located
{
    std::string path = "\\";
    std::optional<std::array<uint8_t, 32>> rawEntry; // FAT: the directory's entry; none for the root
};

int locateDirectory(restore::FileSource &source, const std::string &path, Located *out)
{
    bool fat = source.isFatVolume();
    Located here;
    size_t start = 1;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        std::string component =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? path.size() : end + 1;
        if (component.empty())
            continue;
        std::vector<engine::DirListEntry> entries;
        if (int e = source.listDirectory(here.path, here.rawEntry ? &*here.rawEntry : nullptr, &entries))
            return e;
        const engine::DirListEntry *found = nullptr;
        for (const auto &entry : entries)
            if ((entry.attributes & engine::kAttrDirectory) && entryNamed(entry, component, fat))
                found = &entry;
        if (!found)
            return rc::kNoIndexFile; // 504: not found
        here.path = (here.path == "\\" ? std::string() : here.path) + "\\" + found->name;
        if (fat)
            here.rawEntry = found->rawEntry;
    }
    *out = here;
    return rc::kOk;
}

int listLocated(restore::FileSource &source, const Located &where, std::vector<engine::DirListEntry> *entries)
{
    return source.listDirectory(where.path, where.rawEntry ? &*where.rawEntry : nullptr, entries);
}

restore::RestoreItem itemOf(const engine::DirListEntry &entry, bool fat)
{
    restore::RestoreItem item{entry.name, (entry.attributes & engine::kAttrDirectory) != 0, std::nullopt};
    if (fat)
        item.rawEntry = entry.rawEntry;
    return item;
}

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
    TerminalQuestions(Existing existing, TerminalProgress &progress)
        : m_existing(existing), m_progress(progress)
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
    Answer includeSubdirectories() override { return Answer::Yes; }
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
    Located where;
    int e = locateDirectory(source, path, &where);
    if (e == 0)
        e = listLocated(source, where, &entries);
    if (e != 0)
        return failure("The directory '" + path + "' cannot be listed.", e);
    for (const engine::DirListEntry &entry : entries) {
        if (entry.name == "." || entry.name == "..")
            continue;
        std::printf("%s\n", escapeControls(restore::fileRowText(entry).substr(2)).c_str());
    }
    return 0;
}

int runExtract(const std::vector<std::string> &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {"-o", "--index", "--password-file"},
                                    {"--overwrite", "--skip-existing"}, &args))
        return usageError(*error);
    auto target = args.option("-o");
    if (args.positional.size() < 3 || !target || target->empty())
        return usageError("usage: zbitool extract IMAGE N PATH... -o DIR [--overwrite | --skip-existing] "
                          "[--index FILE] [--password-file FILE]");
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
                                progress);
    restore::FileExtraction extraction(source, questions);
    bool fat = source.isFatVolume();
    int result = 0;
    for (size_t i = 2; i < args.positional.size() && result != rc::kCancelled; ++i) {
        std::string path = args.positional[i];
        if (path.empty() || path[0] != '\\')
            path = "\\" + path;
        std::vector<restore::RestoreItem> selected;
        std::string directory;
        std::string name;
        if (path == "\\") {
            // The whole partition: every entry of the root.
            directory = "\\";
            std::vector<engine::DirListEntry> entries;
            if (int e = source.listDirectory("\\", nullptr, &entries))
                return failure("The root directory cannot be listed.", e);
            for (const auto &entry : entries)
                if (entry.name != "." && entry.name != "..")
                    selected.push_back(itemOf(entry, fat));
            if (selected.size() == 1)
                name = selected[0].name;
        } else {
            if (path.size() > 1 && path.back() == '\\')
                path.pop_back();
            restore::WildcardCheck check = restore::checkWildcards(path);
            if (check.failed)
                return failure(restore::kWildcardMessage, 0);
            std::tie(directory, name) = splitPath(path);
            std::vector<engine::DirListEntry> entries;
            Located where;
            int e = locateDirectory(source, directory, &where);
            if (e == 0)
                e = listLocated(source, where, &entries);
            if (e != 0)
                return failure("The directory '" + directory + "' cannot be listed.", e);
            directory = where.path;
            for (const auto &entry : entries) {
                if (entry.name == "." || entry.name == "..")
                    continue;
                bool isFile = (entry.attributes & engine::kAttrDirectory) == 0;
                if (check.hasPattern ? isFile && restore::patternMatches(name, entry.name)
                                     : entryNamed(entry, name, fat))
                    selected.push_back(itemOf(entry, fat));
            }
            if (selected.empty())
                return failure(
                    check.hasPattern ? "No file matches '" + path + "'." : "File " + path + " not found", 0);
            if (selected.size() == 1)
                name = selected[0].name;
        }
        if (selected.empty())
            continue;
        result = extraction.run(name, directory, *target, selected);
    }
    if (result == rc::kCancelled || extraction.cancelled())
        return failure("Cancelled; files restored so far are complete, the one in progress was removed.", 0);
    std::fprintf(stderr, "\nzbitool: restored %llu files into %s\n",
                 static_cast<unsigned long long>(extraction.filesRestored()), target->c_str());
    if (questions.errors() > 0 || (result != 0 && result != restore::kRestoreKept))
        return kExitFailure;
    return 0;
}

} // namespace imbrex::cli
