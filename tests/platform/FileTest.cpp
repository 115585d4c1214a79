// Opening files by kind: what is not a regular file (or, for a volume, a block device) is refused without
// the open waiting on it, and names of one file are known as one.
#include "platform/File.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace platform = imbrex::platform;

namespace {

// The code an open of path gives, run in a child process so that an open that waits for ever ends the child
// (by its alarm) instead of the test program.
int openInChild(const std::string &path, bool volume)
{
    pid_t child = ::fork();
    if (child == 0) {
        ::alarm(120);
        platform::File file;
        int e = volume ? file.openVolume(path) : file.open(path, platform::FileAccess::Read);
        ::_exit(e & 0xff);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(File, WhatIsNotARegularFileIsRefusedWithoutWaiting)
{
    imbrex::test::TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(openInChild(fifo, false), platform::kErrorAccessDenied);
    EXPECT_EQ(openInChild(fifo, true), platform::kErrorAccessDenied);
    EXPECT_EQ(openInChild(dir.path().string(), true), platform::kErrorAccessDenied);
    EXPECT_EQ(openInChild("/dev/zero", true), platform::kErrorAccessDenied);
    EXPECT_EQ(openInChild(dir.file("missing"), true), platform::kErrorFileNotFound);

    const std::string regular = dir.file("volume.img");
    std::ofstream(regular) << std::string(1536, 'v');
    platform::File file;
    ASSERT_EQ(file.openVolume(regular), 0);
    uint64_t size = 0;
    ASSERT_EQ(file.size(&size), 0);
    EXPECT_EQ(size, 1536u);
    // The file reads as it would have without the non-waiting open.
    std::byte byte{};
    size_t got = 0;
    ASSERT_EQ(file.readAt(1535, std::span(&byte, 1), &got), 0);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, std::byte{'v'});

    EXPECT_EQ(platform::fileKindOf(fifo), platform::FileKind::Fifo);
    EXPECT_EQ(platform::fileKindOf(regular), platform::FileKind::Regular);
    EXPECT_EQ(platform::fileKindOf("/dev/null"), platform::FileKind::CharacterDevice);
    EXPECT_EQ(platform::fileKindOf(dir.path().string()), platform::FileKind::Directory);
    EXPECT_EQ(platform::fileKindOf(dir.file("missing")), platform::FileKind::Missing);
}

TEST(File, NamesOfOneFileAreTheSameFile)
{
    imbrex::test::TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b");
    std::ofstream(a) << "x";
    std::ofstream(b) << "x";
    std::filesystem::create_hard_link(a, dir.file("hard"));
    std::filesystem::create_symlink(a, dir.file("soft"));
    EXPECT_TRUE(platform::isSameFile(a, dir.file("hard")));
    EXPECT_TRUE(platform::isSameFile(dir.file("soft"), a));
    EXPECT_TRUE(platform::isSameFile(a, dir.path().string() + "/./a"));
    EXPECT_FALSE(platform::isSameFile(a, b)); // equal content, another file
    EXPECT_FALSE(platform::isSameFile(a, dir.file("missing")));
    EXPECT_FALSE(platform::isSameFile(dir.file("missing"), dir.file("missing")));
}
