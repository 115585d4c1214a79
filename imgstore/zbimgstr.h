// The four exports of the image store library.
#pragma once

#include <cstdint>
#include <memory>

#include "IMGSTORE_UI_CALLBACK.h"
#include "ImageStore.h"

// The split size that means "one file, no split".
inline constexpr uint32_t kNoSplit = 0x7fffffff;

// Opens an existing image for reading and writing; it keeps the split size it was made with, whatever
// splitSize says. Returns nullptr with *error set on failure (1818: made by a newer version).
ImageStore *ImageStoreOpen(const char *path, uint32_t splitSize, uint32_t reserved,
                           IMGSTORE_UI_CALLBACK *callback, uint32_t *error);

// Opens an existing image that will only be read. Takes no lock, so it works while a writer holds the image;
// every read is checked, so a change underneath shows as an error, never as wrong data.
ImageStore *ImageStoreOpenReadOnly(const char *path, IMGSTORE_UI_CALLBACK *callback, uint32_t *error);

// Creates a new, empty image at path, replacing a file of that name. The replacement is atomic: until the
// new image is complete, the old file stays as it was. splitSize is the largest size of one file of the set:
// 0 or kNoSplit for a single file, otherwise at least 10,000,000 bytes.
ImageStore *ImageStoreCreateNew(const char *path, uint32_t splitSize, uint32_t reserved1, uint32_t reserved2,
                                IMGSTORE_UI_CALLBACK *callback, uint32_t *error);

// The 32-bit value of a typed password; 0 only for the empty text (no password).
uint32_t ConvertPasswordString(const char *text);

// Owning handle for our own callers: destroys the store through its Destroy operation.
struct ImageStoreDeleter
{
    void operator()(ImageStore *store) const
    {
        if (store)
            store->Destroy();
    }
};
using ImageStorePtr = std::unique_ptr<ImageStore, ImageStoreDeleter>;
