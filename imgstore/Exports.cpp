#include "Keyring.h"
#include "ZbiImageStore.h"
#include "common/ResultCodes.h"
#include "zbimgstr.h"

namespace {

// 0 and kNoSplit mean a single file; an existing image keeps the layout it was made with.
bool splitSizeValid(uint32_t splitSize)
{
    return splitSize == 0 || splitSize >= imbrex::zbi::kMinSplitSize;
}

ImageStore *finish(int e, std::unique_ptr<imbrex::zbi::ZbiImageStore> store, uint32_t *error)
{
    if (error)
        *error = static_cast<uint32_t>(e);
    return e == 0 ? store.release() : nullptr;
}

} // namespace

ImageStore *ImageStoreOpen(const char *path, uint32_t, uint32_t, IMGSTORE_UI_CALLBACK *callback,
                           uint32_t *error)
{
    std::unique_ptr<imbrex::zbi::ZbiImageStore> store;
    int e =
        !path ? imbrex::rc::kInvalidArgument : imbrex::zbi::ZbiImageStore::open(path, true, callback, &store);
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
    int e = !path || !splitSizeValid(splitSize)
                ? imbrex::rc::kInvalidArgument
                : imbrex::zbi::ZbiImageStore::create(path, splitSize, callback, &store);
    return finish(e, std::move(store), error);
}

// FNV-1a over the bytes of the text, 32 bits; the empty text is 0 (no password), and a text whose hash
// happens to be 0 gets 1 instead, so that it still counts as a password. The text is remembered for the life
// of the process: the keys of protected partitions are derived from it.
uint32_t ConvertPasswordString(const char *text)
{
    if (!text)
        return 0;
    imbrex::zbi::rememberPasswordText(text);
    return imbrex::zbi::passwordValue(text);
}
