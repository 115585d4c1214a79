#include "Commands.h"

#include <cstdio>
#include <string>

#include "Arguments.h"
#include "CliSupport.h"
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

// rename and comment: the image's text when no partition number is given, else the partition's.
int setText(const Words &words, bool isComment)
{
    Arguments args;
    if (auto error = parseArguments(words, {}, {kAcceptDamagedFlag}, &args))
        return usageError(*error);
    if (args.positional.size() != 2 && args.positional.size() != 3)
        return usageError(isComment ? "usage: zbitool comment IMAGE [N] TEXT [--accept-damaged]"
                                    : "usage: zbitool rename IMAGE [N] TEXT [--accept-damaged]");
    const std::string &path = args.positional[0];
    const std::string &text = args.positional.back();
    if (!checkFileKind(path, PathRole::Image))
        return kExitFailure;
    int code = 0;
    ImageStorePtr image = openForWriting(path, &code);
    if (!image)
        return openFailure(path, code);
    if (int status = allowChange(*image, path, args))
        return status;

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

int runList(const Words &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {}, {}, &args))
        return usageError(*error);
    if (args.positional.size() != 1)
        return usageError("usage: zbitool list IMAGE");
    const std::string &path = args.positional[0];
    if (!checkFileKind(path, PathRole::Image))
        return kExitFailure;
    // Listing never creates a file; the editor's open would.
    if (!platform::fileExists(path))
        return openFailure(path, platform::kErrorFileNotFound);
    store::ImageModel model = store::loadImageModel(path, nullptr);
    if (!model.store)
        return openFailure(path, model.error);
    for (uint32_t number : model.spannedPartitions)
        std::fprintf(stderr, "zbitool: partition %u: %s\n", number, store::spannedImageMessage(path).c_str());
    for (const std::string &row : model.rows)
        std::printf("%s\n", escapeControls(row).c_str());
    // The rows are those of an older state than the file's newest: that is not a clean listing.
    return warnIfDamaged(*model.store, path) ? kExitFailure : 0;
}

int runInfo(const Words &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {}, {}, &args))
        return usageError(*error);
    if (args.positional.size() != 2)
        return usageError("usage: zbitool info IMAGE N");
    const std::string &path = args.positional[0];
    if (!checkFileKind(path, PathRole::Image))
        return kExitFailure;
    int code = 0;
    ImageStorePtr image = openForReading(path, &code);
    if (!image)
        return openFailure(path, code);
    uint32_t number = 0;
    if (!checkPartitionNumber(*image, args.positional[1], &number))
        return kExitFailure;
    for (const store::PropertyLine &line : store::partitionPropertyLines(*image, number))
        std::printf("%s %s\n", line.caption.c_str(), escapeControls(line.value).c_str());
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
    if (!checkFileKind(path, PathRole::Image) || !checkFileKind(raw, PathRole::RawVolumeOutput) ||
        !checkNotAnInput(raw, imageFiles(path)))
        return kExitFailure;
    int code = 0;
    ImageStorePtr image = openForReading(path, &code);
    if (!image)
        return openFailure(path, code);
    uint32_t number = 0;
    if (!checkPartitionNumber(*image, args.positional[1], &number))
        return kExitFailure;
    // A protected partition is read only with its password.
    int e = unlockPartition(*image, number, args);
    // The selection was only read from; releasing it has nothing to keep or lose, and the export selects
    // the partition again.
    (void)image->ReleasePartition(1);
    if (e != 0)
        return e;
    TerminalProgress progress;
    progress.setAction("Exporting partition " + std::to_string(number) + " ...");
    e = capture::exportPartition(*image, number, raw, args.flag("--force"), progress);
    if (e == rc::kWrongPassword)
        return failure(kWrongPasswordMessage, 0);
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
