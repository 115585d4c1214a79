// Builds partitions in a store from plain bytes, and reads them back, for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imgstore/zbimgstr.h"

namespace imbrex::test {

struct PartitionSpec
{
    uint32_t typeId = 0x06;
    uint32_t fileSystemType = 1;
    uint32_t sectorCount = 64;
    uint32_t sectorsPerBlock = 8;
    char driveLetter = 'C';
    std::string name = "DATA";
    std::string comment;
    uint32_t kind = 2;
    // One flag per block; empty means every block is stored.
    std::vector<bool> storedBlocks;
    // Seed of the partition's deterministic content.
    uint32_t seed = 1;
    // Text-like content that compresses well, instead of random bytes.
    bool compressible = false;
    uint32_t compression = 0;
    // Protects the partition with this password text when not empty.
    std::string password;
    // The volume's bytes as given (sectorCount x 512 of them), instead of generated ones.
    std::vector<uint8_t> content;
};

// The raw volume a spec describes: every sector filled from the seed.
std::vector<uint8_t> volumeBytes(const PartitionSpec &spec);
// The data stream of the stored blocks, in block order.
std::vector<uint8_t> storedStream(const PartitionSpec &spec);
std::vector<uint8_t> bitmapOf(const PartitionSpec &spec);

// Adds and releases a partition; returns the first failing store code.
int addPartition(ImageStore &store, const PartitionSpec &spec, uint32_t writeSize = 65536);
// Reads the whole decoded stream of partition number (1-based).
int readStream(ImageStore &store, uint32_t number, std::vector<uint8_t> *out, uint32_t readSize = 65536);
// Reads the stored records of partition number, all of them, through ReadRawData.
int readRawStream(ImageStore &store, uint32_t number, std::vector<uint8_t> *out);
// Copies partition number of source into target in stored form with CopyRawDataFrom, step bytes at most at a
// time; returns the first failing store code.
int copyStoredForm(ImageStore &source, uint32_t number, ImageStore &target, uint32_t step);

// Pseudo-random bytes that are the same on every run.
std::vector<uint8_t> patternBytes(size_t size, uint32_t seed);
// Text that is the same on every run and compresses to roughly a third.
std::vector<uint8_t> textBytes(size_t size, uint32_t seed);

// Superblock slot 0 or 1 of an image file, as stored.
std::vector<std::byte> superblockSlot(const std::string &path, int slot);
// Overwrites one byte of a file, as a damaged sector would.
void spoilByte(const std::string &path, uint64_t offset, char value = '\x5a');
// An image as writers before mirrored superblocks left one: generation 1 (no partitions) in slot 1 and
// generation 2 (one partition of 400 sectors) in slot 0, each slot holding a generation of its own. False
// when it could not be made.
bool makeSingleSlotImage(const std::string &path);

} // namespace imbrex::test
