#include "VerifyCommand.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <set>
#include <string>

#include "Arguments.h"
#include "CliSupport.h"
#include "Passwords.h"
#include "TerminalProgress.h"
#include "common/ResultCodes.h"
#include "imgstore/ImageVerifier.h"
#include "platform/File.h"
#include "restore/FileExtents.h"
#include "restore/PARTITION_ACCESS.h"

namespace imbrex::cli {

const char *const kVerifyHelp = R"(  zbitool verify IMAGE [N...] [--password-file FILE]
      Read and check every stored piece of the image (superblocks, catalog, and each partition's block
      bitmap, chunk table and chunks), or of partitions N... only, without changing anything. Each damaged
      piece is named with the partition bytes it holds and, on FAT and NTFS, the files whose data lie there.
      Exit status 1 when anything is damaged or could not be checked.
)";

namespace {

using zbi::DamagedPiece;
using zbi::PieceKind;

// One partition's share of the whole run's progress bar.
class PartitionProgress final : public Progress
{
public:
    PartitionProgress(Progress &whole, uint64_t before, uint64_t total)
        : m_whole(whole), m_before(before), m_total(total)
    {
    }
    bool update(uint64_t done, uint64_t) override { return m_whole.update(m_before + done, m_total); }

private:
    Progress &m_whole;
    uint64_t m_before;
    uint64_t m_total;
};

struct PartitionReport
{
    uint32_t number = 0;
    std::string name;
    zbi::PartitionCheck check;
    // Per damaged piece, the files whose data lie in it, in the order the walk met them.
    std::vector<std::vector<std::string>> files;
    std::vector<std::string> notes; // why something could not be checked or named
    bool incomplete = false;
};

std::string inclusive(uint64_t offset, uint64_t length)
{
    return std::to_string(offset) + "-" + std::to_string(offset + (length ? length - 1 : 0));
}

std::string plural(uint64_t count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The damaged partition ranges of a check, each with the piece it belongs to, sorted by offset; the pieces
// hold distinct stream bytes, so their ranges never overlap.
struct DamagedRange
{
    zbi::ByteRange range;
    size_t piece = 0;
};

std::vector<DamagedRange> damagedRanges(const zbi::PartitionCheck &check)
{
    std::vector<DamagedRange> ranges;
    for (size_t i = 0; i < check.damage.size(); ++i) {
        const DamagedPiece &piece = check.damage[i];
        if (piece.kind != PieceKind::Chunks || !piece.placeKnown)
            continue;
        for (const zbi::ByteRange &range : piece.partitionRanges)
            ranges.push_back({range, i});
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const DamagedRange &a, const DamagedRange &b) { return a.range.offset < b.range.offset; });
    return ranges;
}

// Walks the partition's file system and names, for each damaged chunk piece, the files whose data lie there.
void nameFiles(const std::string &path, PartitionReport &report, Progress &progress)
{
    const std::vector<DamagedRange> ranges = damagedRanges(report.check);
    report.files.assign(report.check.damage.size(), {});
    if (ranges.empty())
        return;
    int code = 0;
    ImageStorePtr store = openForReading(path, &code);
    int e = store ? store->SelectPartition(report.number, 0) : code;
    restore::PARTITION_ACCESS access;
    if (e == 0)
        e = access.Open(store.get(), "");
    if (e == rc::kUnsupportedFileSystem)
        return; // no reader for it: the partition bytes are all that can be said
    if (e == rc::kLegacyCompression) {
        report.notes.push_back("the files cannot be named: a partition stored with the old one-stream "
                               "compression cannot be read at random");
        return;
    }
    if (e != 0 || access.Volume() == nullptr) {
        report.notes.push_back(
            "the files cannot be named: the partition's file system could not be read (error " +
            std::to_string(e) + ": " + std::string(rc::describe(e)) + ")");
        return;
    }
    std::vector<restore::WalkProblem> problems;
    int walked = restore::walkFileExtents(
        *access.Volume(),
        [&](const restore::WalkedFile &file) {
            std::set<size_t> hit;
            for (const restore::FileExtent &extent : file.extents) {
                auto it = std::lower_bound(ranges.begin(), ranges.end(), extent.offset,
                                           [](const DamagedRange &r, uint64_t offset) {
                                               return r.range.offset + r.range.length <= offset;
                                           });
                for (; it != ranges.end() && it->range.offset < extent.offset + extent.length; ++it)
                    hit.insert(it->piece);
            }
            for (size_t piece : hit)
                report.files[piece].push_back(file.directory && file.path != "\\" ? file.path + "\\"
                                                                                  : file.path);
            return progress.update(1, 1);
        },
        &problems);
    if (walked == rc::kCancelled)
        report.notes.push_back("naming the files was cancelled");
    for (const restore::WalkProblem &problem : problems)
        report.notes.push_back("while naming the files, " + problem.path + ": " + problem.reason +
                               " (error " + std::to_string(problem.code) + ")");
}

std::string pieceTitle(const DamagedPiece &piece)
{
    switch (piece.kind) {
    case PieceKind::Superblock:
        return "superblock slot " + std::to_string(piece.slot) + " is damaged";
    case PieceKind::Catalog:
        return "the catalog is damaged; no partition can be read";
    case PieceKind::Bitmap:
        return "the block bitmap is damaged";
    case PieceKind::ChunkTable:
        return "the chunk table is damaged";
    case PieceKind::Chunks:
        if (piece.firstChunk == piece.lastChunk)
            return "chunk " + std::to_string(piece.firstChunk) + " is damaged";
        return "chunks " + std::to_string(piece.firstChunk) + "-" + std::to_string(piece.lastChunk) +
               " are damaged";
    }
    return "damaged";
}

void printPiece(const std::string &prefix, const DamagedPiece &piece, const std::vector<std::string> *files)
{
    std::printf("%s%s: %s (image offset %" PRIu64 ")\n", prefix.c_str(), pieceTitle(piece).c_str(),
                piece.reason.c_str(), piece.image.offset);
    if (piece.wholePartition) {
        const zbi::ByteRange &all = piece.partitionRanges.front();
        std::printf("  the whole partition is lost: partition bytes %s\n",
                    inclusive(all.offset, all.length).c_str());
    } else if (piece.kind == PieceKind::Chunks && piece.placeKnown) {
        for (const zbi::ByteRange &range : piece.partitionRanges)
            std::printf("  partition bytes %s\n", inclusive(range.offset, range.length).c_str());
    } else if (piece.kind == PieceKind::Chunks) {
        std::printf("  data stream bytes %s (where they lie in the partition is unknown: the block bitmap "
                    "cannot be read)\n",
                    inclusive(piece.stream.offset, piece.stream.length).c_str());
    }
    if (files)
        for (const std::string &file : *files)
            std::printf("  in %s\n", file.c_str());
}

} // namespace

int runVerify(const std::vector<std::string> &words)
{
    Arguments args;
    if (auto error = parseArguments(words, {"--password-file"}, {}, &args))
        return usageError(*error);
    if (args.positional.empty())
        return usageError("usage: zbitool verify IMAGE [N...] [--password-file FILE]");
    const std::string &path = args.positional[0];
    if (!platform::fileExists(path))
        return openFailure(path, platform::kErrorFileNotFound);

    zbi::ImageVerifier verifier;
    if (int e = verifier.open(path, &terminalCallback()))
        return openFailure(path, e);
    const zbi::Catalog &catalog = verifier.catalog();
    uint64_t damaged = verifier.imageDamage().size();
    for (const DamagedPiece &piece : verifier.imageDamage())
        printPiece("", piece, nullptr);
    if (!verifier.catalogReadable()) {
        std::printf("%s found.\n", plural(damaged, "damaged piece", "damaged pieces").c_str());
        return kExitFailure;
    }

    const auto count = static_cast<uint32_t>(catalog.partitions.size());
    std::vector<uint32_t> chosen;
    for (size_t i = 1; i < args.positional.size(); ++i) {
        auto n = parsePartitionNumber(args.positional[i]);
        if (!n || *n > count) {
            std::fprintf(stderr, "zbitool: there is no partition %s in this image (it has %u)\n",
                         args.positional[i].c_str(), count);
            return kExitFailure;
        }
        if (std::find(chosen.begin(), chosen.end(), *n) == chosen.end())
            chosen.push_back(*n);
    }
    if (args.positional.size() == 1)
        for (uint32_t n = 1; n <= count; ++n)
            chosen.push_back(n);

    // Passwords first, so that the terminal is not asked in the middle of a long check.
    bool incomplete = false;
    for (uint32_t number : chosen) {
        const zbi::PartitionRecord &p = catalog.partitions[number - 1];
        if ((p.flags & zbi::kFlagEncrypted) == 0)
            continue;
        auto text =
            readPassword(args, "--password-file", "Password of partition " + std::to_string(number) + ": ");
        if (text && ConvertPasswordString(text->c_str()) != p.password)
            std::fprintf(stderr, "zbitool: partition %u: %s\n", number, kWrongPasswordMessage);
    }

    uint64_t totalChunks = 0;
    for (uint32_t number : chosen)
        totalChunks += catalog.partitions[number - 1].chunkCount;
    std::vector<PartitionReport> reports;
    bool cancelled = false;
    uint64_t chunksChecked = 0;
    {
        TerminalProgress progress;
        progress.setAction("Verifying " + path + " ...");
        uint64_t before = 0;
        for (uint32_t number : chosen) {
            const zbi::PartitionRecord &p = catalog.partitions[number - 1];
            PartitionReport report;
            report.number = number;
            report.name = p.name;
            PartitionProgress share(progress, before, totalChunks);
            int e = verifier.verifyPartition(number, share, &report.check);
            before += p.chunkCount;
            chunksChecked += report.check.chunksChecked;
            if (e == rc::kCancelled) {
                cancelled = true;
                break;
            }
            if (e != 0) {
                report.incomplete = true;
                report.notes.push_back("it could not be checked (error " + std::to_string(e) + ": " +
                                       std::string(rc::describe(e)) + ")");
            }
            if (report.check.keyMissing) {
                report.incomplete = true;
                report.notes.push_back("it is protected and no valid password was given: only the checksums "
                                       "of its stored bytes were checked");
            }
            nameFiles(path, report, progress);
            reports.push_back(std::move(report));
        }
    }

    for (const PartitionReport &report : reports) {
        const std::string prefix = "partition " + std::to_string(report.number) + " (" + report.name + "): ";
        for (size_t i = 0; i < report.check.damage.size(); ++i)
            printPiece(prefix, report.check.damage[i], i < report.files.size() ? &report.files[i] : nullptr);
        for (const std::string &note : report.notes)
            std::fprintf(stderr, "zbitool: partition %u: %s\n", report.number, note.c_str());
        damaged += report.check.damage.size();
        incomplete = incomplete || report.incomplete;
    }
    if (cancelled)
        return failure("Cancelled; the check did not finish.", 0);
    const std::string checked = "Checked " + plural(reports.size(), "partition", "partitions") + ", " +
                                plural(chunksChecked, "chunk", "chunks") + ": ";
    if (damaged != 0)
        std::printf("%s%s found.\n", checked.c_str(),
                    plural(damaged, "damaged piece", "damaged pieces").c_str());
    else
        std::printf("%sno damage found%s.\n", checked.c_str(), incomplete ? " in what could be checked" : "");
    return damaged != 0 || incomplete ? kExitFailure : 0;
}

} // namespace imbrex::cli
