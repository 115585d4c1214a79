#include "IndexCallbacks.h"

#include <cmath>

#include "common/ResultCodes.h"

namespace imbrex::index {

int extendIndexPercent(uint32_t start, uint32_t target, uint32_t current)
{
    double span = target == start ? 1.0 : static_cast<double>(target) - static_cast<double>(start);
    double percent = std::ceil(100.0 * (static_cast<double>(current) - static_cast<double>(start)) / span);
    if (!(percent > 0.0))
        return 0;
    return percent > 100.0 ? 100 : static_cast<int>(percent);
}

int ProgressIndexReporter::ExtendIndexProgress(uint32_t start, uint32_t target, uint32_t current)
{
    if (!m_open) {
        m_open = true;
        m_progress.setAction(kExtendingIndexText);
    }
    auto percent = static_cast<uint64_t>(extendIndexPercent(start, target, current));
    return m_progress.update(percent, 100) ? rc::kOk : rc::kDialogCancelled;
}

std::string indexFileMessage(int code, const std::string &path)
{
    switch (code) {
    case rc::kNoIndexFile:
        return path.empty() ? "No image index file has been associated with this image."
                            : "The image index file was not found.";
    case rc::kCannotOpen:
        return "Error opening the image index file.";
    case rc::kReadShort:
        return "Error reading the image index file.";
    case rc::kWriteShort:
    case rc::kMediaFull:
        return "Error writing the image index file.";
    case rc::kNewerVersion:
        return "The image index file was created with a newer version of Imbrex File Editor.";
    case rc::kInvalidIndexFile:
        return "The file is not a valid image index file.";
    case rc::kIndexMismatch:
        return "The image index file does not match this image file.";
    case rc::kNoIndexForPartition:
        return "The image index file does not contain an index for this partition.";
    case rc::kIndexExists:
        return "The image index already exists in this file.";
    default:
        return {};
    }
}

} // namespace imbrex::index
