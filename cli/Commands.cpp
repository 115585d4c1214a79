#include "Commands.h"

#include <cstdio>
#include <string>

#include "Arguments.h"
#include "Passwords.h"
#include "TerminalCallback.h"
#include "TerminalProgress.h"
#include "capture/RawVolume.h"
#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "platform/File.h"
#include "store/ImageModel.h"
#include "store/PartitionProperties.h"

namespace imbrex::cli {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int usageError(const std::string &text)
{
    std::fprintf(stderr, "zbitool: %s\nTry 'zbitool --help'.\n", text.c_str());
    return kExitUsage;
}

// Reports a failed operation: the program's own message, then the code and what it means.
int failure(const std::string &message, int code)
{
    std::fprintf(stderr, "zbitool: %s\n", message.c_str());
    if (code != 0)
        std::fprintf(stderr, "zbitool: (error %d: %s)\n", code, std::string(rc::describe(code)).c_str());
    return kExitFailure;
}

int openFailure(const std::string &path, int code)
{
    if (code == platform::kErrorFileNotFound || code == platform::kErrorPathNotFound)
        return failure("The file '" + path + "' was not found.", code);
    return failure(store::openFailureMessage(path, code), code);
}

TerminalCallback &terminalCallback()
{
    static TerminalCallback callback;
    return callback;
}

// Opens an existing image for reading only.
ImageStorePtr openForReading(const std::string &path, int *code)
{
    uint32_t error = 0;
    ImageStorePtr image(ImageStoreOpenReadOnly(path.c_str(), &terminalCallback(), &error));
    *code = static_cast<int>(error);
    return image;
}

ImageStorePtr openForWriting(const std::string &path, int *code)
{
    uint32_t error = 0;
    ImageStorePtr image(ImageStoreOpen(path.c_str(), kNoSplit, 0, &terminalCallback(), &error));
    *code = static_cast<int>(error);
    return image;
}

bool checkPartitionNumber(ImageStore &image, const std::string &text, uint32_t *number)
{
    auto n = parsePartitionNumber(text);
    if (!n || *n > image.GetPartitionCount()) {
        std::fprintf(stderr, "zbitool: there is no partition %s in this image (it has %u)\n", text.c_str(),
                     image.GetPartitionCount());
        return false;
    }
    *number = *n;
    return true;
}

// rename and comment: the image's text when no partition number is given, else the partition's.
int setText(const Words &words, bool isComment)
{
    Arguments args;
    if (auto error = parseArguments(words, {}, {}, &args))
        return usageError(*error);
    if (args.positional.size() != 2 && args.positional.size() != 3)
        return usageError(isComment ? "usage: zbitool comment IMAGE [N] TEXT"
                                    : "usage: zbitool rename IMAGE [N] TEXT");
    const std::string &path = args.positional[0];
    const std::string &text = args.positional.back();
    int code = 0;
    ImageStorePtr image = openForWriting(path, &code);
    if (!image)
        return openFailure(path, code);

    size_t limit = isComment ? (args.positional.size() == 2 ? 399 : 255) : 99;
    if (text.size() > limit)
        std::fprintf(stderr, "zbitool: the text is longer than %zu bytes; only the first %zu are kept\n",
                     limit, limit);
    int e = 0;
    if (args.positional.size() == 2) {
        e = isComment ? image->SetImageComment(text.c_str()) : image->SetImageName(text.c_str());
    } else {
        uint32_t number = 0;
        if (!checkPartitionNumber(*image, args.positional[1], &number))
            return kExitFailure;
        e = image->SelectPartition(number, 0);
        if (e == 0)
            e = isComment ? image->SetPartitionComment(text.c_str()) : image->SetPartitionName(text.c_str());
        int released = image->ReleasePartition(1);
        if (e == 0)
            e = released;
    }
    if (e == 0)
        e = image->Close();
    if (e != 0)
        return failure("The change could not be written to '" + path + "'.", e);
    return 0;
}

} // namespace

constexpr const char *kWrongPassword = "Password entered is not valid for this partition.";

int runCreate(const Words &words)
{
    Arguments args;
    if (auto error =
            parseArguments(words, {"--name", "--comment", "--compression", "--password-file", "--split-size"},
                           {"--force"}, &args))
        return usageError(*error);
    if (args.positional.size() < 2)
        return usageError("usage: zbitool create IMAGE RAW... [--name TEXT] [--comment TEXT] [--compression "
                          "none|low|high|CODE] [--password-file FILE] [--split-size BYTES] [--force]");
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
                              "'.  Value must be between 10,000,000 and "
                              "2,147,483,647 bytes.");
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
    if (platform::fileExists(path) && !args.flag("--force"))
        return failure("The file '" + path + "' already exists; use --force to replace it.", 0);
    if (args.positional.size() - 1 > 24)
        return usageError("at most 24 partitions, one per drive letter C to Z");

    uint32_t error = 0;
    TerminalCallback callback(args.flag("--force"));
    ImageStorePtr image(ImageStoreCreateNew(path.c_str(), splitSize, 0, 0, &callback, &error));
    if (!image)
        return failure("The image file '" + path + "' could not be created.", static_cast<int>(error));
    // A run that fails leaves no half-made image behind.
    auto abandon = [&](const std::string &message, int code) {
        image.reset();
        (void)platform::removeFile(path);
        return failure(message, code);
    };
    int e = 0;
    if (auto name = args.option("--name"))
        e = image->SetImageName(name->c_str());
    if (e == 0)
        if (auto comment = args.option("--comment"))
            e = image->SetImageComment(comment->c_str());
    if (e != 0)
        return abandon("The image file '" + path + "' could not be written.", e);

    TerminalProgress progress;
    for (size_t i = 1; i < args.positional.size(); ++i) {
        const std::string &raw = args.positional[i];
        capture::ImportOptions options;
        options.driveLetter = static_cast<char>('C' + (i - 1));
        options.compression = compression;
        options.password = password;
        progress.setAction("Storing " + platform::fileNameOf(raw) + " ...");
        e = capture::importPartition(*image, raw, options, progress);
        if (e == rc::kCancelled)
            return abandon("Cancelled; no image was made.", 0);
        if (e == platform::kErrorFileNotFound || e == platform::kErrorPathNotFound)
            return abandon("The file '" + raw + "' was not found.", e);
        if (e != 0)
            return abandon("The partition in '" + raw + "' could not be stored.", e);
    }
    e = image->Close();
    if (e != 0)
        return abandon("The image file '" + path + "' could not be written.", e);
    return 0;
}

int runList(const Words &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {}, {}, &args))
        return usageError(*error);
    if (args.positional.size() != 1)
        return usageError("usage: zbitool list IMAGE");
    const std::string &path = args.positional[0];
    // Listing never creates a file; the editor's open would.
    if (!platform::fileExists(path))
        return openFailure(path, platform::kErrorFileNotFound);
    store::ImageModel model = store::loadImageModel(path, nullptr);
    if (!model.store)
        return openFailure(path, model.error);
    for (uint32_t number : model.spannedPartitions)
        std::fprintf(stderr, "zbitool: partition %u: %s\n", number, store::spannedImageMessage(path).c_str());
    for (const std::string &row : model.rows)
        std::printf("%s\n", row.c_str());
    return 0;
}

int runInfo(const Words &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {}, {}, &args))
        return usageError(*error);
    if (args.positional.size() != 2)
        return usageError("usage: zbitool info IMAGE N");
    const std::string &path = args.positional[0];
    int code = 0;
    ImageStorePtr image = openForReading(path, &code);
    if (!image)
        return openFailure(path, code);
    uint32_t number = 0;
    if (!checkPartitionNumber(*image, args.positional[1], &number))
        return kExitFailure;
    for (const store::PropertyLine &line : store::partitionPropertyLines(*image, number))
        std::printf("%s %s\n", line.caption.c_str(), line.value.c_str());
    return 0;
}

int runExport(const Words &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {"--password-file"}, {"--force"}, &args))
        return usageError(*error);
    if (args.positional.size() != 3)
        return usageError("usage: zbitool export IMAGE N RAW [--password-file FILE] [--force]");
    const std::string &path = args.positional[0];
    const std::string &raw = args.positional[2];
    int code = 0;
    ImageStorePtr image = openForReading(path, &code);
    if (!image)
        return openFailure(path, code);
    uint32_t number = 0;
    if (!checkPartitionNumber(*image, args.positional[1], &number))
        return kExitFailure;
    // A protected partition is read only with its password.
    uint32_t stored = 0;
    int e = image->SelectPartition(number, 0);
    if (e == 0)
        e = image->GetPartitionPassword(&stored);
    (void)image->ReleasePartition(1);
    if (e != 0)
        return failure("Partition " + std::to_string(number) + " could not be read.", e);
    if (stored != 0) {
        auto text =
            readPassword(args, "--password-file", "Password of partition " + std::to_string(number) + ": ");
        if (!text)
            return kExitFailure;
        if (ConvertPasswordString(text->c_str()) != stored)
            return failure(kWrongPassword, 0);
    }
    TerminalProgress progress;
    progress.setAction("Exporting partition " + std::to_string(number) + " ...");
    e = capture::exportPartition(*image, number, raw, args.flag("--force"), progress);
    if (e == rc::kWrongPassword)
        return failure(kWrongPassword, 0);
    if (e == platform::kErrorFileExists)
        return failure("The file '" + raw + "' already exists; use --force to replace it.", 0);
    if (e == rc::kCancelled)
        return failure("Cancelled; nothing was written.", 0);
    if (e != 0)
        return failure("Partition " + std::to_string(number) + " could not be exported; nothing was written.",
                       e);
    return 0;
}

int runRename(const Words &args)
{
    return setText(args, false);
}

int runComment(const Words &args)
{
    return setText(args, true);
}

} // namespace imbrex::cli
