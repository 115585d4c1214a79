// The questions the core asks a person while it works on images: message boxes, the partition password, and
// the texts of the media prompts the image store asks through its callback. Windows and the command-line tool
// answer them; the logic around the answers lives here so that both behave alike.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace imbrex::store {

enum class MessageKind
{
    Information,
    Warning,
    Error,
    Confirmation,
};

// A message box with the caption "Imbrex" and an OK button. Texts are translated and filled already.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const std::string &text, MessageKind kind) = 0;
};

class PasswordQuestions : public MessageSink
{
public:
    // Shows the password dialog for the partition; the typed text, or nullopt when the person cancelled.
    virtual std::optional<std::string> askPassword(const std::string &partitionName) = 0;
};

inline constexpr const char *kWrongPasswordText = "Password entered is not valid for this partition.";

// 0 when the partition may be read: its stored value is 0, or a typed password converts to it. A wrong
// password is answered with a message and another attempt, as often as the person tries; 7 when the person
// cancels.
int AskPartitionPassword(uint32_t storedValue, const std::string &partitionName,
                         PasswordQuestions &questions);

// The questions of the image store's callback, in the order of its operations.
enum class MediaPrompt
{
    NewMediaForFile,
    ReinsertFirstMedia,
    FirstMedia,
    LastMedia,
    NextMedia,
    MediaWithFile,
    NewNumberedMedia,
    NumberedMedia,
    MediaFull,
    MediaNotReady,
    WrongMedia,
    MediaHasSetFiles,
    ConfirmDeleteMediaFiles,
    ConfirmReplaceFile,
};

// How the answer is given: OK/Cancel for the prompts, OK alone for the reports, Yes/No for the confirmations.
enum class MediaButtons
{
    OkCancel,
    Ok,
    YesNo,
};
MediaButtons mediaPromptButtons(MediaPrompt prompt);

// Finds the mount point of a local path's file system; tests install their own.
using MountPointFinder = std::function<std::string(const std::string &path)>;

// The drive a file lies on, as the prompts name it: "X:" for "X:\..." or "X:/...", "\\server\share" for a
// network path, and for any other path the mount point of its file system. Empty when none can be found; at
// most 99 characters.
std::string mediaDriveText(const std::string &file, const MountPointFinder &mountPointOf = {});

// The mount point of the file system holding path: the longest mount point of the running system that
// contains the path's absolute form. Empty when it cannot be told.
std::string systemMountPointOf(const std::string &path);

// The text of a prompt, each part translated before the parts are joined and the placeholders filled: file is
// the name the store passed, number the media number where the prompt has one.
std::string mediaPromptText(MediaPrompt prompt, const std::string &file = {}, int number = 0,
                            const MountPointFinder &mountPointOf = {});

} // namespace imbrex::store
