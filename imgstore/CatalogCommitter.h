// The image's catalog, and the only way it changes on disk.
//
// Changes are copy-on-write. New data, tables and catalogs go only to space that the committed catalog does
// not use; a change becomes part of the image when a superblock naming the new catalog is written into one
// slot, after everything it names has been synced, and then into the other. A crash at any moment therefore
// leaves the old or the new image, a landed change is held by both slots, and space given back by a change is
// reused from the next change on.
//
// Two catalogs are kept: the one callers see, which may hold partitions released since the last commit, and
// the one the disk's current superblock names. Free space is what neither of them, nor a partition being
// written, uses.
#pragma once

#include <cstdint>
#include <vector>

#include "ImageFile.h"
#include "SpaceMap.h"
#include "ZbiFormat.h"

namespace imbrex::zbi {

class CatalogCommitter
{
public:
    CatalogCommitter(ImageFile &file, bool writable) : m_file(file), m_writable(writable) {}
    CatalogCommitter(const CatalogCommitter &) = delete;
    CatalogCommitter &operator=(const CatalogCommitter &) = delete;

    // Reads the newest state of an existing image that can be read.
    int load();
    // Makes next the image: on disk durably, then in memory. Everything next names must be written.
    int commit(Catalog next);
    // Commits partitions released since the last commit, if any; when that fails they are dropped. Afterwards
    // nothing more is written.
    int close();

    // The image as callers see it.
    const Catalog &catalog() const { return m_catalog; }
    // How many of catalog()'s partitions the disk's catalog holds too (released ones come after them).
    size_t committedCount() const { return m_committed.partitions.size(); }
    bool hasReleased() const { return m_uncommitted; }
    // A finished partition joins the catalog callers see; the next commit takes it to disk.
    void addReleased(PartitionRecord p);
    // Takes next, which differs from catalog() only in released partitions it no longer has, without a
    // commit; their space goes back at once.
    void dropReleased(Catalog next);

    // The partition being written, whose space must not be handed out again; nullptr when there is none.
    void setWorkInProgress(const PartitionRecord *p) { m_work = p; }
    SpaceMap &space() { return m_space; }
    // Rebuilds the free space and cuts the file back to what the catalogs and the work in progress use,
    // after work was abandoned; the cut only where the store may write and knows what the disk holds.
    void giveBackSpace();

    // 0 when a change may be made, or why not: a failed commit, or damage not accepted yet.
    int checkChangesAllowed() const;
    // The end of the space the committed state uses.
    uint64_t dataEnd() const { return m_super.dataEnd; }

    bool damaged() const { return m_damaged; }
    uint64_t shownGeneration() const { return m_super.generation; }
    uint64_t newestGeneration() const { return m_newestGeneration; }
    void acceptDamage() { m_damageAccepted = true; }

private:
    // Reads and checks the catalog sb names.
    int loadCatalog(const Superblock &sb, Catalog *out);
    // Space that must not be written: the committed catalog's and the current (or next) catalog's.
    std::vector<Extent> extentsInUse(const Catalog *next = nullptr) const;

    ImageFile &m_file;
    bool m_writable;
    bool m_closed = false;
    // Set when a commit failed after its superblock write began: the state on disk is no longer known, so
    // every further change is refused until the image is opened again.
    bool m_broken = false;
    // Partitions were released into m_catalog that no commit has written yet.
    bool m_uncommitted = false;
    // The slots (bit i for slot i) that hold the committed state; a commit writes the others first.
    unsigned m_currentSlots = 0;
    // Set when the file records a newer state than the one shown, which could not be read.
    bool m_damaged = false;
    uint64_t m_newestGeneration = 0; // of that newer state; 0 when not even its number could be read
    bool m_damageAccepted = false;

    Superblock m_super;
    Catalog m_catalog;   // the image as callers see it, with released partitions not committed yet
    Catalog m_committed; // the image as the disk's current superblock names it
    SpaceMap m_space;
    const PartitionRecord *m_work = nullptr;
};

} // namespace imbrex::zbi
