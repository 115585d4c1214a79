// What every zbitool command shares: exit codes, messages in the program's words, opening images and
// partitions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Arguments.h"
#include "imgstore/zbimgstr.h"
#include "restore/PARTITION_ACCESS.h"

namespace imbrex::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The highest part number a split set can have (three digits).
inline constexpr uint32_t kLastPartNumber = 999;
inline constexpr const char *kWrongPasswordMessage = "Password entered is not valid for this partition.";

// Prints a usage problem and returns kExitUsage.
int usageError(const std::string &text);
// Prints the program's message, then the code and what it means; returns kExitFailure.
int failure(const std::string &message, int code = 0);
// The open-failure message for an image file.
int openFailure(const std::string &path, int code);

// What a path given on the command line is for; each takes only the kinds of file it can use.
enum class PathRole
{
    Image,
    RawVolumeInput,
    RawVolumeOutput,
    IndexFile,
};
// True when path is missing or of a kind its role takes: a regular file, or for a raw volume that is read
// also a block device. Otherwise prints why and returns false. A FIFO is never opened, so nothing waits on
// it.
bool checkFileKind(const std::string &path, PathRole role);
// The files of the image at path that exist: the image, then its numbered parts up to the first missing one.
std::vector<std::string> imageFiles(const std::string &path);
// True when target is none of inputs under any name; otherwise prints that the command would write over its
// own input and returns false.
bool checkNotAnInput(const std::string &target, const std::vector<std::string> &inputs);
// Text for one output line: control characters (a newline in a name would split its row, an escape would
// talk to the terminal) are written as \n, \t, \r or \xNN.
std::string escapeControls(std::string_view text);
// Says on standard error when image shows an older state than the newest its file records, and returns true
// then.
bool warnIfDamaged(ImageStore &image, const std::string &path);
// Before a change: a damaged image is refused (returns the exit status after reporting) unless
// --accept-damaged was given, which lets the store go on from the state it shows. 0 when the change may go
// on.
int allowChange(ImageStore &image, const std::string &path, const Arguments &args);
inline constexpr const char *kAcceptDamagedFlag = "--accept-damaged";

// The store's questions answered on the terminal (one instance for the run).
IMGSTORE_UI_CALLBACK &terminalCallback();
ImageStorePtr openForReading(const std::string &path, int *code);
ImageStorePtr openForWriting(const std::string &path, int *code);
// Partition number text to a number of image; prints why not and returns false.
bool checkPartitionNumber(ImageStore &image, const std::string &text, uint32_t *number);

// Selects partition number of image and, when it is protected, asks for its password (--password-file or the
// terminal) and checks it. The partition stays selected. 0, or the exit status after reporting.
int unlockPartition(ImageStore &image, uint32_t number, const Arguments &args);

// An image opened read-only with partition N selected, unlocked with its password when it has one, and
// opened through a PARTITION_ACCESS (its volume mounted when mount is set).
class OpenedPartition
{
public:
    // args.positional[0] is the image, [1] the partition number; --password-file and --index are read.
    // Returns 0 or the exit status after reporting.
    int open(const Arguments &args, bool mount);
    bool needsIndex() const;
    uint32_t number() const { return m_number; }
    ImageStore &store() { return *m_store; }
    restore::PARTITION_ACCESS &access() { return m_access; }

private:
    ImageStorePtr m_store;
    restore::PARTITION_ACCESS m_access; // destroyed before the store
    uint32_t m_number = 0;
};

} // namespace imbrex::cli
