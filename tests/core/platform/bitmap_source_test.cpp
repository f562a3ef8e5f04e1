// Tests of the bitmap sources (platform layer): the BMP reader, module
// handles and directory modules.
#include "core/platform/bitmap_source.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
}
void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

// A BMP file whose stored rows are |rows| (in file order), each padded by the
// caller to |stride| bytes.
std::string Bmp(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                const std::string& rows) {
  std::string file(54, '\0');
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, static_cast<uint32_t>(54 + rows.size()));
  Put32(file, 10, 54);
  Put32(file, 14, 40);
  Put32(file, 18, static_cast<uint32_t>(width));
  Put32(file, 22, static_cast<uint32_t>(height));
  Put16(file, 26, 1);
  Put16(file, 28, bpp);
  Put32(file, 30, compression);
  return file + rows;
}

TEST(ReadBmpFile, HandsBottomUpRowsOverTopRowFirstWithThePaddedWidth) {
  qx_test::TempDir dir;
  // 24 bits, 3 pixels wide: 9 bytes of pixels padded to a 12-byte row.
  const std::string bottom = std::string(9, 'B') + std::string(3, '\0');
  const std::string top = std::string(9, 'T') + std::string(3, '\0');
  qx_test::WriteFile(dir / "pic.bmp", Bmp(3, 2, 24, 0, bottom + top));
  Bitmap bitmap;
  ASSERT_TRUE(ReadBmpFile(dir / "pic.bmp", bitmap));
  EXPECT_EQ(bitmap.width, 3);
  EXPECT_EQ(bitmap.height, 2);
  EXPECT_EQ(bitmap.width_bytes, 12);
  EXPECT_EQ(std::string(bitmap.bits.begin(), bitmap.bits.end()), top + bottom);
}

TEST(ReadBmpFile, KeepsTopDownRowsInOrder) {
  qx_test::TempDir dir;
  const std::string rows = std::string(4, '1') + std::string(4, '2');  // 8 bpp, width 4
  qx_test::WriteFile(dir / "td.bmp", Bmp(4, -2, 8, 0, rows));
  Bitmap bitmap;
  ASSERT_TRUE(ReadBmpFile(dir / "td.bmp", bitmap));
  EXPECT_EQ(bitmap.height, 2);
  EXPECT_EQ(std::string(bitmap.bits.begin(), bitmap.bits.end()), rows);
}

TEST(ReadBmpFile, RefusesCompressedTruncatedAndForeignFiles) {
  qx_test::TempDir dir;
  Bitmap bitmap;
  qx_test::WriteFile(dir / "rle.bmp", Bmp(4, 2, 8, 1 /* RLE8 */, std::string(8, 'x')));
  EXPECT_FALSE(ReadBmpFile(dir / "rle.bmp", bitmap));
  qx_test::WriteFile(dir / "short.bmp", Bmp(4, 2, 8, 0, std::string(5, 'x')));
  EXPECT_FALSE(ReadBmpFile(dir / "short.bmp", bitmap));
  qx_test::WriteFile(dir / "png.bmp", "\x89PNG\r\n\x1a\n" + std::string(60, '\0'));
  EXPECT_FALSE(ReadBmpFile(dir / "png.bmp", bitmap));
  EXPECT_FALSE(ReadBmpFile(dir / "missing.bmp", bitmap));
}

TEST(BitmapModules, HandlesStartAt32AndNameOpenModulesOnly) {
  auto source = std::make_shared<MemoryBitmapSource>();
  const ModuleHandle handle = OpenBitmapModule(source);
  EXPECT_GE(handle, kFirstModuleHandle);
  EXPECT_EQ(FindBitmapModule(handle), source);
  EXPECT_EQ(FindBitmapModule(0), nullptr);
  EXPECT_EQ(FindBitmapModule(31), nullptr);
  CloseBitmapModule(handle);
  EXPECT_EQ(FindBitmapModule(handle), nullptr);
}

TEST(BitmapModules, DirectoryModuleLoadsNamedBitmapsOnly) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "LOGO.bmp", Bmp(4, 1, 8, 0, "abcd"));
  DirectoryBitmapSource source(dir.path());
  Bitmap bitmap;
  EXPECT_TRUE(source.Load("LOGO", bitmap));
  EXPECT_FALSE(source.Load("OTHER", bitmap));
  EXPECT_FALSE(source.Load("../LOGO", bitmap));
}

}  // namespace
}  // namespace qx
