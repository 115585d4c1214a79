#include "CliSupport.h"

#include <cstdio>

#include "Passwords.h"
#include "TerminalCallback.h"
#include "common/ResultCodes.h"
#include "platform/File.h"
#include "store/ImageModel.h"

namespace imbrex::cli {

int usageError(const std::string &text)
{
    std::fprintf(stderr, "zbitool: %s\nTry 'zbitool --help'.\n", text.c_str());
    return kExitUsage;
}

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
    if (code == rc::kImageLocked)
        return failure(store::notWritableMessage(path, code), code);
    return failure(store::openFailureMessage(path, code), code);
}

bool warnIfDamaged(ImageStore &image, const std::string &path)
{
    std::string text = store::damagedImageMessage(image, path);
    if (text.empty())
        return false;
    std::fprintf(stderr, "zbitool: %s\n", text.c_str());
    return true;
}

int allowChange(ImageStore &image, const std::string &path, const Arguments &args)
{
    if (!warnIfDamaged(image, path))
        return 0;
    if (!args.flag(kAcceptDamagedFlag))
        return failure(
            "Nothing was changed. To change it anyway, building on the state it shows and giving up "
            "the newer one, give " +
                std::string(kAcceptDamagedFlag) + ".",
            rc::kDamagedImageNotAccepted);
    return image.AcceptDamage() == 0 ? 0 : failure("The image could not be changed.", 0);
}

IMGSTORE_UI_CALLBACK &terminalCallback()
{
    static TerminalCallback callback;
    return callback;
}

ImageStorePtr openForReading(const std::string &path, int *code)
{
    uint32_t error = 0;
    ImageStorePtr image(ImageStoreOpenReadOnly(path.c_str(), &terminalCallback(), &error));
    *code = static_cast<int>(error);
    if (image)
        (void)warnIfDamaged(*image, path);
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

int unlockPartition(ImageStore &image, uint32_t number, const Arguments &args)
{
    const std::string name = "Partition " + std::to_string(number);
    uint32_t password = 0;
    int e = image.SelectPartition(number, 0);
    if (e == 0)
        e = image.GetPartitionPassword(&password);
    if (e != 0)
        return failure(name + " could not be read.", e);
    if (password != 0) {
        auto text =
            readPassword(args, "--password-file", "Password of partition " + std::to_string(number) + ": ");
        if (!text)
            return kExitFailure;
        if (ConvertPasswordString(text->c_str()) != password)
            return failure(kWrongPasswordMessage, 0);
    }
    return 0;
}

int OpenedPartition::open(const Arguments &args, bool mount)
{
    const std::string &path = args.positional[0];
    int code = 0;
    m_store = openForReading(path, &code);
    if (!m_store)
        return openFailure(path, code);
    if (!checkPartitionNumber(*m_store, args.positional[1], &m_number))
        return kExitFailure;
    const std::string name = "Partition " + std::to_string(m_number);
    if (int status = unlockPartition(*m_store, m_number, args))
        return status;
    int e = m_access.OpenSectors(m_store.get(), args.option("--index").value_or(""));
    if (e == 0 && mount)
        e = m_access.MountVolume();
    if (e == rc::kLegacyCompression)
        return failure("Restoring a file from this compressed image (type " +
                           std::to_string(m_access.CompressionType()) + ") is not supported.",
                       0);
    if (e == rc::kUnsupportedFileSystem)
        return failure("Restoring a file from this partition type is not currently supported.", 0);
    if (e == rc::kWrongPassword)
        return failure(kWrongPasswordMessage, 0);
    if (e != 0)
        return failure(name + " could not be opened.", e);
    return 0;
}

bool OpenedPartition::needsIndex() const
{
    return m_access.Flags() & (restore::kFlagCompressed | restore::kFlagSpanned);
}

} // namespace imbrex::cli
