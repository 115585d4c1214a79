#include "OpenImageStore.h"

#include "platform/File.h"

namespace imbrex::store {

OpenedImageStore OpenImageStore(const std::string &path, uint32_t splitSize, IMGSTORE_UI_CALLBACK *callback,
                                const ImageStoreExports &exports)
{
    OpenedImageStore result;
    uint32_t error = 0;

    if (!platform::fileExists(path)) {
        result.store.reset(exports.createNew(path.c_str(), splitSize, 0, 0, callback, &error));
        result.error = static_cast<int>(error);
        return result;
    }

    if (!platform::isReadOnlyFile(path)) {
        result.store.reset(exports.open(path.c_str(), splitSize, 0, callback, &error));
        result.error = static_cast<int>(error);
        result.writeError = result.error;
    } else {
        result.writeError = platform::kErrorAccessDenied;
    }
    if (!result.store) {
        error = 0;
        result.store.reset(exports.openReadOnly(path.c_str(), callback, &error));
        result.error = static_cast<int>(error);
        result.readOnly = result.store != nullptr;
    }
    return result;
}

} // namespace imbrex::store
