#include "imgstore/DecodeAhead.h"

#include <chrono>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zstd.h>

#include <gtest/gtest.h>

#include "imgstore/ChunkCodec.h"
#include "platform/File.h"
#include "tests/support/TempDir.h"

namespace imbrex::zbi {
namespace {

std::vector<std::byte> text(size_t size)
{
    std::vector<std::byte> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::byte>("decode ahead "[i % 13]);
    return out;
}

std::vector<std::byte> zstdFrame(const std::vector<std::byte> &plain)
{
    std::vector<std::byte> out(ZSTD_compressBound(plain.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 1));
    return out;
}

DecodeAhead::Job zstdJob(uint64_t generation, uint64_t index, size_t length)
{
    DecodeAhead::Job job;
    job.generation = generation;
    job.index = index;
    job.codec = kCodecZstd;
    job.decodedLength = static_cast<uint32_t>(length);
    return job;
}

// Waits until the worker has decoded whatever it holds of generation and collects it by index. A test that
// ran into the timeout fails on the missing chunks.
std::map<uint64_t, std::vector<std::byte>> collect(DecodeAhead &ahead, uint64_t generation,
                                                   const std::vector<uint64_t> &indexes)
{
    std::map<uint64_t, std::vector<std::byte>> found;
    for (int round = 0; round < 10000; ++round) {
        uint64_t index = 0;
        std::vector<std::byte> bytes;
        while (ahead.takeAnyDone(generation, &index, bytes))
            found[index] = std::move(bytes);
        bool waiting = false;
        for (uint64_t i : indexes)
            waiting = waiting || ahead.holds(generation, i);
        if (!waiting)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return found;
}

TEST(DecodeAheadTest, HandsOverEachChunkOnceWithItsOwnBytes)
{
    const auto plain = text(65536);
    const auto frame = zstdFrame(plain);
    DecodeAhead ahead;
    ChunkDecoder decoder;
    std::vector<std::byte> out;
    EXPECT_FALSE(ahead.take(1, 5, out, decoder)); // nothing started

    ASSERT_TRUE(ahead.start(zstdJob(1, 5, plain.size()), frame));
    EXPECT_TRUE(ahead.holds(1, 5));
    EXPECT_FALSE(ahead.holds(2, 5));              // another generation: the store's state changed since
    EXPECT_FALSE(ahead.take(1, 6, out, decoder)); // another chunk
    auto found = collect(ahead, 1, {5});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[5], plain);
    EXPECT_FALSE(ahead.holds(1, 5)); // a job is handed over once
    EXPECT_FALSE(ahead.take(1, 5, out, decoder));

    // A payload that does not decode is not handed over; the reader decodes it itself and reports it.
    auto damaged = frame;
    damaged[damaged.size() / 2] ^= std::byte{0x5A};
    damaged.resize(damaged.size() - 3);
    ASSERT_TRUE(ahead.start(zstdJob(1, 6, plain.size()), damaged));
    EXPECT_TRUE(collect(ahead, 1, {6}).empty());

    // Taking a chunk gives its bytes, or nothing when the worker had not begun it: never another chunk's.
    for (uint64_t index = 10; index < 30; ++index) {
        auto mine = text(4096 + index);
        ASSERT_TRUE(ahead.start(zstdJob(1, index, mine.size()), zstdFrame(mine)));
        if (ahead.take(1, index, out, decoder)) {
            EXPECT_EQ(out, mine) << index;
        }
        EXPECT_FALSE(ahead.holds(1, index));
    }
}

TEST(DecodeAheadTest, MoreJobsThanSlotsDropSomeButNeverMixThemUp)
{
    DecodeAhead ahead;
    std::map<uint64_t, std::vector<std::byte>> plains;
    std::vector<uint64_t> started;
    for (uint64_t index = 0; index < DecodeAhead::kSlots * 3; ++index) {
        plains[index] = text(20000 + 1000 * index);
        ASSERT_TRUE(ahead.start(zstdJob(7, index, plains[index].size()), zstdFrame(plains[index])));
        started.push_back(index);
    }
    auto found = collect(ahead, 7, started);
    EXPECT_FALSE(found.empty());
    EXPECT_LE(found.size(), DecodeAhead::kSlots + DecodeAhead::workerCount());
    for (const auto &[index, bytes] : found)
        EXPECT_EQ(bytes, plains[index]) << index;

    // A job of a new generation drops what of the old one has not been decoded yet.
    for (uint64_t index = 0; index < DecodeAhead::kSlots; ++index)
        ASSERT_TRUE(ahead.start(zstdJob(7, index, plains[index].size()), zstdFrame(plains[index])));
    ASSERT_TRUE(ahead.start(zstdJob(8, 100, plains[0].size()), zstdFrame(plains[0])));
    // Only those running, if any.
    EXPECT_LE(collect(ahead, 7, {0, 1, 2, 3, 4, 5, 6, 7}).size(), DecodeAhead::workerCount());
    EXPECT_EQ(collect(ahead, 8, {100})[100], plains[0]);
}

TEST(DecodeAheadTest, AReaderTakingChunksInOrderGetsEachOneRightWhileItDecodesOthersItself)
{
    // Taking a chunk that a worker is decoding has the reader decode the jobs waiting behind it: every chunk
    // taken afterwards, by whoever decoded it, is its own.
    DecodeAhead ahead;
    ChunkDecoder decoder;
    std::map<uint64_t, std::vector<std::byte>> plains;
    for (uint64_t round = 0; round < 20; ++round) {
        const uint64_t first = round * 16;
        for (uint64_t index = first; index < first + 16; ++index) {
            plains[index] = text(30000 + 2000 * (index % 17));
            DecodeAhead::Job job = zstdJob(1, index, plains[index].size());
            job.request = round;
            ASSERT_TRUE(ahead.start(job, zstdFrame(plains[index])));
        }
        for (uint64_t index = first; index < first + 16; ++index) {
            std::vector<std::byte> out;
            if (ahead.take(1, index, out, decoder)) {
                EXPECT_EQ(out, plains[index]) << index;
            }
            EXPECT_FALSE(ahead.holds(1, index));
        }
    }
}

// A record as the store writes it, after some bytes of something else.
std::vector<std::byte> fileWithRecord(uint64_t index, const std::vector<std::byte> &plain, size_t before)
{
    const auto payload = zstdFrame(plain);
    ChunkHeader header;
    header.codec = kCodecZstd;
    header.payloadLength = static_cast<uint32_t>(payload.size());
    header.decodedLength = static_cast<uint32_t>(plain.size());
    header.index = index;
    std::vector<std::byte> bytes(before + kChunkHeaderSize);
    encodeChunkHeader(header, payload, std::span(bytes).subspan(before));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

TEST(DecodeAheadTest, ReadsAndChecksARecordItWasOnlyToldWhereToFind)
{
    test::TempDir dir;
    const auto plain = text(65536);
    auto bytes = fileWithRecord(9, plain, 100);
    const auto recordBytes = static_cast<uint32_t>(bytes.size() - 100);
    auto fileJob = [&](platform::File &file, uint64_t index, uint32_t expectedIndex) {
        DecodeAhead::Job job = zstdJob(1, index, plain.size());
        job.file = &file;
        job.fileOffset = 100;
        job.recordBytes = recordBytes;
        job.expected.index = expectedIndex;
        job.expected.decodedLength = static_cast<uint32_t>(plain.size());
        job.expected.compressionCode = 100; // Low
        return job;
    };
    auto write = [&](const std::vector<std::byte> &content) {
        platform::File out;
        ASSERT_EQ(out.createReplacing(dir.file("image")), 0);
        ASSERT_EQ(out.writeAt(0, content), 0);
    };
    write(bytes);
    platform::File file;
    ASSERT_EQ(file.open(dir.file("image"), platform::FileAccess::Read), 0);
    DecodeAhead ahead;
    ASSERT_TRUE(ahead.start(fileJob(file, 9, 9), {}));
    EXPECT_EQ(collect(ahead, 1, {9})[9], plain);

    // The record found there is not the chunk asked for, or does not match its checksum, or the partition
    // would not have stored it so: nothing is handed over.
    ASSERT_TRUE(ahead.start(fileJob(file, 8, 8), {}));
    EXPECT_TRUE(collect(ahead, 1, {8}).empty());
    auto wrongFamily = fileJob(file, 9, 9);
    wrongFamily.expected.compressionCode = 0; // a plain partition holds no compressed records
    ASSERT_TRUE(ahead.start(wrongFamily, {}));
    EXPECT_TRUE(collect(ahead, 1, {9}).empty());
    bytes[bytes.size() - 5] ^= std::byte{1};
    write(bytes);
    ASSERT_TRUE(ahead.start(fileJob(file, 9, 9), {}));
    EXPECT_TRUE(collect(ahead, 1, {9}).empty());
    bytes.resize(bytes.size() - 10); // the file ends inside the record
    write(bytes);
    ASSERT_TRUE(ahead.start(fileJob(file, 9, 9), {}));
    EXPECT_TRUE(collect(ahead, 1, {9}).empty());

    // After a drain no job is waiting or being read, so the file may go.
    for (uint64_t index = 0; index < DecodeAhead::kSlots; ++index)
        ASSERT_TRUE(ahead.start(fileJob(file, index, 9), {}));
    ahead.drain();
    file.close();
    uint64_t index = 0;
    std::vector<std::byte> out;
    while (ahead.takeAnyDone(1, &index, out)) {
    }
    for (uint64_t i = 0; i < DecodeAhead::kSlots; ++i)
        EXPECT_FALSE(ahead.holds(1, i)) << i;
}

TEST(DecodeAheadTest, DecryptsWithTheKeyItWasGiven)
{
    const auto plain = text(4096);
    PartitionKey key{};
    key[3] = std::byte{7};
    Salt salt{};
    salt[0] = std::byte{9};
    auto payload = plain;
    applyKeystream(key, salt, 42, payload);
    DecodeAhead::Job job;
    job.generation = 3;
    job.index = 42;
    job.codec = kCodecPlain;
    job.decodedLength = static_cast<uint32_t>(plain.size());
    job.key = key;
    job.salt = salt;
    DecodeAhead ahead;
    ASSERT_TRUE(ahead.start(job, payload));
    EXPECT_EQ(collect(ahead, 3, {42})[42], plain);
}

TEST(DecodeAheadTest, AForkedChildNeitherWaitsForNorUsesTheParentsWorker)
{
    const auto plain = text(65536);
    const auto frame = zstdFrame(plain);
    DecodeAhead ahead;
    ASSERT_TRUE(ahead.start(zstdJob(1, 1, plain.size()), frame));
    EXPECT_EQ(collect(ahead, 1, {1})[1], plain);
    ASSERT_TRUE(ahead.start(zstdJob(1, 2, plain.size()), frame));
    pid_t child = ::fork();
    if (child == 0) {
        ChunkDecoder decoder;
        std::vector<std::byte> mine;
        uint64_t index = 0;
        const bool taken =
            ahead.take(1, 2, mine, decoder) || ahead.takeAnyDone(1, &index, mine) || ahead.holds(1, 2);
        const bool started = ahead.start(zstdJob(1, 3, plain.size()), frame);
        ::_exit(taken || started ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(collect(ahead, 1, {2})[2], plain);
    // Left with a job running: the destructor stops and joins the worker.
    ASSERT_TRUE(ahead.start(zstdJob(1, 3, plain.size()), frame));
}

} // namespace
} // namespace imbrex::zbi
