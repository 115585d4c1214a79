#include "VolumeImages.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "capture/RawVolume.h"
#include "common/Progress.h"
#include "imgstore/zbimgstr.h"
#include "tests/support/Shell.h"

namespace imbrex::test {

bool writeVolumeImage(const std::filesystem::path &raw, const std::string &image, uint32_t compression,
                      const char *password)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreCreateNew(image.c_str(), kNoSplit, 0, 0, nullptr, &error));
    EXPECT_TRUE(store) << error;
    if (!store)
        return false;
    capture::ImportOptions options;
    options.compression = compression;
    if (password)
        options.password = ConvertPasswordString(password);
    NoProgress progress;
    const int imported = capture::importPartition(*store, raw.string(), options, progress);
    EXPECT_EQ(imported, 0);
    const int closed = store->Close();
    EXPECT_EQ(closed, 0);
    return imported == 0 && closed == 0;
}

std::filesystem::path makeFatWithFarFile(const std::filesystem::path &dir)
{
    const std::string raw = (dir / "far.img").string();
    const std::string filler = (dir / "filler.bin").string();
    const std::string far = (dir / "far.bin").string();
    const std::string script = "export MTOOLS_SKIP_CHECK=1 PATH=$PATH:/sbin:/usr/sbin; mkfs.fat -C -F 16 " +
                               quote(raw) + " 32768 >/dev/null && head -c 8000000 /dev/urandom > " +
                               quote(filler) + " && head -c 1000000 /dev/urandom > " + quote(far) +
                               " && mcopy -i " + quote(raw) + " " + quote(filler) + " " + quote(far) + " ::/";
    return std::system(script.c_str()) == 0 ? std::filesystem::path(raw) : std::filesystem::path();
}

} // namespace imbrex::test
