#include "IndexCommands.h"

#include <cstdio>
#include <string>

#include "Arguments.h"
#include "CliSupport.h"
#include "Passwords.h"
#include "TerminalProgress.h"
#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "index/IndexCallbacks.h"
#include "platform/File.h"
#include "restore/PARTITION_ACCESS.h"
#include "store/ImageModel.h"

namespace imbrex::cli {

const char *const kIndexHelp = R"(  zbitool index build IMAGE N FILE [--password-file FILE]
      Read compressed or spanned partition N to its end and save its image index as a new section of FILE
      (.zbx), which is created when it does not exist.
  zbitool index check IMAGE N FILE [--password-file FILE]
      Tell whether FILE holds a usable image index for partition N.
)";

namespace {

// The message for a code of the index file operations, in the words the windows use.
std::string indexMessage(int code, const std::string &path)
{
    std::string text = index::indexFileMessage(code, path);
    return text.empty() ? "Error writing the image index file." : text;
}

int runBuild(const Arguments &args)
{
    OpenedPartition partition;
    if (int status = partition.open(args, false))
        return status;
    uint32_t number = partition.number();
    const std::string &file = args.positional[2];
    if (!checkFileKind(file, PathRole::IndexFile) || !checkNotAnInput(file, imageFiles(args.positional[0])))
        return kExitFailure;
    if (!partition.needsIndex())
        return failure("Partition " + std::to_string(number) +
                           " is neither compressed nor spanned; it needs no image index.",
                       0);
    TerminalProgress progress;
    index::ProgressIndexReporter reporter(progress);
    partition.access().SetIndexProgress(&reporter);
    int e = partition.access().WriteIndexFile(file);
    if (e == rc::kCancelled)
        return failure("Cancelled; the image index was not saved.", 0);
    if (e != 0)
        return failure(indexMessage(e, file), e);
    std::printf("Saved the image index of partition %u to %s\n", number, file.c_str());
    return 0;
}

int runCheck(const Arguments &args)
{
    OpenedPartition partition;
    if (int status = partition.open(args, false))
        return status;
    uint32_t number = partition.number();
    const std::string &file = args.positional[2];
    if (!checkFileKind(file, PathRole::IndexFile))
        return kExitFailure;
    if (!partition.needsIndex()) {
        std::printf("Partition %u is neither compressed nor spanned; it needs no image index.\n", number);
        return 0;
    }
    // A full read: it also checks that the section fits the partition, and names what is wrong.
    int e = partition.access().ReadIndexFile(file);
    if (e == 0 && !partition.access().CheckIndexFile(file))
        e = rc::kInvalidIndexFile;
    if (e != 0)
        return failure(indexMessage(e, file), e);
    std::printf("%s holds a usable image index for partition %u\n", file.c_str(), number);
    return 0;
}

} // namespace

int runIndex(const std::vector<std::string> &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {"--password-file"}, {}, &args))
        return usageError(*error);
    if (args.positional.size() != 4 || (args.positional[0] != "build" && args.positional[0] != "check"))
        return usageError("usage: zbitool index build|check IMAGE N FILE [--password-file FILE]");
    const std::string action = args.positional[0];
    args.positional.erase(args.positional.begin());
    return action == "build" ? runBuild(args) : runCheck(args);
}

} // namespace imbrex::cli
