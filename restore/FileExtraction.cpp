#include "FileExtraction.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "common/ResultCodes.h"
#include "platform/File.h"
#include "translate/Translate.h"

namespace imbrex::restore {

namespace {

constexpr uint32_t kCopyBufferSize = 65536;
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

std::string parentOf(const std::string &path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

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

// A local file being written; deleted unless it was completed.
class TargetFile
{
public:
    platform::File file;
    std::string path;
    bool keep = false;
    ~TargetFile()
    {
        if (file.isOpen()) {
            file.close();
            if (!keep)
                (void)platform::removeFile(path);
        }
    }
};

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

int FileExtraction::run(const std::string &fileName, const std::string &sourceDirectory,
                        const std::string &targetDirectory, const std::vector<RestoreItem> &selected)
{
    m_buffer.assign(kCopyBufferSize, std::byte{0});
    if (int e = m_source.resetStream())
        return e;
    m_includeSubdirectories = false;
    m_severalItems = false;
    std::string target = withoutTrailingSeparator(targetDirectory);
    std::string directory = sourceDirectory == "\\" ? std::string() : sourceDirectory;
    int result = 0;
    if (selected.size() < 2) {
        std::string source =
            !fileName.empty() && fileName[0] == '\\' ? fileName : directory + "\\" + fileName;
        const RestoreItem *entry = !selected.empty() && selected[0].name == fileName ? &selected[0] : nullptr;
        std::string local = target + "/" + safeLocalName(lastComponent(source));
        m_questions.currentFile(source);
        m_questions.filePercent(0);
        if (entry && entry->isDirectory) {
            m_severalItems = true;
            result = restoreDirectory(entry, source, local);
        } else {
            result = restoreFile(entry, source, local);
        }
        return result;
    }
    m_severalItems = true;
    int step = 0;
    for (const RestoreItem &item : selected) {
        m_questions.itemStep(++step);
        std::string source = directory + "\\" + item.name;
        std::string local = target + "/" + safeLocalName(item.name);
        m_questions.currentFile(source);
        m_questions.filePercent(0);
        result =
            item.isDirectory ? restoreDirectory(&item, source, local) : restoreFile(&item, source, local);
        if (!item.isDirectory && result == kRestoreStopQuietly) {
            result = 0;
            break;
        }
        if (m_cancel) {
            result = rc::kCancelled;
            break;
        }
    }
    return result;
}

int FileExtraction::askCreate(const std::string &directory)
{
    if (m_createAll)
        return 0;
    switch (m_questions.createDirectory(format("Directory does not exist. %s", directory),
                                        m_severalItems || m_includeSubdirectories)) {
    case RestoreQuestions::Answer::All:
        m_createAll = true;
        return 0;
    case RestoreQuestions::Answer::Yes:
        return 0;
    case RestoreQuestions::Answer::No:
        return kRestoreStopQuietly;
    case RestoreQuestions::Answer::Cancel:
        break;
    }
    m_cancel = true;
    return rc::kCancelled;
}

// Creates the missing directories of target from the top down, then the file.
int FileExtraction::createMissingDirectories(const std::string &target, TargetFile &file, bool *created)
{
    std::string directory = parentOf(target);
    if (directory.empty())
        return platform::kErrorPathNotFound;
    if (int e = askCreate(directory))
        return e;
    for (int guard = 0; guard < 4096; ++guard) {
        // Walk up to the highest missing directory and create it.
        std::string missing = directory;
        int e = platform::createDirectory(missing);
        while (e == platform::kErrorPathNotFound) {
            missing = parentOf(missing);
            if (missing.empty())
                return platform::kErrorPathNotFound;
            e = platform::createDirectory(missing);
        }
        if (e != 0 && e != platform::kErrorFileExists)
            return e;
        e = file.file.createExclusive(target);
        if (e != platform::kErrorPathNotFound) {
            *created = e == 0;
            return e;
        }
    }
    return platform::kErrorPathNotFound;
}

int FileExtraction::createTarget(const std::string &target, TargetFile &file)
{
    file.path = target;
    int e = file.file.createExclusive(target);
    if (e == 0)
        return 0;
    std::string message = formatCode("Error %d creating file %s", e, target);
    std::string detail;
    if (e == platform::kErrorNotReady) {
        detail = Translate("The media is not ready.");
    } else if (e == platform::kErrorFileExists) {
        if (!m_replaceAll) {
            switch (m_questions.replaceFile(format("File already exists. %s", target), m_severalItems)) {
            case RestoreQuestions::Answer::All:
                m_replaceAll = true;
                break;
            case RestoreQuestions::Answer::Yes:
                break;
            case RestoreQuestions::Answer::No:
                return kRestoreKept;
            case RestoreQuestions::Answer::Cancel:
                m_cancel = true;
                return rc::kCancelled;
            }
        }
        e = file.file.createReplacing(target);
        if (e == 0)
            return 0;
        message = formatCode("Error %d creating file %s", e, target);
        detail = e == platform::kErrorAccessDenied ? Translate("Access denied.") : std::string();
    } else if (e == platform::kErrorPathNotFound) {
        bool created = false;
        e = createMissingDirectories(target, file, &created);
        if (created)
            return 0;
        if (e == kRestoreStopQuietly || e == rc::kCancelled)
            return e;
        message = formatCode("Error %d creating file %s", e, target);
        detail = Translate("Could not create directory.");
    }
    if (e == platform::kErrorCancelled) {
        m_cancel = true;
        return rc::kCancelled;
    }
    if (!m_questions.error(message + "\n\n" + detail, true)) {
        m_cancel = true;
        return rc::kCancelled;
    }
    return e;
}

int FileExtraction::restoreFile(const RestoreItem *entry, const std::string &source,
                                const std::string &target)
{
    if (m_buffer.empty())
        m_buffer.assign(kCopyBufferSize, std::byte{0});
    int kind = 1;
    int e = entry && entry->rawEntry && m_source.isFatVolume() ? m_source.openEntry(*entry->rawEntry)
                                                               : m_source.openFile(source, &kind);
    if (e != 0) {
        m_questions.error(e == rc::kNoIndexFile ? format("File %s not found", source)
                                                : formatCode("Error %d opening file %s", e, source),
                          false);
        return e;
    }
    uint64_t size = m_source.fileSize();

    int result = 0;
    {
        TargetFile file;
        result = createTarget(target, file);
        uint64_t remaining = size;
        while (result == 0 && remaining > 0) {
            auto n = static_cast<uint32_t>(std::min<uint64_t>(m_buffer.size(), remaining));
            if (int r = m_source.readFile(m_buffer.data(), n)) {
                if (r != rc::kCancelled)
                    m_questions.error(formatCode("Error %d reading file %s", r, source), false);
                else
                    m_cancel = true;
                result = r;
                break;
            }
            if (int w = file.file.writeAt(size - remaining, std::span(m_buffer).first(n))) {
                std::string text =
                    w == platform::kErrorDiskFull
                        ? format("An error occurred while writing to '%s'. The drive is out of "
                                 "storage space.",
                                 target)
                        : formatCode("Error %d writing file %s", w, target);
                if (!m_questions.error(text, true)) {
                    m_cancel = true;
                    result = rc::kCancelled;
                } else {
                    result = w;
                }
                break;
            }
            remaining -= n;
            int percent = static_cast<int>((100 * (size - remaining) + size - 1) / size);
            if (!m_questions.filePercent(percent))
                m_cancel = true;
            if (m_cancel) {
                result = rc::kCancelled;
                break;
            }
        }
        if (result == 0) {
            file.keep = true;
            ++m_files;
            if (kind == 2)
                m_questions.firstStreamOnly(source);
        }
    }
    int closed = m_source.closeFile();
    if (closed != 0 && result == 0) {
        m_questions.error(formatCode("Error %d closing file %s", closed, source), false);
        return closed;
    }
    return result;
}

int FileExtraction::ensureDirectory(const std::string &directory)
{
    int e = platform::queryPath(directory);
    if (e == 0)
        return 0;
    if (e == platform::kErrorFileNotFound || e == platform::kErrorPathNotFound) {
        if (int a = askCreate(directory))
            return a == kRestoreStopQuietly ? 0 : a;
        std::vector<std::string> missing;
        for (std::string d = directory; !d.empty() && platform::queryPath(d) != 0; d = parentOf(d))
            missing.push_back(d);
        e = 0;
        for (auto it = missing.rbegin(); it != missing.rend() && e == 0; ++it)
            e = platform::createDirectory(*it);
        if (e == 0)
            return 0;
    }
    if (!m_questions.error(formatCode("Error %d creating directory %s", e, directory), true)) {
        m_cancel = true;
        return rc::kCancelled;
    }
    return e;
}

int FileExtraction::restoreDirectory(const RestoreItem *entry, const std::string &source,
                                     const std::string &target)
{
    std::vector<engine::DirListEntry> entries;
    const std::array<uint8_t, 32> *raw =
        entry && entry->rawEntry && m_source.isFatVolume() ? &*entry->rawEntry : nullptr;
    if (int e = m_source.listDirectory(source, raw, &entries))
        return e;
    int result = 0;
    bool processed = false;
    bool wantSubdirectories = true;
    bool fat = m_source.isFatVolume();
    const auto count = static_cast<int>(entries.size());
    if (count > 0)
        m_questions.splitStep(count);
    int index = -1;
    for (const engine::DirListEntry &listed : entries) {
        m_questions.subStep(++index);
        if (listed.name == "." || listed.name == "..")
            continue;
        std::string childSource = source + "\\" + listed.name;
        std::string childTarget = withoutTrailingSeparator(target) + "/" + safeLocalName(listed.name);
        m_questions.currentFile(childSource);
        m_questions.filePercent(0);
        RestoreItem child{listed.name, (listed.attributes & engine::kAttrDirectory) != 0, std::nullopt};
        if (fat)
            child.rawEntry = listed.rawEntry;
        if (!child.isDirectory) {
            processed = true;
            result = restoreFile(&child, childSource, childTarget);
            if (result == kRestoreStopQuietly) {
                result = 0;
                break;
            }
        } else if (wantSubdirectories) {
            RestoreQuestions::Answer answer =
                m_includeSubdirectories ? RestoreQuestions::Answer::Yes : m_questions.includeSubdirectories();
            if (answer == RestoreQuestions::Answer::Yes || answer == RestoreQuestions::Answer::All) {
                m_includeSubdirectories = true;
                processed = true;
                result = restoreDirectory(&child, childSource, childTarget);
            } else if (answer == RestoreQuestions::Answer::No) {
                wantSubdirectories = false;
            } else {
                m_cancel = true;
            }
        }
        if (m_cancel) {
            result = rc::kCancelled;
            break;
        }
    }
    if (count > 0)
        m_questions.joinStep(count);
    // An empty directory, or one whose subdirectories were all skipped, is still made.
    if (!processed && result == 0 && !m_cancel)
        result = ensureDirectory(withoutTrailingSeparator(target));
    return result;
}

} // namespace imbrex::restore
