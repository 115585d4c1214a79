#include "imgstore/DecodeAhead.h"

#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zstd.h>

#include <gtest/gtest.h>

#include "imgstore/ChunkCodec.h"

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

TEST(DecodeAheadTest, HandsOverOnlyTheChunkItWasGivenAndOnlyWhenItDecoded)
{
    const auto plain = text(65536);
    const auto frame = zstdFrame(plain);
    DecodeAhead ahead;
    std::vector<std::byte> out;
    EXPECT_FALSE(ahead.take(1, 5, out)); // nothing started

    ASSERT_TRUE(ahead.start(zstdJob(1, 5, plain.size()), frame));
    EXPECT_FALSE(ahead.take(2, 5, out)); // another generation: the store's state changed since
    EXPECT_FALSE(ahead.take(1, 6, out)); // another chunk
    ASSERT_TRUE(ahead.take(1, 5, out));
    EXPECT_EQ(out, plain);
    EXPECT_FALSE(ahead.take(1, 5, out)); // a job is handed over once

    // A payload that does not decode is not handed over; the reader decodes it itself and reports it.
    auto damaged = frame;
    damaged[damaged.size() / 2] ^= std::byte{0x5A};
    damaged.resize(damaged.size() - 3);
    ASSERT_TRUE(ahead.start(zstdJob(1, 6, plain.size()), damaged));
    EXPECT_FALSE(ahead.take(1, 6, out));
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
    std::vector<std::byte> out;
    ASSERT_TRUE(ahead.take(3, 42, out));
    EXPECT_EQ(out, plain);
}

TEST(DecodeAheadTest, AForkedChildNeitherWaitsForNorUsesTheParentsWorker)
{
    const auto plain = text(65536);
    const auto frame = zstdFrame(plain);
    DecodeAhead ahead;
    ASSERT_TRUE(ahead.start(zstdJob(1, 1, plain.size()), frame));
    std::vector<std::byte> out;
    ASSERT_TRUE(ahead.take(1, 1, out));
    ASSERT_TRUE(ahead.start(zstdJob(1, 2, plain.size()), frame));
    pid_t child = ::fork();
    if (child == 0) {
        std::vector<std::byte> mine;
        const bool taken = ahead.take(1, 2, mine);
        const bool started = ahead.start(zstdJob(1, 3, plain.size()), frame);
        ::_exit(taken || started ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(ahead.take(1, 2, out));
    EXPECT_EQ(out, plain);
    // Left with a job running: the destructor stops and joins the worker.
    ASSERT_TRUE(ahead.start(zstdJob(1, 3, plain.size()), frame));
}

} // namespace
} // namespace imbrex::zbi
