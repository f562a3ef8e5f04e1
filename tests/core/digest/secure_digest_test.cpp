// Tests of the secure digest (digest layer): the plain MD5, feeding in pieces,
// keyed digests, the bounded copy, and agreement with md5sum.
#include "core/digest/secure_digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

std::string Digest(std::string_view bytes, const char* key, size_t out_len = 33) {
  DigestPtr context = DigestNew();
  EXPECT_TRUE(context);
  DigestUpdate(context.get(), bytes.data(), bytes.size());
  std::string out(out_len, '\x7f');
  EXPECT_EQ(SecureDigest(context.get(), out.data(), out_len, key), kDigestOk);
  return out;
}

std::string Text(std::string_view bytes, const char* key) {
  const std::string out = Digest(bytes, key);
  return std::string(out.c_str());
}

TEST(SecureDigest, WithoutKeyIsThePlainMd5OfRfc1321) {
  EXPECT_EQ(Text("", nullptr), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Text("a", nullptr), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Text("abc", nullptr), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Text("message digest", nullptr), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Text("abcdefghijklmnopqrstuvwxyz", nullptr), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Text("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", nullptr),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Text("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                 "7890",
                 nullptr),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(SecureDigest, FeedingInPiecesEqualsFeedingAtOnce) {
  const std::string data = qx_test::RandomBytes(5000, 3);
  DigestPtr context = DigestNew();
  for (size_t at = 0; at < data.size(); at += 7) {
    DigestUpdate(context.get(), data.data() + at, std::min<size_t>(7, data.size() - at));
  }
  DigestUpdate(context.get(), nullptr, 0);
  char out[33];
  ASSERT_EQ(SecureDigest(context.get(), out, sizeof out, "Demo"), kDigestOk);
  EXPECT_EQ(std::string(out), Text(data, "Demo"));
}

TEST(SecureDigest, KeyedDigestsDependOnTheKeyAndRepeat) {
  const std::string plain = Text("payload", nullptr);
  const std::string demo = Text("payload", "Demo");
  const std::string other = Text("payload", "Other");
  EXPECT_NE(demo, plain);
  EXPECT_NE(demo, other);
  EXPECT_EQ(demo, Text("payload", "Demo"));
  EXPECT_EQ(demo.size(), 32u);
  EXPECT_EQ(demo.find_first_not_of("0123456789abcdef"), std::string::npos);
  // An empty key name is a key too, not the plain digest.
  EXPECT_NE(Text("payload", ""), plain);
}

TEST(SecureDigest, CopiesTheTextBoundedByTheOutputLength) {
  const std::string full = Text("abc", "k");
  const std::string out33 = Digest("abc", "k", 33);
  EXPECT_EQ(out33.substr(0, 32), full);
  EXPECT_EQ(out33[32], '\0');
  const std::string out40 = Digest("abc", "k", 40);
  EXPECT_EQ(out40.substr(0, 32), full);
  EXPECT_EQ(out40.substr(32), std::string(8, '\0'));
  const std::string out16 = Digest("abc", "k", 16);
  EXPECT_EQ(out16, full.substr(0, 16));  // no terminator written
  // Length 0 writes nothing at all.
  DigestPtr context = DigestNew();
  char guard = '#';
  EXPECT_EQ(SecureDigest(context.get(), &guard, 0, "k"), kDigestOk);
  EXPECT_EQ(guard, '#');
}

TEST(SecureDigest, PlainDigestOfFilesEqualsMd5sum) {
  qx_test::TempDir dir;
  const std::string data = qx_test::RandomBytes(70000, 9);
  qx_test::WriteFile(dir / "blob", data);
  const qx_test::CommandResult md5 =
      qx_test::RunCommand("md5sum " + qx_test::ShellQuote(dir / "blob"));
  ASSERT_EQ(md5.status, 0);
  EXPECT_EQ(md5.out.substr(0, 32), Text(data, nullptr));
}

TEST(SecureDigest, KeyPrefixNeverStandsWholeInTheBuiltPrograms) {
  // Built here from its hex text, so that this test's own binary does not
  // hold it either.
  std::string prefix;
  for (const char* hex = "51b72ed4096af38c"; *hex != 0; hex += 2) {
    prefix += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  }
  ASSERT_EQ(prefix.size(), 8u);
  for (const std::string& path : {std::string(QX_CORE_LIBRARY_PATH), qx_test::QxwebPath()}) {
    const std::string bytes = qx_test::ReadFile(path);
    ASSERT_FALSE(bytes.empty()) << path;
    EXPECT_EQ(bytes.find(prefix), std::string::npos) << path;
  }
}

}  // namespace
}  // namespace qx
