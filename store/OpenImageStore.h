// Opening an image file through the image store library: a missing file is created, a file with the read-only
// attribute is opened for reading only, and a file that cannot be opened for writing is tried again for
// reading.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "imgstore/zbimgstr.h"

namespace imbrex::store {

// The three exports that open or create a store. The program uses the library's own (libraryExports()); tests
// substitute theirs to make every outcome happen.
struct ImageStoreExports
{
    std::function<ImageStore *(const char *path, uint32_t splitSize, uint32_t reserved,
                               IMGSTORE_UI_CALLBACK *callback, uint32_t *error)>
        open;
    std::function<ImageStore *(const char *path, IMGSTORE_UI_CALLBACK *callback, uint32_t *error)>
        openReadOnly;
    std::function<ImageStore *(const char *path, uint32_t splitSize, uint32_t reserved1, uint32_t reserved2,
                               IMGSTORE_UI_CALLBACK *callback, uint32_t *error)>
        createNew;
};

const ImageStoreExports &libraryExports();

struct OpenedImageStore
{
    ImageStorePtr store;   // none when every attempt failed
    int error = 0;         // the error of the last export called
    bool readOnly = false; // true when the store came from the read-only open
    // Why the writable open failed when the store came from the read-only one (0 when it was not tried): a
    // change must name this reason (another program's lock, 1903), not merely "read-only".
    int writeError = 0;
};

// splitSize is the largest size of one file of the set, handed to the library (kNoSplit: one file).
OpenedImageStore OpenImageStore(const std::string &path, uint32_t splitSize, IMGSTORE_UI_CALLBACK *callback,
                                const ImageStoreExports &exports);

inline OpenedImageStore OpenImageStore(const std::string &path, uint32_t splitSize,
                                       IMGSTORE_UI_CALLBACK *callback)
{
    return OpenImageStore(path, splitSize, callback, libraryExports());
}

} // namespace imbrex::store
