// Exports of the image store library whose outcomes a test chooses: each returns its store (or none) and
// error, and every call is recorded with its arguments.
#pragma once

#include <string>
#include <vector>

#include "store/OpenImageStore.h"

namespace imbrex::test {

struct ScriptedExports
{
    struct Outcome
    {
        ImageStore *store = nullptr;
        uint32_t error = 0;
    };
    Outcome open;
    Outcome openReadOnly;
    Outcome createNew;

    struct Call
    {
        std::string name;
        std::string path;
        uint32_t splitSize = 0;
        IMGSTORE_UI_CALLBACK *callback = nullptr;
    };
    std::vector<Call> calls;

    std::vector<std::string> callNames() const
    {
        std::vector<std::string> names;
        for (const Call &call : calls)
            names.push_back(call.name);
        return names;
    }

    store::ImageStoreExports exports()
    {
        return {
            [this](const char *path, uint32_t splitSize, uint32_t, IMGSTORE_UI_CALLBACK *callback,
                   uint32_t *error) {
                calls.push_back({"ImageStoreOpen", path, splitSize, callback});
                *error = open.error;
                return open.store;
            },
            [this](const char *path, IMGSTORE_UI_CALLBACK *callback, uint32_t *error) {
                calls.push_back({"ImageStoreOpenReadOnly", path, 0, callback});
                *error = openReadOnly.error;
                return openReadOnly.store;
            },
            [this](const char *path, uint32_t splitSize, uint32_t, uint32_t, IMGSTORE_UI_CALLBACK *callback,
                   uint32_t *error) {
                calls.push_back({"ImageStoreCreateNew", path, splitSize, callback});
                *error = createNew.error;
                return createNew.store;
            },
        };
    }
};

} // namespace imbrex::test
