// Tests of the header lines (format layer): the key table, both writers' line
// forms, the digest rule and HeaderLineWriter.
#include "core/format/header_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

std::string DigestOf(std::string_view bytes, const char* key) {
  DigestPtr context = DigestNew();
  DigestUpdate(context.get(), bytes.data(), bytes.size());
  char out[33];
  SecureDigest(context.get(), out, sizeof out, key);
  return out;
}

TEST(HeaderKeys, TableHoldsTheTwentyTwoKeysInWriteOrder) {
  const char* const expected[] = {"Owner",
                                  "Copyright",
                                  "ApplName",
                                  "CommandLine",
                                  "Version",
                                  "MinVersion",
                                  "Date",
                                  "Delete",
                                  "ReadmeFile",
                                  "RegistryFile",
                                  "CompanyIdentity",
                                  "DownloadSplash",
                                  "LaunchSplash",
                                  "DownloadIcon",
                                  "LaunchIcon",
                                  "CorruptIcon",
                                  "DownloadDetail",
                                  "CombineDownloadLaunch",
                                  "LaunchSplashDuration",
                                  "InstallTo",
                                  "UpdateOption",
                                  "Comment"};
  ASSERT_EQ(kHeaderKeys.size(), std::size(expected));
  for (size_t i = 0; i < kHeaderKeys.size(); ++i) {
    EXPECT_EQ(kHeaderKeys[i].name, expected[i]);
    EXPECT_EQ(static_cast<size_t>(kHeaderKeys[i].key), i);
    // Only the command line stays out of the header digest.
    EXPECT_EQ(kHeaderKeys[i].digested, kHeaderKeys[i].key != HeaderKey::kCommandLine);
  }
  EXPECT_EQ(HeaderKeyOf(HeaderKey::kCommandLine).capacity, 256u);
  EXPECT_EQ(HeaderKeyOf(HeaderKey::kInstallTo).capacity, 80u);
  EXPECT_EQ(HeaderKeyOf(HeaderKey::kLaunchSplashDuration).capacity, 8u);
}

TEST(HeaderLines, MagicLinesOfBothWriters) {
  EXPECT_EQ(SealerMagicLine(), "##QXWEB## 1.0");
  EXPECT_EQ(LibraryMagicLine(2, 1), "##QXWEB## 2.1");
}

TEST(HeaderLines, CommentBlocksDifferOnlyInTheWriterLine) {
  const auto sealer = CommentBlock(HeaderWriter::kSealer);
  const auto library = CommentBlock(HeaderWriter::kLibrary);
  EXPECT_EQ(sealer[1], "; This package was created by Tarnwick Web Lite Sealer");
  EXPECT_EQ(library[1], "; This package was created by Tarnwick Web Sealer");
  for (size_t i : {0u, 2u, 3u, 4u, 5u}) {
    EXPECT_EQ(sealer[i], library[i]);
  }
  EXPECT_EQ(sealer[2], ";");
  EXPECT_EQ(sealer[3], "; Modifying these contents directly will corrupt the");
  EXPECT_EQ(sealer[4], "; package making it impossible to download or run.");
}

TEST(HeaderLines, EmptyValueFormsDifferOnDiskButDigestAlike) {
  EXPECT_EQ(KeyLine("ReadmeFile", "", HeaderWriter::kSealer), "ReadmeFile:");
  EXPECT_EQ(KeyLine("ReadmeFile", "", HeaderWriter::kLibrary), "ReadmeFile: ");
  EXPECT_EQ(KeyLine("Owner", "Tarnwick", HeaderWriter::kSealer), "Owner: Tarnwick");
  EXPECT_EQ(DigestedText(KeyLine("ReadmeFile", "", HeaderWriter::kLibrary)),
            DigestedText(KeyLine("ReadmeFile", "", HeaderWriter::kSealer)));
}

TEST(HeaderLines, VersionLetterFollowsTheDotdotNumber) {
  VersionNumber version{1, 2, 3, 'a'};
  EXPECT_EQ(FormatVersionText(version), "01.02.03a");
  EXPECT_EQ(KeyLine("Version", FormatVersionText(version), HeaderWriter::kLibrary),
            "Version: 01.02.03a");
  EntryFields entry;
  entry.name = "bin\\demo.exe";
  entry.version = version;
  const auto lines = LibraryEntryLines(entry);
  EXPECT_EQ(lines[1].substr(0, 23), "   Version = 01.02.03a;");
  EXPECT_EQ(FormatVersionText({1, 0, 0, 0}), "01.00.00");
}

TEST(HeaderLines, BothWritersProduceTheSameEntryText) {
  EntryFields entry;
  entry.name = "data\\words.txt";
  entry.hours = 10;
  entry.minutes = 20;
  entry.seconds = 58;
  entry.month = 12;
  entry.day = 6;
  entry.year = 1997;
  entry.version = {1, 0, 0, 0};
  entry.length = 1234;
  entry.size = 5678;
  entry.digest = "0123456789abcdef0123456789abcdef";
  const auto library = LibraryEntryLines(entry);
  const auto sealer =
      SealerEntryLines(entry.name, "10:20:58", "12/06/1997", "01.00.00", 1234, 5678, entry.digest);
  EXPECT_EQ(library, sealer);
  EXPECT_EQ(sealer[0], "File: \"data\\words.txt\"; Time = 10:20:58; Date = 12/06/1997; \\");
  EXPECT_EQ(sealer[1], "   Version = 01.00.00; Length = 1234; Size = 5678; \\");
  EXPECT_EQ(sealer[2], "   SECURE_MD5 = 0123456789abcdef0123456789abcdef");
}

TEST(HeaderLines, CommentAndTrailerLines) {
  EXPECT_EQ(CommentLine(" tools"), "; tools");
  EXPECT_EQ(TrailerLine("00ff"), "SECURE_MD5: 00ff");
}

TEST(HeaderLines, SignificanceFollowsTheDigestRule) {
  EXPECT_TRUE(IsSignificantLine("##QXWEB## 1.0"));
  EXPECT_TRUE(IsSignificantLine("Owner: x"));
  EXPECT_TRUE(IsSignificantLine("Unknown: key lines are digested too"));
  EXPECT_FALSE(IsSignificantLine("CommandLine: run.exe"));
  EXPECT_FALSE(IsSignificantLine("commandline: run.exe"));
  EXPECT_FALSE(IsSignificantLine("SECURE_MD5: 0123"));
  EXPECT_FALSE(IsSignificantLine("; comment"));
  EXPECT_FALSE(IsSignificantLine("   ; indented comment"));
  EXPECT_FALSE(IsSignificantLine("  \t\r\n"));
  EXPECT_FALSE(IsSignificantLine(""));
  EXPECT_EQ(DigestedText("   SECURE_MD5 = ab  \r\n"), "   SECURE_MD5 = ab");
}

TEST(HeaderLineWriter, WritesCrLfAndDigestsOnlyTheDigestedLinesWithoutLineEnds) {
  qx_test::TempDir dir;
  const std::string path = dir / "h.qxw";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  DigestPtr digest = DigestNew();
  HeaderLineWriter writer(file, digest.get());
  writer.WriteLine(SealerMagicLine(), true);
  writer.WriteCommentBlock(HeaderWriter::kSealer);
  writer.WriteKeyLine(HeaderKey::kOwner, "Me", HeaderWriter::kSealer);
  writer.WriteKeyLine(HeaderKey::kCommandLine, "run.exe", HeaderWriter::kSealer);
  writer.WriteKeyLine(HeaderKey::kReadmeFile, "", HeaderWriter::kLibrary);
  writer.WriteEntryLines(SealerEntryLines("a.txt", "01:02:04", "01/02/2000", "01.00.00", 20, 0,
                                          "d41d8cd98f00b204e9800998ecf8427e"));
  writer.WriteLine(CommentLine("note"), false);
  EXPECT_TRUE(writer.ok());
  ASSERT_EQ(std::fclose(file), 0);
  char out[33];
  SecureDigest(digest.get(), out, sizeof out, "01/02/2000");

  const std::string expected_digested =
      "##QXWEB## 1.0"
      "Owner: Me"
      "ReadmeFile:"
      "File: \"a.txt\"; Time = 01:02:04; Date = 01/02/2000; \\"
      "   Version = 01.00.00; Length = 20; Size = 0; \\"
      "   SECURE_MD5 = d41d8cd98f00b204e9800998ecf8427e";
  EXPECT_EQ(std::string(out), DigestOf(expected_digested, "01/02/2000"));

  const std::string written = qx_test::ReadFile(path);
  EXPECT_EQ(written.substr(0, 15), "##QXWEB## 1.0\r\n");
  EXPECT_NE(written.find("CommandLine: run.exe\r\n"), std::string::npos);
  EXPECT_NE(written.find("ReadmeFile: \r\n"), std::string::npos);
  EXPECT_EQ(written.substr(written.size() - 7), ";note\r\n");
  // Every line feed on disk is part of a CR LF.
  for (size_t i = 0; i < written.size(); ++i) {
    if (written[i] == '\n') {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(written[i - 1], '\r');
    }
  }
}

TEST(HeaderLineWriter, ReportsAFailedWrite) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) {
    GTEST_SKIP() << "/dev/full is not available";
  }
  std::setvbuf(full, nullptr, _IONBF, 0);
  HeaderLineWriter writer(full, nullptr);
  writer.WriteLine("Owner: x", true);
  EXPECT_FALSE(writer.ok());
  std::fclose(full);
}

}  // namespace
}  // namespace qx
