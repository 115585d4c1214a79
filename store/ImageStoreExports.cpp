// The library's exports, in a file of their own so that code driving OpenImageStore with other exports links
// without the library.
#include "OpenImageStore.h"

namespace imbrex::store {

const ImageStoreExports &libraryExports()
{
    static const ImageStoreExports exports{ImageStoreOpen, ImageStoreOpenReadOnly, ImageStoreCreateNew};
    return exports;
}

} // namespace imbrex::store
