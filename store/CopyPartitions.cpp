#include "CopyPartitions.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <utility>

#include "ImageModel.h"
#include "MessageText.h"
#include "PartitionRow.h"
#include "StoreText.h"
#include "common/PathNames.h"
#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "platform/File.h"
#include "platform/LocaleFormat.h"
#include "translate/Translate.h"

namespace imbrex::store {

namespace {

constexpr uint32_t kTransferUnit = 65536;
constexpr uint32_t kPartitionCommentBufferSize = 256;
constexpr uint32_t kSpanCountUnset = 999'999;
constexpr uint32_t kLastPartNumber = 999;
// The stored form of a block bitmap carries a header of the store's beside the bits; this much room is kept
// for it so that a bitmap whose size is a whole number of transfer units still fits.
constexpr uint64_t kStoredBitmapHeaderRoom = 4096;
// A transfer buffer beyond this comes only from a damaged source.
constexpr uint64_t kMaxTransferBuffer = uint64_t{1} << 30;
// At most this much of the stored form moves store to store between two looks at progress and Cancel.
constexpr uint32_t kDirectCopyStep = 4u << 20;

constexpr const char *kOpenFailureText =
    "An error occurred while trying to open the file '%s'. Either it is not a "
    "Korvane Image file, it's corrupted, or the disk is not in the drive.";
constexpr const char *kNotAllowedText = "Copying to it is not allowed.";

std::string lowerAscii(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The open image itself: the same path in any letter case, or another name of the same file.
bool isSameImage(const std::string &target, const std::string &source)
{
    return lowerAscii(target) == lowerAscii(source) || platform::isSameFile(target, source);
}

bool canOpenForReading(const std::string &path)
{
    platform::File file;
    return file.open(path, platform::FileAccess::Read) == 0;
}

std::string openFailureText(const std::string &path)
{
    return translatedMessage(kOpenFailureText, {path});
}

std::string notAllowedMessage(const std::string &firstParagraph)
{
    return firstParagraph + "\n\n" + Translate(kNotAllowedText);
}

// The locale's digit grouping separator, as the split size field shows it.
std::string thousandsSeparator()
{
    std::string grouped = platform::formatGroupedNumber(1000);
    std::string separator;
    for (char c : grouped)
        if (c < '0' || c > '9')
            separator.push_back(c);
    return separator;
}

std::optional<int32_t> toInt32(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    size_t i = 0;
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

uint64_t roundUpToTransferUnit(uint64_t size)
{
    return (size + kTransferUnit - 1) / kTransferUnit * kTransferUnit;
}

// Keeps an image set that a new image is about to replace, so that a failed or cancelled run can put it
// back: each file of the set gets a second name, which the new image's files do not touch.
class ReplacedSetBackup
{
public:
    ReplacedSetBackup() = default;
    ReplacedSetBackup(const ReplacedSetBackup &) = delete;
    ReplacedSetBackup &operator=(const ReplacedSetBackup &) = delete;
    ~ReplacedSetBackup() { discard(); }

    void keep(const std::string &path)
    {
        std::random_device device;
        const std::string tag = ".keep-" + std::to_string(device());
        for (uint32_t number = 1; number <= kLastPartNumber; ++number) {
            std::string file = number == 1 ? path : numberedPartPath(path, number);
            if (!platform::fileExists(file))
                break;
            std::string backup = platform::directoryOf(file) + "/." + platform::fileNameOf(file) + tag;
            std::error_code error;
            std::filesystem::create_hard_link(file, backup, error);
            if (error) {
                error.clear();
                std::filesystem::copy_file(file, backup, error);
            }
            if (error)
                break;
            m_kept.emplace_back(file, backup);
        }
    }

    // Puts every kept file back under its own name.
    void restore()
    {
        for (auto &[file, backup] : m_kept) {
            std::error_code error;
            // A name of the same file (the new image never replaced it) only has to go.
            if (std::filesystem::equivalent(backup, file, error) && !error)
                (void)platform::removeFile(backup);
            else
                std::filesystem::rename(backup, file, error);
        }
        m_kept.clear();
    }

    void discard()
    {
        for (auto &[file, backup] : m_kept)
            (void)platform::removeFile(backup);
        m_kept.clear();
    }

private:
    std::vector<std::pair<std::string, std::string>> m_kept;
};

// Removes an image the run made: the file, and when the store wrote further files, the numbered ones up to
// the first that cannot be removed.
void removeCreatedTarget(const std::string &path, uint32_t spanCount)
{
    (void)platform::removeFile(path);
    if (spanCount == kSpanCountUnset)
        return;
    for (uint32_t number = 2; number <= kLastPartNumber; ++number)
        if (platform::removeFile(numberedPartPath(path, number)) != 0)
            break;
}

// Releases the source's current partition when a transfer ends, however it ends.
class SourceSelection
{
public:
    explicit SourceSelection(ImageStore &store) : m_store(store) {}
    ~SourceSelection() { (void)m_store.ReleasePartition(1); } // the source is only read
    SourceSelection(const SourceSelection &) = delete;
    SourceSelection &operator=(const SourceSelection &) = delete;

private:
    ImageStore &m_store;
};

class CopyRun
{
public:
    CopyRun(ImageStore &source, ImageStore &target, const CopyOptionsState &options, CopyQuestions &questions,
            CopyProgress &progress)
        : m_source(source), m_target(target), m_options(options), m_questions(questions), m_progress(progress)
    {
    }

    int transfer(uint32_t row, uint32_t step);

private:
    int readAttribute(int (ImageStore::*getter)(uint32_t *), uint32_t *out)
    {
        return (m_source.*getter)(out);
    }
    bool isVerified(uint32_t value) const
    {
        return std::find(m_verified.begin(), m_verified.end(), value) != m_verified.end();
    }
    void addVerified(uint32_t value)
    {
        auto place = std::find(m_verified.begin(), m_verified.end(), 0u);
        if (place != m_verified.end())
            *place = value;
    }

    ImageStore &m_source;
    ImageStore &m_target;
    const CopyOptionsState &m_options;
    CopyQuestions &m_questions;
    CopyProgress &m_progress;
    std::array<uint32_t, kVerifiedPasswordPlaces> m_verified{};
};

#define COPY_RETURN_IF_ERROR(expression)                                                                     \
    do {                                                                                                     \
        if (int copyError_ = (expression))                                                                   \
            return copyError_;                                                                               \
    } while (false)

int CopyRun::transfer(uint32_t row, uint32_t step)
{
    m_progress.setStep(step);
    COPY_RETURN_IF_ERROR(m_source.SelectPartition(row + 1, 0));
    SourceSelection selection(m_source);
    const std::string name = readStoreText(m_source, &ImageStore::GetPartitionName, kPartitionNameBufferSize);
    uint32_t p = 0;
    COPY_RETURN_IF_ERROR(m_source.GetPartitionPassword(&p));

    uint32_t q = p;
    if (m_options.password == PasswordChoice::New)
        q = ConvertPasswordString(m_options.newPassword.c_str());
    else if (m_options.password == PasswordChoice::None)
        q = 0;

    uint32_t c = 0;
    COPY_RETURN_IF_ERROR(m_source.GetCompression(&c));
    uint32_t t = 0;
    switch (m_options.compression) {
    case CompressionChoice::NoChange:
        t = c;
        break;
    case CompressionChoice::Low:
        t = kCopyLowCompression;
        break;
    case CompressionChoice::High:
        t = kCopyHighCompression;
        break;
    case CompressionChoice::None:
        t = 0;
        break;
    }
    const bool storedForm = t == c && q == p;

    // The data of a protected partition is decoded only with its password, so it is asked for whenever the
    // data is decoded, not only when the password changes.
    if (p != 0 && (q != p || !storedForm) && !isVerified(p)) {
        COPY_RETURN_IF_ERROR(AskPartitionPassword(p, name, m_questions));
        addVerified(p);
    }

    uint32_t typeId = 0, fileSystemType = 0, sectorCount = 0, kind = 0, attributeA = 0;
    char driveLetter = 0;
    uint16_t year = 0, month = 0, day = 0;
    COPY_RETURN_IF_ERROR(readAttribute(&ImageStore::GetPartitionTypeId, &typeId));
    COPY_RETURN_IF_ERROR(readAttribute(&ImageStore::GetFileSystemType, &fileSystemType));
    COPY_RETURN_IF_ERROR(readAttribute(&ImageStore::GetSectorCount, &sectorCount));
    COPY_RETURN_IF_ERROR(m_source.GetDriveLetter(&driveLetter));
    COPY_RETURN_IF_ERROR(m_source.GetPartitionDate(&year, &month, &day));
    COPY_RETURN_IF_ERROR(readAttribute(&ImageStore::GetPartitionKind, &kind));
    COPY_RETURN_IF_ERROR(readAttribute(&ImageStore::GetPartitionAttributeA, &attributeA));

    COPY_RETURN_IF_ERROR(m_target.AddPartition(typeId, fileSystemType, sectorCount, driveLetter, t, 0));
    COPY_RETURN_IF_ERROR(m_target.SetPartitionPassword(q));
    const std::string comment =
        readStoreText(m_source, &ImageStore::GetPartitionComment, kPartitionCommentBufferSize);
    COPY_RETURN_IF_ERROR(m_target.SetNewPartitionName(name.c_str()));
    COPY_RETURN_IF_ERROR(m_target.SetNewPartitionComment(comment.c_str()));
    COPY_RETURN_IF_ERROR(m_target.SetPartitionDate(year, month, day));
    COPY_RETURN_IF_ERROR(m_target.SetPartitionKind(kind));
    COPY_RETURN_IF_ERROR(m_target.SetPartitionAttributeA(attributeA));
    uint32_t value = 0;
    COPY_RETURN_IF_ERROR(m_source.GetLastUsedBlock(&value));
    COPY_RETURN_IF_ERROR(m_target.SetLastUsedBlock(value));
    COPY_RETURN_IF_ERROR(m_source.GetPartitionAttributeB(&value));
    COPY_RETURN_IF_ERROR(m_target.SetPartitionAttributeB(value));
    COPY_RETURN_IF_ERROR(m_source.GetPartitionAttributeC(&value));
    COPY_RETURN_IF_ERROR(m_target.SetPartitionAttributeC(value));
    COPY_RETURN_IF_ERROR(m_source.GetPartitionAttributeD(&value));
    COPY_RETURN_IF_ERROR(m_target.SetPartitionAttributeD(value));

    uint32_t blockCount = 0, minimumBuffer = 0, usedBlocks = 0;
    COPY_RETURN_IF_ERROR(m_source.GetBlockCount(&blockCount));
    COPY_RETURN_IF_ERROR(m_source.GetMinimumBufferSize(&minimumBuffer));
    uint64_t bitmapBytes = (uint64_t{blockCount} + 7) / 8;
    if (storedForm && bitmapBytes != 0)
        bitmapBytes += kStoredBitmapHeaderRoom;
    uint64_t bufferSize = roundUpToTransferUnit(std::max<uint64_t>(bitmapBytes, minimumBuffer));
    if (bufferSize == 0)
        bufferSize = kTransferUnit;
    if (bufferSize > kMaxTransferBuffer)
        return rc::kImageDamaged;
    const auto s = static_cast<uint32_t>(bufferSize);
    std::vector<std::byte> buffer(s);
    COPY_RETURN_IF_ERROR(m_source.GetUsedBlockCount(&usedBlocks));

    uint32_t sectorsPerBlock = 0, bytes = 0, compression = t;
    if (storedForm) {
        COPY_RETURN_IF_ERROR(m_source.ReadBlockBitmapRaw(buffer.data(), s, &bytes, &compression));
        COPY_RETURN_IF_ERROR(m_source.GetSectorsPerBlock(&sectorsPerBlock));
        if (bytes > s)
            return rc::kBadStreamRead;
        COPY_RETURN_IF_ERROR(m_target.WriteBlockBitmapRaw(buffer.data(), bytes, sectorsPerBlock, blockCount,
                                                          usedBlocks, compression));
    } else {
        COPY_RETURN_IF_ERROR(m_source.ReadBlockBitmap(buffer.data(), s, &sectorsPerBlock, &bytes));
        if (bytes > s)
            return rc::kBadStreamRead;
        COPY_RETURN_IF_ERROR(
            m_target.WriteBlockBitmap(buffer.data(), bytes, sectorsPerBlock, blockCount, usedBlocks, t));
    }

    m_progress.setAction(translatedMessage("Copying partition %s ...", {name}));

    uint64_t estimate = 1;
    uint32_t got = 0;
    int result = 0;
    // Stores that can move the stored form between themselves do so without this buffer.
    bool direct = false;
    if (storedForm) {
        uint32_t low = 0, high = 0;
        COPY_RETURN_IF_ERROR(m_source.GetStoredSize(&low, &high, 0));
        result = m_target.CopyRawDataFrom(m_source, kDirectCopyStep, &got);
        direct = result != rc::kNotSupported;
        estimate = ((uint64_t{high} << 32) | low) / (direct ? kDirectCopyStep : s) + 1;
        if (!direct)
            result = m_source.ReadRawData(buffer.data(), s, &got, &compression);
    } else {
        uint32_t sectorSize = 0;
        COPY_RETURN_IF_ERROR(m_source.GetSectorSize(&sectorSize));
        estimate = uint64_t{usedBlocks} * sectorsPerBlock * sectorSize / s + 1;
        result = m_source.ReadData(buffer.data(), s, &got);
    }
    for (uint64_t chunk = 1; result == 0 && got != 0; ++chunk) {
        if (direct) {
            result = m_target.CopyRawDataFrom(m_source, kDirectCopyStep, &got);
        } else {
            if (got > s) {
                result = rc::kBadStreamRead;
                break;
            }
            uint32_t written = 0;
            result = storedForm ? m_target.WriteRawData(buffer.data(), got, &written, compression)
                                : m_target.WriteData(buffer.data(), got, &written);
            if (result != 0)
                break;
            // A chunk taken only in part would leave a hole in the partition: the medium is as full as when
            // nothing was taken.
            if (written != got) {
                result = rc::kWriteShort;
                break;
            }
            result = storedForm ? m_source.ReadRawData(buffer.data(), s, &got, &compression)
                                : m_source.ReadData(buffer.data(), s, &got);
        }
        m_progress.setPercent(
            static_cast<uint32_t>(std::min<uint64_t>(100, ((chunk - 1) * 100 + estimate - 1) / estimate)));
        if (m_progress.cancelled())
            result = rc::kCancelled;
    }
    if (result != 0)
        return result;
    return m_target.ReleasePartition(1);
}

} // namespace

CopyMode copyModeOf(CopyCommand command)
{
    switch (command) {
    case CopyCommand::Copy:
        return {true, false, false};
    case CopyCommand::Compress:
        return {true, true, false};
    case CopyCommand::Uncompress:
        return {true, false, true};
    case CopyCommand::Span:
    case CopyCommand::Combine:
        break;
    }
    return {false, false, false};
}

std::string copyDialogTitle(CopyCommand command)
{
    switch (command) {
    case CopyCommand::Copy:
        return Translate("Copy to Image File");
    case CopyCommand::Compress:
        return Translate("Compress to Image File");
    case CopyCommand::Uncompress:
        return Translate("Uncompress to Image File");
    case CopyCommand::Span:
        return Translate("Create spanned image");
    case CopyCommand::Combine:
        return Translate("Combine spanned image");
    }
    return {};
}

std::string ShowFileSize(uint64_t bytes)
{
    if (bytes == 0)
        bytes = kDefaultSplitSize;
    return platform::formatGroupedNumber(static_cast<int64_t>(std::min<uint64_t>(bytes, INT64_MAX)));
}

FileSizeCheck ValidateFileSize(const std::string &text, bool dirty)
{
    std::string digits = text;
    const std::string separator = thousandsSeparator();
    if (!separator.empty())
        for (size_t at = digits.find(separator); at != std::string::npos; at = digits.find(separator, at))
            digits.erase(at, separator.size());
    std::optional<int32_t> converted = toInt32(digits);

    FileSizeCheck check;
    check.ok = true;
    check.size = converted ? static_cast<uint32_t>(*converted) : kMaxSplitSize;
    if (!converted)
        check.ok = false;
    if (dirty || !converted) {
        if (check.size < kMinSplitSize) {
            check.size = kMinSplitSize;
            check.ok = false;
        } else if (check.size > kMaxSplitSize) {
            check.size = kMaxSplitSize;
            check.ok = false;
        }
    }
    if (!check.ok) {
        check.message = translatedMessage("Invalid File Size '%s'.  Value must be between %s and %s bytes.",
                                          {text, ShowFileSize(kMinSplitSize), ShowFileSize(kMaxSplitSize)});
        if (converted)
            check.correctedText = ShowFileSize(check.size);
    }
    return check;
}

std::optional<std::string> ValidatePasswords(const std::string &password, const std::string &confirm,
                                             bool dirty)
{
    if (!dirty)
        return std::nullopt;
    if (password.size() < kMinPasswordLength || confirm.size() < kMinPasswordLength)
        return translatedMessage("Password must be at least %d characters long.",
                                 {std::to_string(kMinPasswordLength)});
    if (password != confirm)
        return Translate("Password and Confirm Password do not match.");
    return std::nullopt;
}

bool checkCopyOptions(CopyOptionsState &state, uint32_t *splitSize, MessageSink &messages)
{
    if (state.password == PasswordChoice::New) {
        if (auto message = ValidatePasswords(state.newPassword, state.confirmPassword, state.passwordDirty)) {
            messages.showMessage(*message, MessageKind::Information);
            return false;
        }
        state.passwordDirty = false;
    }
    if (!state.splitImage) {
        *splitSize = kMaxSplitSize;
        return true;
    }
    FileSizeCheck check = ValidateFileSize(state.fileSizeText, state.fileSizeDirty);
    if (!check.ok) {
        messages.showMessage(check.message, MessageKind::Information);
        if (check.correctedText) {
            state.fileSizeText = *check.correctedText;
            state.fileSizeDirty = false;
        }
        return false;
    }
    state.fileSizeDirty = false;
    *splitSize = check.size;
    return true;
}

CopySource CopySource::allPartitions(ImageStore &store, const std::string &path)
{
    CopySource source;
    source.store = &store;
    source.path = path;
    source.itemCount = store.GetPartitionCount();
    for (uint32_t row = 0; row < source.itemCount; ++row)
        source.selectedRows.push_back(row);
    return source;
}

CopyOptionsState initialCopyOptions(ImageStore &source, uint32_t itemCount,
                                    const std::vector<uint32_t> &selectedRows, const std::string &targetPath,
                                    CopyCommand command)
{
    CopyOptionsState state;
    uint32_t password = 0;
    std::string name;
    if (!selectedRows.empty()) {
        // Only what the dialog starts with: a partition that cannot be selected starts with no name and no
        // password, and its transfer reports why it cannot be read.
        (void)source.SelectPartition(selectedRows.front() + 1, 0);
        (void)source.GetPartitionPassword(&password);
        name = readStoreText(source, &ImageStore::GetPartitionName, kPartitionNameBufferSize);
        (void)source.ReleasePartition(1);
    }
    const size_t selected = selectedRows.size();
    if (itemCount == 1 || selected != itemCount)
        state.partitionLabel = selected < 2 ? name : Translate("Selected Partitions");
    else
        state.partitionLabel = Translate("All Partitions");

    CopyMode mode = copyModeOf(command);
    state.compression = mode.defaultLow    ? CompressionChoice::Low
                        : mode.defaultNone ? CompressionChoice::None
                                           : CompressionChoice::NoChange;
    state.password = password != 0 || selected >= 2 ? PasswordChoice::Same : PasswordChoice::None;
    state.targetPath = targetPath;
    state.fileSizeText = ShowFileSize(0);
    state.fileSizeDirty = false;
    return state;
}

std::string numberedPartPath(const std::string &path, uint32_t number)
{
    std::string digits = std::to_string(number);
    while (digits.size() < 3)
        digits.insert(digits.begin(), '0');
    return replaceExtension(path, digits);
}

int CopyPartitions(const CopySource &source, const std::string &targetPath, CopyCommand command,
                   CopyQuestions &questions, CopyProgress &progress, IMGSTORE_UI_CALLBACK *media,
                   const ImageStoreExports &exports)
{
    questions.processEvents();
    if (isSameImage(targetPath, source.path)) {
        questions.showMessage(Translate("You cannot copy a partition to its own image file."),
                              MessageKind::Information);
        return rc::kCannotOpen;
    }
    if (source.store == nullptr || source.selectedRows.empty())
        return rc::kCancelled;
    for (uint32_t row : source.selectedRows)
        if (row >= source.itemCount)
            return rc::kBadPartitionNumber;

    const CopyMode mode = copyModeOf(command);
    if (mode.mayUseExistingTarget && platform::fileExists(targetPath) && canOpenForReading(targetPath)) {
        OpenedImageStore existing = OpenImageStore(targetPath, 0, media, exports);
        if (!existing.store || existing.readOnly || existing.error != 0) {
            int result = existing.error;
            std::string first;
            if (existing.error == rc::kNewerVersion) {
                first = translatedMessage("The image file '%s' was created with a newer version of Imbrex.",
                                          {targetPath});
            } else if (existing.readOnly) {
                first = notWritableMessage(targetPath, existing.writeError);
                result = existing.writeError == rc::kImageLocked ? rc::kImageLocked : rc::kTargetReadOnly;
            } else {
                first = openFailureText(targetPath);
                if (result == 0)
                    result = rc::kCannotOpen;
            }
            questions.showMessage(notAllowedMessage(first), MessageKind::Information);
            if (existing.store)
                (void)existing.store->Close(); // nothing was changed: there is nothing a close could lose
            return result;
        }
        // A copy would build on the older state a damaged image shows and give up its newest one.
        if (std::string damage = damagedImageMessage(*existing.store, targetPath); !damage.empty()) {
            questions.showMessage(notAllowedMessage(damage), MessageKind::Information);
            (void)existing.store->Close(); // nothing was changed: there is nothing a close could lose
            return rc::kDamagedImageNotAccepted;
        }
    }

    CopyOptionsState options =
        initialCopyOptions(*source.store, source.itemCount, source.selectedRows, targetPath, command);
    uint32_t splitSize = kMaxSplitSize;
    for (;;) {
        if (!questions.askOptions(options))
            return rc::kCancelled;
        if (checkCopyOptions(options, &splitSize, questions))
            break;
    }
    questions.processEvents();

    // Open the target. A new image made over a file of the same name replaces it at once, so that file is
    // kept aside until the run has succeeded.
    const bool existedBefore = platform::fileExists(targetPath);
    bool created = false;
    ReplacedSetBackup backup;
    ImageStorePtr target;
    int error = 0;
    bool readOnly = false;
    int writeError = 0;
    if (mode.mayUseExistingTarget) {
        OpenedImageStore opened = OpenImageStore(targetPath, splitSize, media, exports);
        target = std::move(opened.store);
        error = opened.error;
        readOnly = opened.readOnly;
        writeError = opened.writeError;
        created = !existedBefore;
    } else {
        if (existedBefore)
            backup.keep(targetPath);
        uint32_t createError = 0;
        target.reset(exports.createNew(targetPath.c_str(), splitSize, 0, 0, media, &createError));
        error = static_cast<int>(createError);
        created = true;
    }
    if (!target || error != 0 || readOnly) {
        std::string text;
        if (error == rc::kMediaFull) {
            text = translatedMessage("Error %d creating file %s", {std::to_string(error), targetPath}) +
                   "\n\n" + Translate("The media is full.");
        } else if (readOnly) {
            text = notAllowedMessage(notWritableMessage(targetPath, writeError));
            error = writeError == rc::kImageLocked ? rc::kImageLocked : rc::kTargetReadOnly;
        } else {
            text = notAllowedMessage(openFailureText(targetPath));
        }
        if (error == 0)
            error = rc::kCannotOpen;
        questions.showMessage(text, MessageKind::Information);
        target.reset();
        return error;
    }

    const auto steps = static_cast<uint32_t>(source.selectedRows.size());
    progress.begin(steps);
    int result = 0;
    bool reported = false;
    (void)target->ResetPartitionSelection(0); // fails only on an unusable store, whose first transfer fails
    const uint32_t countBefore = target->GetPartitionCount();
    CopyRun run(*source.store, *target, options, questions, progress);
    uint32_t step = 0;
    for (uint32_t row : source.selectedRows) {
        try {
            result = run.transfer(row, ++step);
        } catch (const std::exception &) {
            // Out of memory for the transfer buffer, or another failure no store code describes.
            questions.showMessage(openFailureText(targetPath), MessageKind::Error);
            result = rc::kCannotOpen;
            reported = true;
        }
        if (result != 0)
            break;
    }
    // Undoing a copy that already failed: its error is the one reported below.
    if (result != 0 && result != rc::kWriteShort)
        (void)target->DeleteCurrentPartition();
    // An image that was there before gets back exactly the partitions it had.
    if (result != 0 && !created) {
        (void)target->ReleasePartition(1);
        for (uint32_t number = target->GetPartitionCount(); number > countBefore; --number)
            if (target->SelectPartition(number, 0) == 0)
                (void)target->DeleteCurrentPartition();
    }
    const int closeError = target->Close();
    uint32_t spanCount = kSpanCountUnset;
    const void *records = nullptr;
    (void)target->GetSpanTable(&spanCount, &records); // a failure leaves kSpanCountUnset: only the file goes
    if (result == 0)
        result = closeError;
    target.reset();

    if (result != 0 && result != rc::kCancelled && !reported) {
        questions.showMessage(translatedMessage("Error %d occurred while copying the partition to file '%s'. "
                                                "The disk may be out of space.",
                                                {std::to_string(result), targetPath}),
                              MessageKind::Error);
        result = rc::kCancelled;
    }
    if (result != 0 && created) {
        removeCreatedTarget(targetPath, spanCount);
        backup.restore();
    }
    progress.end();
    return result;
}

} // namespace imbrex::store
