// NTFS_VOLUME on real volumes made by mkntfs and ntfscp: the root listing must equal ntfsls's, in the same
// index order, and every file must read back as ntfscat delivers it.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "engine/ConvertName.h"
#include "engine/SectorSource.h"
#include "engine/ntfs/NTFS_VOLUME.h"
#include "engine/ntfs/NtfsNames.h"
#include "tests/support/MemorySectorSource.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using namespace imbrex::engine;
using imbrex::test::MemorySectorSource;

namespace {

constexpr uint64_t kHugeBytes = uint64_t{5} << 30;

bool haveTool(const std::string &tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string quote(const std::string &text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string run(const std::string &command)
{
    FILE *pipe = ::popen(("LC_ALL=C.UTF-8 " + command).c_str(), "r");
    if (pipe == nullptr)
        return {};
    std::string out;
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    ::pclose(pipe);
    return out;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

class NtfsFixtureTest : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        if (!haveTool("ntfsls") || !haveTool("ntfscat"))
            GTEST_SKIP() << "ntfs-3g is not installed";
        m_path = (test::fixtureDir() / GetParam()).string();
        m_source = std::make_unique<MemorySectorSource>(MemorySectorSource::fromFile(m_path));
        if (m_source->data().empty())
            GTEST_SKIP() << m_path << " was not made";
        ASSERT_EQ(setAnsiCharset("UTF-8"), 0);
        m_info = m_source->partitionInfo(kFileSystemNtfs);
        setCurrentSectorSource(m_source.get());
        m_volume = std::make_unique<NTFS_VOLUME>(&m_info);
        ASSERT_EQ(m_volume->Mount(), rc::kOk);
    }
    void TearDown() override
    {
        m_volume.reset();
        setCurrentSectorSource(nullptr);
        (void)setAnsiCodePage(0);
    }

    std::string m_path;
    std::unique_ptr<MemorySectorSource> m_source;
    PARTITION_INFO m_info;
    std::unique_ptr<NTFS_VOLUME> m_volume;
};

TEST_P(NtfsFixtureTest, ListingAndContentsMatchTheNtfsTools)
{
    DIRLIST list;
    ASSERT_EQ(m_volume->NtfsListDirectory(list, "\\", 1), rc::kOk);
    std::vector<std::string> ours;
    for (int i = 0; i < list.GetCount(); ++i)
        ours.push_back(list.Entry(i)->name);
    // ntfsls prints the root's entries before those of the blocks, so only the sets are compared; ours must
    // come in key order.
    auto theirs = lines(run("ntfsls " + quote(m_path)));
    auto sorted = ours;
    std::sort(sorted.begin(), sorted.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(sorted, theirs);
    ASSERT_FALSE(ours.empty());
    for (size_t i = 1; i < ours.size(); ++i)
        EXPECT_LE(CompareNames(ansiToUtf16(ours[i - 1]), ansiToUtf16(ours[i])), 0) << ours[i];

    for (int i = 0; i < list.GetCount(); ++i) {
        const DirListEntry &entry = *list.Entry(i);
        const std::string path = "\\" + entry.name;
        // The listing names each file's record: it opens the file its path leads to.
        uint32_t record = 0;
        uint32_t parent = 0;
        ASSERT_EQ(m_volume->LookupPath(path.c_str(), record, parent), rc::kOk) << entry.name;
        EXPECT_EQ(entry.recordNumber, record) << entry.name;
        NtfsFileHandle *h = nullptr;
        ASSERT_EQ(m_volume->NtfsOpenRecord(entry.recordNumber, &h), rc::kOk) << entry.name;
        const uint64_t size = m_volume->NtfsGetFileSize64(h);
        // Where the data begins on the volume holds its first bytes (resident data lies in the record: 0).
        uint64_t cluster = 0;
        ASSERT_EQ(m_volume->NtfsDataStart(entry.recordNumber, &cluster), rc::kOk);
        EXPECT_EQ(cluster != 0, h->data->NonResident() && size > 0) << entry.name;
        EXPECT_EQ(size, entry.size) << entry.name;
        if (size == kHugeBytes) {
            // Only the start and the very end of the 5 GiB file are compared.
            EXPECT_EQ(m_volume->NtfsGetFileSize(h), 0xFFFFFFFFu);
            std::string head(4096, '\0');
            ASSERT_EQ(m_volume->NtfsReadFile(h, head.data(), 4096), rc::kOk);
            EXPECT_EQ(head, run("ntfscat " + quote(m_path) + " " + quote(entry.name) + " | head -c 4096"));
            std::string tail(65536, 'x');
            h->position = size - tail.size();
            ASSERT_EQ(m_volume->NtfsReadFile(h, tail.data(), 65536), rc::kOk);
            EXPECT_EQ(tail, std::string(65536, '\0'));
        } else {
            std::string data(size, '\0');
            for (uint64_t done = 0; done < size;) {
                const auto n = static_cast<uint32_t>(std::min<uint64_t>(size - done, 65536));
                ASSERT_EQ(m_volume->NtfsReadFile(h, data.data() + done, n), rc::kOk) << entry.name;
                done += n;
            }
            EXPECT_TRUE(data == run("ntfscat " + quote(m_path) + " " + quote(entry.name))) << entry.name;
            // A file that begins with a hole reads zeros there; its data begins further on.
            const std::string head = data.substr(0, 512);
            const uint64_t at = cluster * m_volume->Geometry().clusterBytes;
            if (cluster != 0 && head.find_first_not_of('\0') != std::string::npos) {
                ASSERT_LE(at + head.size(), m_source->data().size()) << entry.name;
                EXPECT_EQ(std::memcmp(m_source->data().data() + at, head.data(), head.size()), 0)
                    << entry.name;
            }
        }
        EXPECT_EQ((h->flags & kNtfsHandleMultipleData) != 0, entry.name == "ads.txt") << entry.name;
        EXPECT_EQ(m_volume->NtfsCloseFile(h), rc::kOk);
    }
    EXPECT_EQ(m_volume->OpenRecordCount(), 2u);
}

TEST_P(NtfsFixtureTest, MetadataFilesOpenButAreNotListed)
{
    NtfsFileHandle *h = nullptr;
    ASSERT_EQ(m_volume->NtfsOpenFile("\\$Boot", &h), rc::kOk);
    std::string boot(512, '\0');
    ASSERT_EQ(m_volume->NtfsReadFile(h, boot.data(), 512), rc::kOk);
    EXPECT_EQ(boot.substr(3, 8), "NTFS    ");
    EXPECT_EQ(m_volume->NtfsCloseFile(h), rc::kOk);
    uint32_t record = 0;
    uint32_t parent = 0;
    ASSERT_EQ(m_volume->LookupPath("\\$mft", record, parent), rc::kOk);
    EXPECT_EQ(record, 0u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsFixtureTest,
                         ::testing::Values("ntfs.img", "ntfs-rich.img", "ntfs-512.img", "ntfs-64k.img"),
                         [](const auto &param) {
                             std::string name = param.param;
                             for (char &c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

} // namespace
