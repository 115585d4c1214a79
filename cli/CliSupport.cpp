#include "CliSupport.h"

#include <cstdio>

#include "Passwords.h"
#include "TerminalCallback.h"
#include "common/ResultCodes.h"
#include "index/IndexCallbacks.h"
#include "platform/File.h"
#include "store/CopyPartitions.h"
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

namespace {

const char *kindText(platform::FileKind kind)
{
    switch (kind) {
    case platform::FileKind::Directory:
        return "a folder";
    case platform::FileKind::BlockDevice:
        return "a block device";
    case platform::FileKind::CharacterDevice:
        return "a character device";
    case platform::FileKind::Fifo:
        return "a FIFO";
    case platform::FileKind::Socket:
        return "a socket";
    default:
        return "not a regular file";
    }
}

const char *roleRule(PathRole role)
{
    switch (role) {
    case PathRole::Image:
        return "an image must be a regular file";
    case PathRole::RawVolumeInput:
        return "a raw volume must be a regular file or a block device";
    case PathRole::RawVolumeOutput:
        return "a raw volume is written only to a regular file";
    case PathRole::IndexFile:
        return "an image index must be a regular file";
    }
    return "";
}

} // namespace

bool checkFileKind(const std::string &path, PathRole role)
{
    platform::FileKind kind = platform::fileKindOf(path);
    if (kind == platform::FileKind::Missing || kind == platform::FileKind::Regular ||
        (kind == platform::FileKind::BlockDevice && role == PathRole::RawVolumeInput))
        return true;
    std::fprintf(stderr, "zbitool: '%s' is %s; %s.\n", path.c_str(), kindText(kind), roleRule(role));
    return false;
}

std::vector<std::string> imageFiles(const std::string &path)
{
    std::vector<std::string> files;
    if (!platform::fileExists(path))
        return files;
    files.push_back(path);
    for (uint32_t number = 2; number <= kLastPartNumber; ++number) {
        std::string part = store::numberedPartPath(path, number);
        if (!platform::fileExists(part))
            break;
        files.push_back(part);
    }
    return files;
}

bool checkNotAnInput(const std::string &target, const std::vector<std::string> &inputs)
{
    for (const std::string &input : inputs) {
        if (!platform::isSameFile(target, input))
            continue;
        if (target == input)
            std::fprintf(stderr,
                         "zbitool: '%s' is read by this command and cannot also be written; choose "
                         "another output.\n",
                         target.c_str());
        else
            std::fprintf(stderr,
                         "zbitool: '%s' is another name of '%s', which this command reads; choose "
                         "another output.\n",
                         target.c_str(), input.c_str());
        return false;
    }
    return true;
}

std::string escapeControls(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        // U+0080 to U+009F, the C1 controls, arrive as C2 80 to C2 9F in UTF-8.
        bool c1 = byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                  static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (byte >= 0x20 && byte != 0x7f && !c1) {
            out.push_back(text[i]);
            continue;
        }
        if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\r') {
            out += "\\r";
        } else {
            size_t count = c1 ? 2 : 1;
            for (size_t k = 0; k < count; ++k) {
                auto b = static_cast<unsigned char>(text[i + k]);
                out += "\\x";
                out.push_back(kHex[b >> 4]);
                out.push_back(kHex[b & 15]);
            }
            i += count - 1;
        }
    }
    return out;
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
    if (!checkFileKind(path, PathRole::Image))
        return kExitFailure;
    if (auto index = args.option("--index"); index && !checkFileKind(*index, PathRole::IndexFile))
        return kExitFailure;
    int code = 0;
    m_store = openForReading(path, &code);
    if (!m_store)
        return openFailure(path, code);
    if (!checkPartitionNumber(*m_store, args.positional[1], &m_number))
        return kExitFailure;
    const std::string name = "Partition " + std::to_string(m_number);
    if (int status = unlockPartition(*m_store, m_number, args))
        return status;
    // An index file that cannot be used is only a loss of speed: say so and go on without it.
    class IndexWarning final : public index::IndexProblemHandler
    {
    public:
        int ShowIndexProblem(int result, std::string &path) override
        {
            if (!path.empty()) {
                std::string why = index::indexFileMessage(result, path);
                if (why.empty())
                    why = "The image index file cannot be read (error " + std::to_string(result) + ").";
                std::fprintf(
                    stderr,
                    "zbitool: warning: %s The index file '%s' is not used; the restore goes on without it.\n",
                    why.c_str(), path.c_str());
            }
            return rc::kOk;
        }
    } indexWarning;
    int e = m_access.OpenSectors(m_store.get(), args.option("--index").value_or(""), &indexWarning);
    if (e == 0 && mount)
        e = m_access.MountVolume();
    if (e == rc::kLegacyCompression)
        return failure(
            "Restoring a file from this compressed image (type " +
                std::to_string(m_access.CompressionType()) +
                ") is not supported.\n\nUse the uncompress option to create an image from which files "
                "can be restored.",
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
