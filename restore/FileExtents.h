// Where each file of a mounted FAT or NTFS volume keeps its data: the partition byte ranges of its clusters
// (FAT cluster chains, NTFS runlists), so that damaged bytes of a partition can be named by the files that
// lose data there. Directories are included with the clusters of their entries or index blocks, and the
// file system's own areas (boot sector, FATs, the MFT's system files) under names of their own.
//
// The volume is untrusted: every chain and directory walk is bounded (a cluster seen twice in one chain, a
// directory already on the path or already walked, depth), and a part that cannot be read or walked is
// reported as a problem while the walk goes on with the rest.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/VOLUME_BASE.h"

namespace imbrex::restore {

struct FileExtent
{
    uint64_t offset = 0; // bytes from the start of the partition
    uint64_t length = 0;
};

struct WalkedFile
{
    std::string path; // "\"-separated from the root; the file system's own areas in parentheses
    bool directory = false;
    std::vector<FileExtent> extents; // in file order, neighbouring clusters merged
};

struct WalkProblem
{
    std::string path;
    int code = 0;
    std::string reason;
};

// Returns false to end the walk.
using FileExtentVisitor = std::function<bool(const WalkedFile &)>;

// Walks the whole tree of volume (a mounted FAT_VOLUME or NTFS_VOLUME) and hands every file and directory to
// visit. 0 when the walk ended (problems then lists what could not be walked), 7 when visit ended it, 47 for
// a volume of another kind.
int walkFileExtents(engine::VOLUME_BASE &volume, const FileExtentVisitor &visit,
                    std::vector<WalkProblem> *problems);

} // namespace imbrex::restore
