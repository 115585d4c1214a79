// Loading an image file into what the main window shows of it: the store, one row per partition, the image's
// name and comment. The window shows the messages; this code only reports what they are about.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OpenImageStore.h"

namespace imbrex::store {

inline constexpr uint32_t kImageNameBufferSize = 100;
inline constexpr uint32_t kImageCommentBufferSize = 400;

struct ImageModel
{
    ImageStorePtr store;   // none when the image could not be opened
    int error = 0;         // the open's error code
    bool readOnly = false; // the image came from the read-only open
    std::string name;
    std::string comment;
    std::vector<std::string> rows;           // row i describes partition i + 1
    std::vector<uint32_t> spannedPartitions; // partitions whose selection reported 1812, in order
};

// What opening a path where no file exists does: make a new empty image there (opening a new image), or fail
// with kNotFound (showing again an image that was open, which must not turn into an empty one when its file
// has gone).
enum class MissingImage
{
    Create,
    Fail,
};

// Opens path with split size kNoSplit, notes every partition that reports being spanned when selected, resets
// the selection, reads the image name and comment, and builds the row of every partition. Every selection is
// released again, except one that reported being spanned.
ImageModel loadImageModel(const std::string &path, IMGSTORE_UI_CALLBACK *callback,
                          const ImageStoreExports &exports, MissingImage missing = MissingImage::Create);

inline ImageModel loadImageModel(const std::string &path, IMGSTORE_UI_CALLBACK *callback)
{
    return loadImageModel(path, callback, libraryExports());
}

// The passes over an open store that loadImageModel makes after opening it.
void readImageModel(ImageStore &store, ImageModel &model);

// The message for an image that could not be opened: the newer-version text for 1818, the generic one
// otherwise. Translated, then filled with path.
std::string openFailureMessage(const std::string &path, int error);

// The line shown under that message: the store's reason for error with its number ("Error 1901: the image
// file's catalog is damaged (checksum mismatch)."), so that a person can tell a damaged image from a missing
// or foreign one. Translated.
std::string openFailureReason(int error);

// The first line of the message for a change refused because the image came from the read-only open: in use
// by another program when the writable open met another writer's lock (writeError 1903), read-only otherwise.
// Translated, then filled with path.
std::string notWritableMessage(const std::string &path, int writeError);

// The message for an image whose newest state could not be read (ImageStore::GetDamage): which state it
// shows. Empty when the store reports no damage.
std::string damagedImageMessage(ImageStore &store, const std::string &path);

// The message shown once for each partition in spannedPartitions.
std::string spannedImageMessage(const std::string &path);

// The message for a failed Close of the previous image.
std::string closeErrorMessage(int error, const std::string &path);

} // namespace imbrex::store
