// DirectoryTrail: the directories on the path from the root down to the one a walk is about to enter, each
// known by what identifies it on its volume (its first cluster on FAT, its record number on NTFS).
//
// A damaged or hostile volume can name a directory inside itself or inside one of its own subdirectories; a
// walk that follows such an entry lists the same folders again and again, deeper each time, until the stack
// or the disk runs out. Every walk over directories keeps a trail and refuses, with kDirectoryLoop, a
// directory that is already on it, and any path more than kMaxDirectoryDepth directories deep.
//
// Two ways to keep one: a walk that goes down and up in one call pushes and pops; callers that list one
// directory per call (the file sources of extraction and browsing) enter each directory with its path, and
// the trail forgets what it remembered of directories that do not lie above that path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace imbrex::engine {

inline constexpr size_t kMaxDirectoryDepth = 256;

// How many directories below the root a "\"-separated path names ("" and "\" name none).
size_t directoryDepth(std::string_view path);

class DirectoryTrail
{
public:
    // root identifies the root directory, which lies above every other one.
    explicit DirectoryTrail(uint64_t root) : m_root(root) {}

    // Goes down into directory id: 0, or kDirectoryLoop (and nothing changes) when id is already on the trail
    // or the trail already holds kMaxDirectoryDepth directories below the root.
    [[nodiscard]] int push(uint64_t id);
    // Goes back up one directory; nothing when the walk stands at the root.
    void pop();

    // Enters directory id at path ("\"-separated; "" or "\" is the root). Remembered directories whose paths
    // do not lie above path are forgotten first. 0, or kDirectoryLoop (and path is not remembered) when a
    // directory above path has the same identity, or path is more than kMaxDirectoryDepth deep.
    [[nodiscard]] int enter(std::string_view path, uint64_t id);

    bool contains(uint64_t id) const;
    // Directories below the root that the trail holds.
    size_t depth() const { return m_steps.size(); }
    uint64_t root() const { return m_root; }

private:
    struct Step
    {
        std::string path; // empty for pushed steps
        uint64_t id = 0;
    };

    uint64_t m_root;
    std::vector<Step> m_steps;
};

} // namespace imbrex::engine
