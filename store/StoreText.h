// Reading a text attribute of the image store into a buffer of a given size.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imgstore/ImageStore.h"

namespace imbrex::store {

using TextGetter = int (ImageStore::*)(char *buffer, uint32_t size);

// Calls getter with a zeroed buffer of size bytes and returns the text up to the first NUL, at most size - 1
// bytes: a store that fills the buffer without terminating it, or that fails, still gives a bounded text.
inline std::string readStoreText(ImageStore &store, TextGetter getter, uint32_t size)
{
    std::vector<char> buffer(size, '\0');
    (void)(store.*getter)(buffer.data(), size);
    size_t limit = size == 0 ? 0 : size - 1;
    return std::string(buffer.data(), strnlen(buffer.data(), limit));
}

} // namespace imbrex::store
