// Finding directories and entries of a partition by their long names, component by component, so that a
// path typed by a person works on FAT (whose listing by path knows only short names) as on NTFS.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FileExtraction.h"
#include "engine/DIRLIST.h"

namespace imbrex::restore {

// The directory part and the name of a partition path: "\A\B" -> "\A", "B"; "\B" -> "\", "B".
std::pair<std::string, std::string> splitPartitionPath(const std::string &path);

// Names compare without regard to the case of A to Z, as the volumes do.
bool sameEntryName(const std::string &a, const std::string &b);

// The 8.3 name of a FAT directory entry: "README  TXT" -> "README.TXT".
std::string fatShortName(const std::array<uint8_t, 32> &raw);

// True when the entry's long name, or on FAT its short name, is name.
bool entryNamed(const engine::DirListEntry &entry, const std::string &name, bool fat);

// A directory of the partition as found: its path by long names and, on FAT, its own entry (none for the
// root), which is how FAT directories are listed.
struct LocatedDirectory
{
    std::string path = "\\";
    std::optional<std::array<uint8_t, 32>> rawEntry;
};

// Walks path ("\"-separated, from the root) one directory at a time; rc::kNoIndexFile when a component is
// not a directory of its parent, or the listing's error.
[[nodiscard]] int locateDirectory(FileSource &source, const std::string &path, LocatedDirectory *out);
[[nodiscard]] int listLocated(FileSource &source, const LocatedDirectory &where,
                              std::vector<engine::DirListEntry> *entries);

// A listed entry as an item to restore, keeping what opens it (its raw FAT entry, its NTFS record) and, when
// withTime, its recorded time (converting a local date costs a look at the time zone file).
RestoreItem restoreItemOf(const engine::DirListEntry &entry, bool fat, bool withTime = true);

} // namespace imbrex::restore
