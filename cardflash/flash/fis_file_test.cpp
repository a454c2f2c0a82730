// The information block's file side: loading refuses other files, loading shares the file for
// reading, saving replaces an existing file only.
#include <gtest/gtest.h>

#include "cardflash/flash/fis.h"
#include "fw_test_files.h"

using fwtest::Bytes;
using fwtest::FisImage;

namespace {

Bytes Out(const CFis& fis) {
    Bytes b(static_cast<size_t>(fis.GetSize()));
    EXPECT_EQ(fis.CopyOut(b.data(), static_cast<int>(b.size())), 0);
    return b;
}

}  // namespace

TEST(FisBlock, LoadFileRefusesOtherFiles) {
    Bytes wrong_name = FisImage().Build();
    wrong_name[0x4007] = 'X';
    const Bytes too_short(wrong_name.begin(), wrong_name.begin() + 0x4007);
    fwtest::TempFolder dir;
    CFis fis;
    // An image held from before does not survive a refused load.
    ASSERT_EQ(fis.LoadFile(dir.Write("good.bin", FisImage().Build()).c_str()), 0);
    EXPECT_EQ(fis.LoadFile(dir.Write("name.bin", wrong_name).c_str()), 66);
    EXPECT_FALSE(fis.IsLoaded());
    EXPECT_EQ(fis.GetSize(), -1);
    EXPECT_EQ(fis.LoadFile(dir.Write("short.bin", too_short).c_str()), 66);
    EXPECT_EQ(fis.LoadFile(dir.File("missing.bin").c_str()), 66);
    EXPECT_FALSE(fis.IsLoaded());
    EXPECT_EQ(fis.GetSize(), -1);
}

TEST(FisBlock, LoadsAFileOthersHoldForReadingAndSavesOverAnExistingOne) {
    fwtest::TempFolder dir;
    const Bytes image = fwtest::FullFisImage().Build();
    const std::string path = dir.Write("image.bin", image);
    // Another reader that lets others only read: an open asking for write access would fail.
    fwtest::ReadHolder holder(path);
    CFis fis;
    ASSERT_EQ(fis.LoadFile(path.c_str()), 0);
    EXPECT_TRUE(fis.IsLoaded());
    EXPECT_EQ(Out(fis), image);
    EXPECT_EQ(fis.SaveFile(path.c_str()), 64);

    const std::string target = dir.Write("target.bin", Bytes(10, 0x55));
    ASSERT_EQ(fis.Set(0x21, "NEW", 3), 0);
    ASSERT_EQ(fis.SaveFile(target.c_str()), 0);
    EXPECT_EQ(fwtest::ReadFileBytes(target), Out(fis));
    EXPECT_EQ(fis.SaveFile(dir.File("absent.bin").c_str()), 64);  // only an existing file
}
