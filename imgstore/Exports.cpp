#include "ZbiImageStore.h"
#include "common/ResultCodes.h"
#include "zbimgstr.h"

namespace {

bool splitSizeSupported(uint32_t splitSize)
{
    // Splitting a set over several files is not built yet: only a single file is offered.
    return splitSize == 0 || splitSize >= kNoSplit;
}

ImageStore *finish(int e, std::unique_ptr<imbrex::zbi::ZbiImageStore> store, uint32_t *error)
{
    if (error)
        *error = static_cast<uint32_t>(e);
    return e == 0 ? store.release() : nullptr;
}

} // namespace

ImageStore *ImageStoreOpen(const char *path, uint32_t splitSize, uint32_t, IMGSTORE_UI_CALLBACK *callback,
                           uint32_t *error)
{
    std::unique_ptr<imbrex::zbi::ZbiImageStore> store;
    int e = !path                            ? imbrex::rc::kInvalidArgument
            : !splitSizeSupported(splitSize) ? imbrex::rc::kInvalidArgument
                                             : imbrex::zbi::ZbiImageStore::open(path, true, callback, &store);
    return finish(e, std::move(store), error);
}

ImageStore *ImageStoreOpenReadOnly(const char *path, IMGSTORE_UI_CALLBACK *callback, uint32_t *error)
{
    std::unique_ptr<imbrex::zbi::ZbiImageStore> store;
    int e = !path ? imbrex::rc::kInvalidArgument
                  : imbrex::zbi::ZbiImageStore::open(path, false, callback, &store);
    return finish(e, std::move(store), error);
}

ImageStore *ImageStoreCreateNew(const char *path, uint32_t splitSize, uint32_t, uint32_t,
                                IMGSTORE_UI_CALLBACK *callback, uint32_t *error)
{
    std::unique_ptr<imbrex::zbi::ZbiImageStore> store;
    int e = !path                            ? imbrex::rc::kInvalidArgument
            : !splitSizeSupported(splitSize) ? imbrex::rc::kInvalidArgument
                                             : imbrex::zbi::ZbiImageStore::create(path, callback, &store);
    return finish(e, std::move(store), error);
}

// FNV-1a over the bytes of the text, 32 bits. The empty text is 0 (no password); a text whose hash happens to
// be 0 gets 1 instead, so that it still counts as a password.
uint32_t ConvertPasswordString(const char *text)
{
    if (!text || !*text)
        return 0;
    uint32_t hash = 2166136261u;
    for (const char *p = text; *p; ++p) {
        hash ^= static_cast<unsigned char>(*p);
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}
