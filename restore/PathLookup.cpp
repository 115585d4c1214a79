#include "PathLookup.h"

#include "common/ResultCodes.h"

namespace imbrex::restore {

std::pair<std::string, std::string> splitPartitionPath(const std::string &path)
{
    auto slash = path.find_last_of('\\');
    if (slash == std::string::npos)
        return {"\\", path};
    return {slash == 0 ? "\\" : path.substr(0, slash), path.substr(slash + 1)};
}

bool sameEntryName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

std::string fatShortName(const std::array<uint8_t, 32> &raw)
{
    std::string base(reinterpret_cast<const char *>(raw.data()), 8);
    std::string extension(reinterpret_cast<const char *>(raw.data()) + 8, 3);
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    while (!extension.empty() && extension.back() == ' ')
        extension.pop_back();
    return extension.empty() ? base : base + "." + extension;
}

bool entryNamed(const engine::DirListEntry &entry, const std::string &name, bool fat)
{
    return sameEntryName(entry.name, name) || (fat && sameEntryName(fatShortName(entry.rawEntry), name));
}

int locateDirectory(FileSource &source, const std::string &path, LocatedDirectory *out)
{
    bool fat = source.isFatVolume();
    LocatedDirectory here;
    size_t start = 1;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        std::string component =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? path.size() : end + 1;
        if (component.empty())
            continue;
        std::vector<engine::DirListEntry> entries;
        if (int e = listLocated(source, here, &entries))
            return e;
        const engine::DirListEntry *found = nullptr;
        for (const auto &entry : entries)
            if ((entry.attributes & engine::kAttrDirectory) && entryNamed(entry, component, fat))
                found = &entry;
        if (!found)
            return rc::kNoIndexFile; // 504: not found
        here.path = (here.path == "\\" ? std::string() : here.path) + "\\" + found->name;
        if (fat)
            here.rawEntry = found->rawEntry;
    }
    *out = here;
    return rc::kOk;
}

int listLocated(FileSource &source, const LocatedDirectory &where, std::vector<engine::DirListEntry> *entries)
{
    return source.listDirectory(where.path, where.rawEntry ? &*where.rawEntry : nullptr, entries);
}

RestoreItem restoreItemOf(const engine::DirListEntry &entry, bool fat, bool withTime)
{
    RestoreItem item{entry.name, (entry.attributes & engine::kAttrDirectory) != 0, std::nullopt,
                     withTime ? recordedTime(entry, fat) : std::nullopt};
    if (fat)
        item.rawEntry = entry.rawEntry;
    else
        item.recordNumber = entry.recordNumber;
    return item;
}

} // namespace imbrex::restore
