#include "ImageModel.h"

#include <string_view>

#include "MessageText.h"
#include "PartitionRow.h"
#include "StoreText.h"
#include "common/ResultCodes.h"
#include "platform/File.h"
#include "translate/Translate.h"

namespace imbrex::store {

namespace {

// Replaces the first placeholder of a translated text with value; a text without it is left as it is.
std::string fillPlaceholder(std::string text, std::string_view placeholder, std::string_view value)
{
    size_t at = text.find(placeholder);
    if (at != std::string::npos)
        text.replace(at, placeholder.size(), value);
    return text;
}

} // namespace

void readImageModel(ImageStore &store, ImageModel &model)
{
    uint32_t count = store.GetPartitionCount();
    for (uint64_t number = 1; number <= count; ++number) {
        auto n = static_cast<uint32_t>(number);
        if (store.SelectPartition(n, 0) == rc::kSpanned)
            model.spannedPartitions.push_back(n);
        else
            (void)store.ReleasePartition(1); // only looked at
    }
    (void)store.ResetPartitionSelection(0); // the rows below select each partition themselves

    model.name = readStoreText(store, &ImageStore::GetImageName, kImageNameBufferSize);
    model.comment = readStoreText(store, &ImageStore::GetImageComment, kImageCommentBufferSize);

    // The store is asked for the count again rather than trusting the first pass's.
    count = store.GetPartitionCount();
    for (uint64_t number = 1; number <= count; ++number)
        model.rows.push_back(buildPartitionRow(store, static_cast<uint32_t>(number)));
}

ImageModel loadImageModel(const std::string &path, IMGSTORE_UI_CALLBACK *callback,
                          const ImageStoreExports &exports, MissingImage missing)
{
    ImageModel model;
    if (missing == MissingImage::Fail && !platform::fileExists(path)) {
        model.error = rc::kNotFound;
        return model;
    }
    OpenedImageStore opened = OpenImageStore(path, kNoSplit, callback, exports);
    model.error = opened.error;
    model.readOnly = opened.readOnly;
    model.store = std::move(opened.store);
    if (model.store)
        readImageModel(*model.store, model);
    return model;
}

std::string openFailureMessage(const std::string &path, int error)
{
    if (error == rc::kNewerVersion)
        return fillPlaceholder(Translate("The image file '%s' was created with a newer version of Imbrex."),
                               "%s", path) +
               "\n\n" +
               Translate(
                   "We recommend upgrading to the latest version to ensure full compatibility with this "
                   "image file.");
    return fillPlaceholder(
        Translate("An error occurred while trying to open the file '%s'. Either it is not a "
                  "Korvane Image file, it's corrupted, or the disk is not in the drive."),
        "%s", path);
}

std::string openFailureReason(int error)
{
    return translatedMessage("Error %d: %s.", {std::to_string(error), Translate(rc::describe(error))});
}

std::string notWritableMessage(const std::string &path, int writeError)
{
    if (writeError == rc::kImageLocked)
        return translatedMessage("'%s' is in use by another program.", {path});
    return translatedMessage("'%s' is read-only.", {path});
}

std::string damagedImageMessage(ImageStore &store, const std::string &path)
{
    uint32_t damaged = 0;
    uint64_t shown = 0;
    uint64_t newest = 0;
    if (store.GetDamage(&damaged, &shown, &newest) != 0 || damaged == 0)
        return {};
    if (newest == 0)
        return translatedMessage("The image file '%s' is damaged: its newest state cannot be read. It shows "
                                 "state %s, which may be older.",
                                 {path, std::to_string(shown)});
    return translatedMessage("The image file '%s' is damaged: its newest state (%s) cannot be read. It shows "
                             "the older state %s.",
                             {path, std::to_string(newest), std::to_string(shown)});
}

std::string spannedImageMessage(const std::string &path)
{
    return fillPlaceholder(Translate("The image file '%s' is spanned across multiple media. This version of "
                                     "Imbrex File Editor does not support spanned image files."),
                           "%s", path);
}

std::string closeErrorMessage(int error, const std::string &path)
{
    std::string text = fillPlaceholder(Translate("Error %d closing file %s"), "%d", std::to_string(error));
    return fillPlaceholder(std::move(text), "%s", path);
}

} // namespace imbrex::store
