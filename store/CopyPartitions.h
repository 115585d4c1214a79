// Copying partitions of the open image into another image file: Copy, Compress and Uncompress into a new or
// an existing image, Span and Combine into a new one. The options dialog, the password prompt, the messages
// and the progress window are reached through the interfaces below, so that the windows and zbitool only
// answer them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "OpenImageStore.h"
#include "Prompts.h"
#include "imgstore/ImageStore.h"

namespace imbrex::store {

enum class CopyCommand
{
    Copy,
    Compress,
    Uncompress,
    Span,
    Combine,
};

// What a command lets the copy do: write into an image that exists already, and which compression the
// options start with.
struct CopyMode
{
    bool mayUseExistingTarget = false;
    bool defaultLow = false;
    bool defaultNone = false;
};
CopyMode copyModeOf(CopyCommand command);
// The title of the save dialog that asks for the target, translated.
std::string copyDialogTitle(CopyCommand command);

enum class CompressionChoice
{
    NoChange,
    None,
    Low,
    High,
};

enum class PasswordChoice
{
    Same,
    None,
    New,
};

inline constexpr uint32_t kCopyLowCompression = 301;
inline constexpr uint32_t kCopyHighCompression = 208;
inline constexpr uint32_t kMinSplitSize = 10'000'000;
inline constexpr uint32_t kMaxSplitSize = 2'147'483'647;
inline constexpr uint32_t kDefaultSplitSize = 670'000'000;
inline constexpr int kMinPasswordLength = 4;
inline constexpr size_t kVerifiedPasswordPlaces = 12;

// The controls of the options dialog. The copy fills them before the dialog is first shown; the dialog lets
// the person change them (setting the dirty flags as the person types or ticks the split box) and hands them
// back. A check that fails shows the dialog again with everything as the person left it.
struct CopyOptionsState
{
    std::string partitionLabel; // the partition's name, "Selected Partitions" or "All Partitions"
    std::string targetPath;
    CompressionChoice compression = CompressionChoice::NoChange;
    PasswordChoice password = PasswordChoice::None;
    std::string newPassword;
    std::string confirmPassword;
    bool passwordDirty = false;
    bool splitImage = false;
    std::string fileSizeText;
    bool fileSizeDirty = false;
};

// The split size field's text for bytes (670,000,000 for 0), with the locale's digit grouping.
std::string ShowFileSize(uint64_t bytes);

struct FileSizeCheck
{
    bool ok = false;
    // The size to use: the value typed, or the corrected one after a failure.
    uint32_t size = 0;
    // The message on failure (translated and filled).
    std::string message;
    // On failure with a number typed: the corrected text to put into the field.
    std::optional<std::string> correctedText;
};

// The check of the split size field. With the dirty flag set (the person changed the field or ticked the
// box), a value below 10,000,000 becomes 10,000,000 and one above 2,147,483,647 (a negative number) becomes
// 2,147,483,647, both as failures; text that is no number fails with the size 2,147,483,647 and is left as
// typed. With the flag clear, a number is taken as it is.
FileSizeCheck ValidateFileSize(const std::string &text, bool dirty);

// The check of the two password fields when the password dirty flag is set: nullopt when they pass, else the
// message. With the flag clear they pass unseen.
std::optional<std::string> ValidatePasswords(const std::string &password, const std::string &confirm,
                                             bool dirty);

// Runs the checks on the dialog's state the way the OK button does: shows the message of a failed check,
// writes a corrected size back, clears a dirty flag that passed. True when the options can be used.
bool checkCopyOptions(CopyOptionsState &state, uint32_t *splitSize, MessageSink &messages);

class CopyQuestions : public PasswordQuestions
{
public:
    // Lets the windows repaint and notice a Cancel press; nothing to do on a terminal.
    virtual void processEvents() {}
    // Shows the options dialog with state; false when the person cancelled or closed it.
    virtual bool askOptions(CopyOptionsState &state) = 0;
};

// The progress window of a copy: one step per partition, a percentage within the step, and Cancel.
class CopyProgress
{
public:
    virtual ~CopyProgress() = default;
    virtual void begin(uint32_t steps) { (void)steps; }
    virtual void setStep(uint32_t step) { (void)step; }
    virtual void setAction(const std::string &text) { (void)text; }
    virtual void setPercent(uint32_t percent) { (void)percent; }
    // True once the person pressed Cancel.
    virtual bool cancelled() { return false; }
    virtual void end() {}
};

// The open image and the rows of its partitions list that are selected (row i is partition i + 1), in list
// order.
struct CopySource
{
    ImageStore *store = nullptr;
    std::string path;
    uint32_t itemCount = 0;
    std::vector<uint32_t> selectedRows;

    // Every partition of the image selected, as Span and Combine copy them.
    static CopySource allPartitions(ImageStore &store, const std::string &path);
};

// The options the dialog starts with for this source, target and command: the label, the compression of the
// command, the password choice of the first selected partition, the default split size.
CopyOptionsState initialCopyOptions(ImageStore &source, uint32_t itemCount,
                                    const std::vector<uint32_t> &selectedRows, const std::string &targetPath,
                                    CopyCommand command);

// Copies the selected partitions into the image at targetPath. 0 when every one was copied (the caller then
// opens the target); 7 when the person cancelled or the failure was reported already; 1803, 1810, 1817, 1818
// or a store code when the target could not be used, after its message was shown. On failure or cancel the
// source is unchanged, an image that existed before holds what it held, and a target the copy made is
// removed with its numbered parts.
int CopyPartitions(const CopySource &source, const std::string &targetPath, CopyCommand command,
                   CopyQuestions &questions, CopyProgress &progress, IMGSTORE_UI_CALLBACK *media,
                   const ImageStoreExports &exports = libraryExports());

// The further files of an image set at path: path with the text after the last "." of its file name replaced
// by number as three digits ("." and the digits appended when the name has no "."). The store names its
// parts so.
std::string numberedPartPath(const std::string &path, uint32_t number);

} // namespace imbrex::store
