// Tests of the digests of a bitmap resource and of a text file (digest
// layer).
#include "core/digest/file_digests.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/digest/secure_digest.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

// The keyed digest of |bytes| as text.
std::string Text(std::string_view bytes, const char* key) {
  DigestPtr context = DigestNew();
  DigestUpdate(context.get(), bytes.data(), bytes.size());
  char out[kDigestBufferSize] = {};
  EXPECT_EQ(SecureDigest(context.get(), out, sizeof out, key), kDigestOk);
  return out;
}

TEST(DigestBitmapResource, FeedsEachRowWithoutItsLastTwoBytesKeyedByTheName) {
  auto source = std::make_shared<MemoryBitmapSource>();
  Bitmap bitmap;
  bitmap.width = 2;
  bitmap.height = 2;
  bitmap.width_bytes = 8;
  const std::string rows = "ABCDEFxxGHIJKLyy";
  bitmap.bits.assign(rows.begin(), rows.end());
  source->Add("SPLASH", bitmap);
  Bitmap narrow;
  narrow.width = 1;
  narrow.height = 3;
  narrow.width_bytes = 2;
  narrow.bits.assign(6, 0x55);
  source->Add("NARROW", narrow);
  const ModuleHandle module = OpenBitmapModule(source);

  char out[33] = {};
  ASSERT_EQ(DigestBitmapResource(module, "SPLASH", sizeof out, out), kDigestOk);
  EXPECT_EQ(std::string(out), Text("ABCDEFGHIJKL", "SPLASH"));
  // Rows two bytes wide feed nothing: the keyed digest of the empty stream.
  ASSERT_EQ(DigestBitmapResource(module, "NARROW", sizeof out, out), kDigestOk);
  EXPECT_EQ(std::string(out), Text("", "NARROW"));

  char untouched[33] = "unchanged";
  EXPECT_EQ(DigestBitmapResource(module, "MISSING", sizeof untouched, untouched), kDigestFailed);
  EXPECT_EQ(DigestBitmapResource(31, "SPLASH", sizeof untouched, untouched), kDigestFailed);
  EXPECT_EQ(DigestBitmapResource(module, nullptr, sizeof untouched, untouched), kDigestFailed);
  EXPECT_EQ(DigestBitmapResource(module, "SPLASH", sizeof untouched, nullptr), kDigestFailed);
  EXPECT_STREQ(untouched, "unchanged");
  CloseBitmapModule(module);
}

TEST(DigestTextFile, CrLfLinesDigestLikeTheirLfTwinKeyedByTheBareFileName) {
  qx_test::TempDir dir;
  // Long enough that some reads stop inside a line (255 characters a read).
  std::string lf, crlf;
  for (int i = 0; i < 40; ++i) {
    const std::string line = std::string(static_cast<size_t>(i * 13 % 300), 'x') + "end";
    lf += line + "\n";
    crlf += line + "\r\n";
  }
  qx_test::WriteFile(dir / "lf/notes.txt", lf);
  qx_test::WriteFile(dir / "crlf/notes.txt", crlf);
  char a[33] = {}, b[33] = {};
  ASSERT_EQ(DigestTextFile((dir / "lf/notes.txt").c_str(), sizeof a, a), kDigestOk);
  ASSERT_EQ(DigestTextFile((dir / "crlf/notes.txt").c_str(), sizeof b, b), kDigestOk);
  EXPECT_STREQ(a, b);
  EXPECT_EQ(std::string(a), Text(lf, "notes.txt"));
  // A lone CR that is not followed by a line feed stays.
  qx_test::WriteFile(dir / "cr.txt", "a\rb\n");
  ASSERT_EQ(DigestTextFile((dir / "cr.txt").c_str(), sizeof a, a), kDigestOk);
  EXPECT_EQ(std::string(a), Text("a\rb\n", "cr.txt"));
  EXPECT_EQ(DigestTextFile((dir / "none.txt").c_str(), sizeof a, a), kDigestFailed);
  EXPECT_EQ(DigestTextFile(nullptr, sizeof a, a), kDigestFailed);
}

}  // namespace
}  // namespace qx
