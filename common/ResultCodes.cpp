#include "ResultCodes.h"

namespace imbrex::rc {

std::string_view describe(int code)
{
    switch (code) {
    case kOk:
        return "success";
    case kGeneralFailure:
        return "the operation failed";
    case 2:
        return "the file was not found";
    case 3:
        return "out of memory";
    case 5:
        return "access denied";
    case kCancelled:
        return "cancelled";
    case kSlotNotOpen:
        return "the device is not ready";
    case kUnsupportedFileSystem:
        return "the file system of this partition is not supported";
    case kBeyondEnd:
        return "the read goes beyond the end of the partition";
    case 80:
        return "the file exists";
    case 112:
        return "there is not enough space on the disk";
    case kBlockNotStored:
        return "the sector lies in a block that the image does not store";
    case kNoIndexFile:
        return "the image index file was not found";
    case kBitmapSizeMismatch:
        return "the block bitmap has the wrong size";
    case kTargetReadOnly:
        return "the target image is read-only";
    case kWriteShort:
        return "a write was incomplete";
    case kCacheAllocation:
        return "the sector cache could not be allocated";
    case kLegacyCompression:
        return "this compression type cannot be read at random";
    case kCannotOpen:
        return "the file could not be opened";
    case kReadShort:
        return "a read was incomplete";
    case kSpanned:
        return "the image set is spread over several places";
    case kMediaFull:
        return "the media is full";
    case kNewerVersion:
        return "the file was made by a newer version";
    case kInvalidIndexFile:
        return "the file is not a valid image index file";
    case kIndexMismatch:
        return "the image index file does not match this image file";
    case kNoIndexForPartition:
        return "the image index file does not contain an index for this partition";
    case kIndexExists:
        return "the image index already exists in this file";
    case kDialogCancelled:
        return "cancelled";
    case kIndexTryAgain:
        return "try again with another image index file";
    case kNoCacheNode:
        return "no cache buffer is available";
    case kStreamEnded:
        return "the partition's data ended before the wanted block";
    case kBadGeometry:
        return "the partition's sector or block size cannot be used";
    case kBadStreamRead:
        return "the image store delivered more data than asked for";
    case kNoVolumeOpen:
        return "no volume or file is open";
    case kNotAnImage:
        return "the file is not an image file";
    case kImageDamaged:
        return "the image file's catalog is damaged (checksum mismatch)";
    case kDataDamaged:
        return "stored partition data is damaged (checksum mismatch)";
    case kImageLocked:
        return "the image is in use by another program";
    case kImageReadOnly:
        return "the image is open read-only";
    case kNoPartitionSelected:
        return "no partition is selected";
    case kInvalidArgument:
        return "an argument is out of range";
    case kUnsupportedCompression:
        return "this compression type is not supported";
    case kWrongPassword:
        return "the password is not valid for this partition";
    case kBadPartitionNumber:
        return "there is no partition with this number";
    case kWrongSequence:
        return "the operation is not allowed at this point";
    case kIoError:
        return "an input or output error occurred";
    case kImageTooLarge:
        return "the image is larger than this format allows";
    case kNotSupported:
        return "the operation is not supported by this image";
    case kDirectoryLoop:
        return "directory loop: a folder lies inside itself, or folders nest more than 256 deep";
    case kDamagedImageNotAccepted:
        return "the image is damaged and shows an older state than its newest; changes are refused until "
               "going on from that state is accepted";
    default:
        return "unknown error";
    }
}

} // namespace imbrex::rc
