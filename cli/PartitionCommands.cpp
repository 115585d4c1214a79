#include "PartitionCommands.h"

#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Arguments.h"
#include "CliSupport.h"
#include "Passwords.h"
#include "TerminalCallback.h"
#include "TerminalProgress.h"
#include "capture/DiskLayout.h"
#include "capture/RawVolume.h"
#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "platform/File.h"
#include "store/CopyPartitions.h"
#include "store/DeletePartitions.h"
#include "store/ImageModel.h"

namespace imbrex::cli {

namespace {

constexpr int kTerminalPasswordAttempts = 3;
constexpr uint32_t kSectorSize = 512;

// "all", or numbers and ranges separated by commas: "1,3", "2-4". Numbers from 1 to count.
std::optional<std::vector<uint32_t>> parsePartitionList(const std::string &text, uint32_t count)
{
    std::set<uint32_t> rows;
    if (text == "all") {
        for (uint32_t row = 0; row < count; ++row)
            rows.insert(row);
        return std::vector<uint32_t>(rows.begin(), rows.end());
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t dash = item.find('-');
        auto first = parsePartitionNumber(item.substr(0, dash));
        auto last = dash == std::string::npos ? first : parsePartitionNumber(item.substr(dash + 1));
        if (!first || !last || *first > *last || *last > count)
            return std::nullopt;
        for (uint32_t n = *first; n <= *last; ++n)
            rows.insert(n - 1);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return std::vector<uint32_t>(rows.begin(), rows.end());
}

// The options dialog and the prompts of a copy, answered from the command line.
class CommandLineQuestions final : public store::CopyQuestions
{
public:
    CommandLineQuestions(const Arguments &args, std::optional<store::CompressionChoice> compression,
                         std::optional<store::PasswordChoice> password,
                         std::optional<std::string> newPassword, std::optional<std::string> splitSize)
        : m_args(args), m_compression(compression), m_password(password),
          m_newPassword(std::move(newPassword)), m_splitSize(std::move(splitSize))
    {
    }

    bool askOptions(store::CopyOptionsState &state) override
    {
        // The options are given once; a check that fails has said why, and nobody can answer again.
        if (m_asked)
            return false;
        m_asked = true;
        if (m_compression)
            state.compression = *m_compression;
        if (m_password)
            state.password = *m_password;
        if (state.password == store::PasswordChoice::New && m_newPassword) {
            state.newPassword = state.confirmPassword = *m_newPassword;
            state.passwordDirty = true;
        }
        if (m_splitSize) {
            state.splitImage = true;
            state.fileSizeText = *m_splitSize;
            state.fileSizeDirty = true;
        }
        return true;
    }

    std::optional<std::string> askPassword(const std::string &partitionName) override
    {
        // A password file is read once; on a terminal the person has a few tries.
        const bool fromFile = m_args.option("--password-file").has_value();
        if (m_attempts >= (fromFile ? 1 : kTerminalPasswordAttempts))
            return std::nullopt;
        ++m_attempts;
        return readPassword(m_args, "--password-file", "Password of partition " + partitionName + ": ");
    }

    void showMessage(const std::string &text, store::MessageKind) override
    {
        std::fprintf(stderr, "zbitool: %s\n", text.c_str());
    }

private:
    const Arguments &m_args;
    std::optional<store::CompressionChoice> m_compression;
    std::optional<store::PasswordChoice> m_password;
    std::optional<std::string> m_newPassword;
    std::optional<std::string> m_splitSize;
    bool m_asked = false;
    int m_attempts = 0;
};

class TerminalCopyProgress final : public store::CopyProgress
{
public:
    void begin(uint32_t steps) override { m_steps = steps == 0 ? 1 : steps; }
    void setStep(uint32_t step) override { m_step = step; }
    void setAction(const std::string &text) override { m_bar.setAction(text); }
    void setPercent(uint32_t percent) override
    {
        uint64_t done = uint64_t{m_step == 0 ? 0 : m_step - 1} * 100 + percent;
        if (!m_bar.update(done, uint64_t{m_steps} * 100))
            m_cancelled = true;
    }
    bool cancelled() override { return m_cancelled; }

private:
    TerminalProgress m_bar;
    uint32_t m_steps = 1;
    uint32_t m_step = 0;
    bool m_cancelled = false;
};

std::optional<store::CompressionChoice> parseCompressionChoice(const std::string &text)
{
    if (text == "same")
        return store::CompressionChoice::NoChange;
    if (text == "none")
        return store::CompressionChoice::None;
    if (text == "low")
        return store::CompressionChoice::Low;
    if (text == "high")
        return store::CompressionChoice::High;
    return std::nullopt;
}

std::optional<store::PasswordChoice> parsePasswordChoice(const std::string &text)
{
    if (text == "same")
        return store::PasswordChoice::Same;
    if (text == "none")
        return store::PasswordChoice::None;
    if (text == "new")
        return store::PasswordChoice::New;
    return std::nullopt;
}

int runCopyCommand(const Words &words, store::CopyCommand command, const char *usage)
{
    Arguments args;
    if (auto error = parseArguments(words,
                                    {"--partitions", "--compression", "--password", "--password-file",
                                     "--new-password-file", "--split-size"},
                                    {"--force"}, &args))
        return usageError(*error);
    if (args.positional.size() != 2)
        return usageError(usage);
    const std::string &sourcePath = args.positional[0];
    const std::string &targetPath = args.positional[1];
    const bool alwaysNew = !store::copyModeOf(command).mayUseExistingTarget;
    if (command == store::CopyCommand::Span && !args.option("--split-size"))
        return usageError("span needs --split-size BYTES");
    if (alwaysNew &&
        (args.option("--partitions") || args.option("--compression") || args.option("--password")))
        return usageError("span and combine copy every partition as it is");

    std::optional<store::CompressionChoice> compression;
    if (auto text = args.option("--compression")) {
        compression = parseCompressionChoice(*text);
        if (!compression)
            return usageError("--compression takes same, none, low or high");
    }
    std::optional<store::PasswordChoice> password;
    if (auto text = args.option("--password")) {
        password = parsePasswordChoice(*text);
        if (!password)
            return usageError("--password takes same, none or new");
    }
    std::optional<std::string> newPassword;
    if (password == store::PasswordChoice::New) {
        newPassword = readPassword(args, "--new-password-file", "New password: ");
        if (!newPassword)
            return kExitFailure;
        if (!args.option("--new-password-file")) {
            auto again = readPassword(args, "--new-password-file", "Confirm new password: ");
            if (!again)
                return kExitFailure;
            if (*again != *newPassword)
                return failure("Password and Confirm Password do not match.");
        }
    }
    if (!checkFileKind(sourcePath, PathRole::Image) || !checkFileKind(targetPath, PathRole::Image))
        return kExitFailure;
    // The store refuses the image itself as its own target; a numbered part of it is refused here.
    std::vector<std::string> sourceFiles = imageFiles(sourcePath);
    if (sourceFiles.size() > 1 && !checkNotAnInput(targetPath, {sourceFiles.begin() + 1, sourceFiles.end()}))
        return kExitFailure;
    if (alwaysNew && platform::fileExists(targetPath) && !args.flag("--force"))
        return failure("The file '" + targetPath + "' already exists; use --force to replace it.");
    if (!platform::fileExists(sourcePath))
        return failure("The file '" + sourcePath + "' was not found.");

    TerminalCallback callback(args.flag("--force"));
    store::ImageModel model = store::loadImageModel(sourcePath, &callback);
    if (!model.store)
        return failure(store::openFailureMessage(sourcePath, model.error), model.error);
    (void)warnIfDamaged(*model.store, sourcePath);
    store::CopySource source = store::CopySource::allPartitions(*model.store, sourcePath);
    if (auto list = args.option("--partitions")) {
        auto rows = parsePartitionList(*list, source.itemCount);
        if (!rows)
            return usageError("--partitions takes all, or partition numbers from 1 to " +
                              std::to_string(source.itemCount) + " such as 1,3 or 2-4");
        source.selectedRows = *rows;
    }
    if (source.selectedRows.empty())
        return failure("The image '" + sourcePath + "' holds no partitions to copy.");

    CommandLineQuestions questions(args, compression, password, newPassword, args.option("--split-size"));
    TerminalCopyProgress progress;
    int result = store::CopyPartitions(source, targetPath, command, questions, progress, &callback);
    if (result == 0)
        return 0;
    if (result == rc::kCancelled)
        return failure("Nothing was copied; '" + targetPath + "' is as it was before.");
    return failure("Nothing was copied.", result);
}

// A new image built under a temporary name beside its target, numbered parts and all, that takes the
// target's names only once it is complete: until then the target keeps what it held. Whatever has not taken
// its final name is removed when the set goes.
class NewImageSet
{
public:
    explicit NewImageSet(std::string target) : m_target(std::move(target))
    {
        std::random_device device;
        // The random text sits before the last "." so that the numbered parts get names of their own too.
        do
            m_temporary = platform::directoryOf(m_target) + "/." + platform::fileNameOf(m_target) + "-" +
                          std::to_string(device()) + ".new";
        while (platform::fileExists(m_temporary));
    }
    ~NewImageSet()
    {
        if (m_installed)
            return;
        (void)platform::removeFile(m_temporary);
        for (uint32_t number = 2; number <= kLastPartNumber; ++number)
            if (platform::removeFile(store::numberedPartPath(m_temporary, number)) != 0 && number > m_parts)
                break;
        for (const std::string &name : m_moved)
            (void)platform::removeFile(name);
    }
    NewImageSet(const NewImageSet &) = delete;
    NewImageSet &operator=(const NewImageSet &) = delete;

    const std::string &temporaryPath() const { return m_temporary; }

    // Gives the finished image its names: the numbered parts first, the image itself last, so that the name
    // the image is opened by turns from the old image to the new one in one step. 0, or the exit status after
    // saying why not.
    int install(const std::vector<std::string> &inputs, IMGSTORE_UI_CALLBACK &callback)
    {
        m_parts = 1;
        while (m_parts < kLastPartNumber &&
               platform::fileExists(store::numberedPartPath(m_temporary, m_parts + 1)))
            ++m_parts;
        // Every name is checked before any is taken, so that a refusal leaves everything as it was.
        for (uint32_t number = 1; number <= m_parts; ++number) {
            std::string name = finalName(number);
            if (!checkFileKind(name, PathRole::Image) || !checkNotAnInput(name, inputs))
                return kExitFailure;
            if (number >= 2 && platform::fileExists(name) && !callback.ConfirmReplaceFile(name.c_str()))
                return failure("The file '" + name + "' already exists; use --force to replace it.");
        }
        for (uint32_t number = 2; number <= m_parts + 1; ++number) {
            // The image itself goes last.
            const uint32_t part = number <= m_parts ? number : 1;
            std::string name = finalName(part);
            if (int e = platform::replaceFile(partName(m_temporary, part), name))
                return failure("The image file '" + name + "' could not be written; no image was made.", e);
            if (part == 1)
                m_installed = true;
            else
                m_moved.push_back(name);
        }
        return 0;
    }

private:
    static std::string partName(const std::string &first, uint32_t number)
    {
        return number == 1 ? first : store::numberedPartPath(first, number);
    }
    std::string finalName(uint32_t number) const { return partName(m_target, number); }

    std::string m_target;
    std::string m_temporary;
    uint32_t m_parts = 0;
    std::vector<std::string> m_moved;
    bool m_installed = false;
};

class CommandLineDelete final : public store::DeleteQuestions
{
public:
    bool confirm(const std::string &) override { return true; }
};

} // namespace

int runCopy(const Words &args)
{
    return runCopyCommand(args, store::CopyCommand::Copy,
                          "usage: zbitool copy SRC DST [--partitions LIST|all] [--compression "
                          "same|none|low|high] [--password same|none|new] [--password-file F] "
                          "[--new-password-file F] [--split-size BYTES]");
}

int runCompress(const Words &args)
{
    return runCopyCommand(args, store::CopyCommand::Compress,
                          "usage: zbitool compress SRC DST [--partitions LIST|all] [options of copy]");
}

int runUncompress(const Words &args)
{
    return runCopyCommand(args, store::CopyCommand::Uncompress,
                          "usage: zbitool uncompress SRC DST [--partitions LIST|all] [options of copy]");
}

int runSpan(const Words &args)
{
    return runCopyCommand(args, store::CopyCommand::Span,
                          "usage: zbitool span SRC DST --split-size BYTES [--password-file F] [--force]");
}

int runCombine(const Words &args)
{
    return runCopyCommand(args, store::CopyCommand::Combine,
                          "usage: zbitool combine SRC DST [--password-file F] [--force]");
}

int runDelete(const Words &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {}, {kAcceptDamagedFlag}, &args))
        return usageError(*error);
    if (args.positional.size() < 2)
        return usageError("usage: zbitool delete IMAGE N... [--accept-damaged]");
    const std::string &path = args.positional[0];
    if (!checkFileKind(path, PathRole::Image))
        return kExitFailure;
    if (!platform::fileExists(path))
        return failure("The file '" + path + "' was not found.");
    TerminalCallback callback;
    store::OpenedImageStore opened = store::OpenImageStore(path, kNoSplit, &callback);
    if (!opened.store)
        return failure(store::openFailureMessage(path, opened.error), opened.error);
    if (opened.readOnly)
        return failure(store::notWritableMessage(path, opened.writeError),
                       opened.writeError == rc::kImageLocked ? rc::kImageLocked : 0);
    if (int status = allowChange(*opened.store, path, args))
        return status;
    std::vector<uint32_t> rows;
    const uint32_t count = opened.store->GetPartitionCount();
    for (size_t i = 1; i < args.positional.size(); ++i) {
        auto n = parsePartitionNumber(args.positional[i]);
        if (!n || *n > count)
            return failure("There is no partition " + args.positional[i] + " in this image (it has " +
                           std::to_string(count) + ").");
        rows.push_back(*n - 1);
    }
    CommandLineDelete questions;
    int e = store::DeletePartitions(*opened.store, rows, rows.front(), questions);
    int closed = opened.store->Close();
    if (e == 0)
        e = closed;
    if (e != 0)
        return failure("Not every partition could be deleted from '" + path + "'.", e);
    return 0;
}

int runCreate(const Words &words)
{
    Arguments args;
    if (auto error =
            parseArguments(words, {"--name", "--comment", "--compression", "--password-file", "--split-size"},
                           {"--force", "--all-blocks"}, &args))
        return usageError(*error);
    if (args.positional.size() < 2)
        return usageError("usage: zbitool create IMAGE RAW... [--name TEXT] [--comment TEXT] [--compression "
                          "none|low|high|CODE] [--password-file FILE] [--split-size BYTES] [--all-blocks] "
                          "[--force]");
    uint32_t compression = 0;
    if (auto text = args.option("--compression")) {
        auto code = parseCompression(*text);
        if (!code)
            return usageError("--compression takes none, low, high or a compression code");
        compression = *code;
    }
    uint32_t splitSize = kNoSplit;
    if (auto text = args.option("--split-size")) {
        auto size = parseSplitSize(*text);
        if (!size)
            return usageError("Invalid File Size '" + *text +
                              "'.  Value must be between 10,000,000 and 2,147,483,647 bytes.");
        splitSize = *size;
    }
    uint32_t password = 0;
    if (args.option("--password-file")) {
        auto text = readPassword(args, "--password-file", "");
        if (!text)
            return kExitFailure;
        if (text->size() < 4)
            return usageError("Password must be at least 4 characters long.");
        password = ConvertPasswordString(text->c_str());
    }
    const std::string &path = args.positional[0];
    if (!checkFileKind(path, PathRole::Image))
        return kExitFailure;
    const bool replacing = platform::fileExists(path);
    if (replacing && !args.flag("--force"))
        return failure("The file '" + path + "' already exists; use --force to replace it.");
    std::vector<std::string> inputs(args.positional.begin() + 1, args.positional.end());
    if (!checkNotAnInput(path, inputs))
        return kExitFailure;

    // Every volume to store: a raw volume file is one, a disk image gives its partitions.
    struct Volume
    {
        std::string file;
        capture::ImportOptions options;
    };
    std::vector<Volume> volumes;
    char letter = 'C';
    for (const std::string &raw : inputs) {
        if (!checkFileKind(raw, PathRole::RawVolumeInput))
            return kExitFailure;
        platform::File file;
        if (int e = file.openVolume(raw))
            return failure(e == platform::kErrorFileNotFound || e == platform::kErrorPathNotFound
                               ? "The file '" + raw + "' was not found."
                               : "The file '" + raw + "' cannot be read.",
                           e);
        uint64_t size = 0;
        if (int e = file.size(&size))
            return failure("The file '" + raw + "' cannot be read.", e);
        auto reader = [&file](uint64_t offset, std::span<std::byte> out) -> int {
            size_t got = 0;
            if (int e = file.readAt(offset, out, &got))
                return e;
            return got == out.size() ? 0 : rc::kReadShort;
        };
        capture::DiskLayout layout = capture::readDiskLayout(reader, size, letter);
        if (layout.kind == capture::DiskLayoutKind::Damaged)
            return failure("The partition table of '" + raw + "' is damaged: " + layout.problem + ".");
        if (layout.kind == capture::DiskLayoutKind::NotADisk) {
            if (size % kSectorSize != 0)
                std::fprintf(stderr,
                             "zbitool: warning: '%s' is not a whole number of %u-byte sectors; its last "
                             "sector is stored with %llu zero bytes added.\n",
                             raw.c_str(), kSectorSize,
                             static_cast<unsigned long long>(kSectorSize - size % kSectorSize));
            Volume v{raw, {}};
            v.options.driveLetter = letter++;
            volumes.push_back(v);
            continue;
        }
        for (const capture::DiskPartition &p : layout.partitions) {
            Volume v{raw, {}};
            v.options.offset = p.offset;
            v.options.length = p.length;
            v.options.partitionTypeId = p.typeId;
            v.options.kind = p.kind;
            v.options.driveLetter = letter++;
            volumes.push_back(v);
        }
    }
    if (volumes.empty())
        return failure("There is no partition to store.");
    if (volumes.size() > 24)
        return usageError("at most 24 partitions, one per drive letter C to Z");

    // An image being replaced stays whole, and in no other writer's hands, until the new one is complete.
    platform::File existing;
    if (replacing) {
        if (platform::isReadOnlyFile(path))
            return failure("'" + path + "' is read-only.");
        if (int e = existing.open(path, platform::FileAccess::ReadWrite))
            return failure("The image file '" + path + "' could not be replaced.", e);
        if (!existing.tryLockExclusive())
            return failure("The image file '" + path + "' could not be replaced.", rc::kImageLocked);
    }

    // Ctrl-C from here on cancels the run and removes what it wrote.
    TerminalProgress progress;
    TerminalCallback callback(args.flag("--force"));
    NewImageSet set(path);
    uint32_t error = 0;
    ImageStorePtr image(ImageStoreCreateNew(set.temporaryPath().c_str(), splitSize, 0, 0, &callback, &error));
    if (!image)
        return failure("The image file '" + path + "' could not be created.", static_cast<int>(error));
    int e = 0;
    if (auto name = args.option("--name"))
        e = image->SetImageName(name->c_str());
    if (e == 0)
        if (auto comment = args.option("--comment"))
            e = image->SetImageComment(comment->c_str());
    if (e != 0)
        return failure("The image file '" + path + "' could not be written.", e);

    for (Volume &v : volumes) {
        v.options.compression = compression;
        v.options.password = password;
        v.options.usedBlocksOnly = !args.flag("--all-blocks");
        progress.setAction("Storing " + platform::fileNameOf(v.file) + " ...");
        e = capture::importPartition(*image, v.file, v.options, progress);
        if (e == rc::kCancelled)
            return failure("Cancelled; no image was made.", 0);
        if (e != 0)
            return failure("The partition in '" + v.file + "' could not be stored.", e);
    }
    e = image->Close();
    image.reset();
    if (e != 0)
        return failure("The image file '" + path + "' could not be written.", e);
    return set.install(inputs, callback);
}

} // namespace imbrex::cli
