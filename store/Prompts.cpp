#include "Prompts.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "MessageText.h"
#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "translate/Translate.h"

namespace imbrex::store {

namespace {

constexpr size_t kMaxDriveText = 99;

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Mount points in /proc/self/mounts write blanks and backslashes as octal escapes ("\040").
std::string unescapeMountField(const std::string &field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
            int value = 0;
            bool ok = true;
            for (size_t k = 1; k <= 3; ++k) {
                char d = field[i + k];
                if (d < '0' || d > '7') {
                    ok = false;
                    break;
                }
                value = value * 8 + (d - '0');
            }
            if (ok) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

bool containsPath(const std::string &mount, const std::string &path)
{
    if (mount == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, mount.size(), mount) == 0 &&
           (path.size() == mount.size() || path[mount.size()] == '/');
}

} // namespace

int AskPartitionPassword(uint32_t storedValue, const std::string &partitionName, PasswordQuestions &questions)
{
    if (storedValue == 0)
        return rc::kOk;
    for (;;) {
        std::optional<std::string> typed = questions.askPassword(partitionName);
        if (!typed)
            return rc::kCancelled;
        if (ConvertPasswordString(typed->c_str()) == storedValue)
            return rc::kOk;
        questions.showMessage(Translate(kWrongPasswordText), MessageKind::Information);
    }
}

MediaButtons mediaPromptButtons(MediaPrompt prompt)
{
    switch (prompt) {
    case MediaPrompt::MediaFull:
    case MediaPrompt::MediaNotReady:
    case MediaPrompt::WrongMedia:
    case MediaPrompt::MediaHasSetFiles:
        return MediaButtons::Ok;
    case MediaPrompt::ConfirmDeleteMediaFiles:
    case MediaPrompt::ConfirmReplaceFile:
        return MediaButtons::YesNo;
    default:
        return MediaButtons::OkCancel;
    }
}

std::string systemMountPointOf(const std::string &path)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return {};
    // The file may not exist yet (a part being created): its directory decides.
    std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    std::string target = (error ? absolute : resolved).lexically_normal().string();

    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    std::string best;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint))
            continue;
        mountPoint = unescapeMountField(mountPoint);
        if (containsPath(mountPoint, target) && mountPoint.size() > best.size())
            best = mountPoint;
    }
    return best;
}

std::string mediaDriveText(const std::string &file, const MountPointFinder &mountPointOf)
{
    std::string drive;
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (file.size() >= 2 && isLetter(file[0]) && file[1] == ':') {
        drive = file.substr(0, 2);
    } else if (file.size() >= 2 && isSeparator(file[0]) && isSeparator(file[1])) {
        // \\server\share: the two names after the leading separators, with the separator between them.
        size_t server = 2;
        size_t serverEnd = server;
        while (serverEnd < file.size() && !isSeparator(file[serverEnd]))
            ++serverEnd;
        if (serverEnd > server && serverEnd < file.size()) {
            size_t shareEnd = serverEnd + 1;
            while (shareEnd < file.size() && !isSeparator(file[shareEnd]))
                ++shareEnd;
            if (shareEnd > serverEnd + 1)
                drive = file.substr(0, shareEnd);
        }
    } else if (!file.empty()) {
        drive = mountPointOf ? mountPointOf(file) : systemMountPointOf(file);
    }
    if (drive.size() > kMaxDriveText)
        drive.resize(kMaxDriveText);
    return drive;
}

std::string mediaPromptText(MediaPrompt prompt, const std::string &file, int number,
                            const MountPointFinder &mountPointOf)
{
    auto fill = [&](std::vector<std::string_view> parts, bool hasNumber, bool hasFile, bool hasDrive) {
        std::string text;
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i != 0)
                text += "\n\n";
            text += Translate(parts[i]);
        }
        // Placeholders are filled in the order they appear: the number, the file, the drive. Text that was
        // put in is not searched again, so a file name holding "%s" stays as it is.
        std::vector<std::string> values;
        if (hasNumber)
            values.push_back(std::to_string(number));
        if (hasFile)
            values.push_back(file);
        if (hasDrive)
            values.push_back(mediaDriveText(file, mountPointOf));
        text = fillPlaceholders(text, values);
        return text;
    };
    switch (prompt) {
    case MediaPrompt::NewMediaForFile:
        return fill({"File %s is being created.", "Insert a new media into drive %s."}, false, true, true);
    case MediaPrompt::ReinsertFirstMedia:
        return fill({"File %s needs to be updated.", "Reinsert first media of the image set into drive %s."},
                    false, true, true);
    case MediaPrompt::FirstMedia:
        return fill({"File %s needs to be opened.", "Insert the first media of the image set into drive %s."},
                    false, true, true);
    case MediaPrompt::LastMedia:
        return fill({"File %s needs to be opened.", "Insert the last media of the image set into drive %s."},
                    false, true, true);
    case MediaPrompt::NextMedia:
        return fill({"File %s needs to be opened.", "Insert the next media in drive %s."}, false, true, true);
    case MediaPrompt::MediaWithFile:
        return fill({"Insert the media containing file %s into drive %s."}, false, true, true);
    case MediaPrompt::NewNumberedMedia:
        return fill({"Insert a new media %i for file %s into drive %s."}, true, true, true);
    case MediaPrompt::NumberedMedia:
        return fill({"Insert media %i containing file %s into drive %s."}, true, true, true);
    case MediaPrompt::MediaFull:
        return fill({"The media is full."}, false, false, false);
    case MediaPrompt::MediaNotReady:
        return fill({"The media is not ready.",
                     "Make sure the media is inserted in the drive, and is formatted and writable."},
                    false, false, false);
    case MediaPrompt::WrongMedia:
        return fill({"The media does not contain the correct file."}, false, false, false);
    case MediaPrompt::MediaHasSetFiles:
        return fill({"The media already contains files from this image set."}, false, false, false);
    case MediaPrompt::ConfirmDeleteMediaFiles:
        return fill({"The media contains files.", "Is it ok to delete the files?"}, false, false, false);
    case MediaPrompt::ConfirmReplaceFile:
        return fill({"File %s already exists.", "Do you want to replace it?",
                     "WARNING: Existing data in file will be lost."},
                    false, true, false);
    }
    return {};
}

} // namespace imbrex::store
