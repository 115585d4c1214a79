// Copying a range of one file into another: inside the kernel on one file system, through memory across file
// systems, the same bytes either way.
#include "platform/FileCopy.h"

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "tests/support/TempDir.h"

namespace platform = imbrex::platform;

namespace {

std::vector<std::byte> pattern(size_t size)
{
    std::vector<std::byte> bytes(size);
    uint32_t x = 12345;
    for (std::byte &b : bytes) {
        x = x * 1103515245 + 12345;
        b = static_cast<std::byte>(x >> 24);
    }
    return bytes;
}

std::vector<std::byte> contents(platform::File &file)
{
    uint64_t size = 0;
    EXPECT_EQ(file.size(&size), 0);
    std::vector<std::byte> bytes(size);
    size_t got = 0;
    EXPECT_EQ(file.readAt(0, bytes, &got), 0);
    return bytes;
}

// Where a directory on another file system than dir can be made, else "".
std::string otherFileSystem(const std::string &dir)
{
    struct stat a
    {
    }, b{};
    if (::stat(dir.c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
        return {};
    return "/dev/shm";
}

std::vector<std::string> g_asked;

int recordingHook(platform::IoOperation operation, const std::string &path, uint64_t offset, size_t length)
{
    if (operation == platform::IoOperation::Write)
        g_asked.push_back(path + "@" + std::to_string(offset) + "+" + std::to_string(length));
    return 0;
}

} // namespace

TEST(FileCopy, CopiesARangeToAnOffsetWithOrWithoutTheBytesInHand)
{
    imbrex::test::TempDir dir;
    const std::vector<std::byte> data = pattern(3 << 20);
    platform::File source;
    ASSERT_EQ(source.createExclusive(dir.file("source")), 0);
    ASSERT_EQ(source.writeAt(0, data), 0);

    std::vector<std::string> places = {dir.path().string()};
    if (std::string other = otherFileSystem(dir.path().string()); !other.empty())
        places.push_back(other);
    const uint64_t from = 12345, to = 4097, length = (2 << 20) + 7;
    const auto expected = std::span(data).subspan(from, length);
    for (const std::string &place : places) {
        for (bool inHand : {false, true}) {
            SCOPED_TRACE(place + (inHand ? " in hand" : ""));
            const std::string path = place + "/imbrex-copy-" + std::to_string(::getpid());
            platform::File target;
            ASSERT_EQ(target.createReplacing(path), 0);
            ASSERT_EQ(target.writeAt(0, std::span(data).first(to)), 0);
            g_asked.clear();
            platform::setIoFaultHook(recordingHook);
            int e = platform::copyFileRange(source, from, target, to, length,
                                            inHand ? expected : std::span<const std::byte>{});
            platform::setIoFaultHook(nullptr);
            ASSERT_EQ(e, 0);
            // Asked once, as for one write of the whole range.
            EXPECT_EQ(g_asked, std::vector<std::string>{path + "@4097+" + std::to_string(length)});
            std::vector<std::byte> got = contents(target);
            ASSERT_EQ(got.size(), to + length);
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + to, data.begin()));
            EXPECT_TRUE(std::equal(got.begin() + to, got.end(), expected.begin()));
            target.close();
            std::filesystem::remove(path);
        }
    }
}

TEST(FileCopy, ASourceShorterThanTheRangeIsAnError)
{
    imbrex::test::TempDir dir;
    const std::vector<std::byte> data = pattern(100000);
    platform::File source, target;
    ASSERT_EQ(source.createExclusive(dir.file("source")), 0);
    ASSERT_EQ(source.writeAt(0, data), 0);
    ASSERT_EQ(target.createExclusive(dir.file("target")), 0);
    EXPECT_NE(platform::copyFileRange(source, 50000, target, 0, 60000), 0);
    // A fault the hook reports stops the copy before anything is written.
    platform::setIoFaultHook([](platform::IoOperation, const std::string &, uint64_t, size_t) {
        return platform::kErrorDiskFull;
    });
    platform::File empty;
    ASSERT_EQ(empty.createExclusive(dir.file("empty")), 0);
    EXPECT_EQ(platform::copyFileRange(source, 0, empty, 0, 1000), platform::kErrorDiskFull);
    platform::setIoFaultHook(nullptr);
    uint64_t size = 1;
    EXPECT_EQ(empty.size(&size), 0);
    EXPECT_EQ(size, 0u);
}
