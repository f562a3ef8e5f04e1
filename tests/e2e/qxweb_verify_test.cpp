// Tests of the command-line tool: whole-program runs of "qxweb verify" and
// "qxweb unpack" on packages made by hand: stored files from "qxweb compress"
// and "qxweb digest", headers from the header line writers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using qx::HeaderKey;
using qx_test::HeaderBuilder;
using qx_test::RunCommand;
using qx_test::ShellQuote;

std::string Qxweb() {
  return ShellQuote(qx_test::QxwebPath());
}

// "Key = value" lines that "qxweb compress" prints.
std::map<std::string, std::string> ParsePairs(const std::string& text) {
  std::map<std::string, std::string> pairs;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find(" = ");
    if (eq != std::string::npos) {
      pairs[line.substr(0, eq)] = line.substr(eq + 3);
    }
  }
  return pairs;
}

class QxwebPackageTest : public ::testing::Test {
 protected:
  // Stores |bytes| as the entry |name| (separators "\") through qxweb.
  void Store(const std::string& name, const std::string& bytes, bool unchanged) {
    const std::string source = dir_ / "source";
    qx_test::WriteFile(source, bytes);
    std::string stored = package_ + "/" + name;
    for (char& c : stored) {
      c = c == '\\' ? '/' : c;
    }
    fs::create_directories(fs::path(stored).parent_path());
    HeaderBuilder::File file;
    file.name = name;
    if (unchanged) {
      fs::copy_file(source, stored, fs::copy_options::overwrite_existing);
      const auto digest = RunCommand(Qxweb() + " digest --key Demo " + ShellQuote(stored));
      ASSERT_EQ(digest.status, 0) << digest.err;
      file.digest = digest.out.substr(0, 32);
      file.length = file.size = static_cast<int64_t>(bytes.size());
    } else {
      const auto run = RunCommand(Qxweb() + " compress --key Demo " + ShellQuote(source) + " " +
                                  ShellQuote(stored));
      ASSERT_EQ(run.status, 0) << run.err;
      auto pairs = ParsePairs(run.out);
      file.digest = pairs["SECURE_MD5"];
      file.length = std::stoll(pairs["Length"]);
      file.size = std::stoll(pairs["Size"]);
    }
    file.time = "10:20:58";
    file.date = "12/06/1997";
    builder_.AddFile(file);
    contents_[name] = bytes;
  }

  void MakeSample() {
    builder_.Set(HeaderKey::kReadmeFile, "README.TXT").Set(HeaderKey::kLaunchIcon, "art\\run.ico");
    Store("README.TXT", "Read me first.\r\n", true);
    Store("art\\run.ico", qx_test::RandomBytes(766, 9), true);
    builder_.AddComment(" program files");
    Store("bin\\planner", qx_test::RandomBytes(5000, 4) + qx_test::TextBytes(30000, 5), false);
    Store("data\\maps\\office.txt", qx_test::TextBytes(12000, 6), false);
    Store("empty.log", "", false);
    builder_.Write(header_);
  }

  qx_test::CommandResult Verify() { return RunCommand(Qxweb() + " verify " + ShellQuote(header_)); }
  qx_test::CommandResult Unpack() {
    return RunCommand(Qxweb() + " unpack " + ShellQuote(header_) + " " + ShellQuote(out_));
  }

  qx_test::TempDir dir_;
  std::string package_ = dir_ / "pkg";
  std::string header_ = dir_ / "pkg/Demo.qxw";
  std::string out_ = dir_ / "out";
  HeaderBuilder builder_;
  std::map<std::string, std::string> contents_;
};

TEST_F(QxwebPackageTest, VerifyAcceptsAHandMadePackage) {
  MakeSample();
  const auto result = Verify();
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.out, header_ + ": verified, 5 stored files\n");
  // The stored members are real gzip members.
  const auto peer = RunCommand("gzip -dc < " + ShellQuote(package_ + "/data/maps/office.txt"));
  EXPECT_EQ(peer.out, contents_["data\\maps\\office.txt"]);
}

TEST_F(QxwebPackageTest, VerifyNamesEveryProblemAndFails) {
  MakeSample();
  std::string bytes = qx_test::ReadFile(package_ + "/bin/planner");
  bytes[bytes.size() / 2] ^= 1;
  qx_test::WriteFile(package_ + "/bin/planner", bytes);
  qx_test::WriteFile(package_ + "/README.TXT", "Read me.\r\n");
  fs::remove(package_ + "/empty.log");
  const auto result = Verify();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "README.TXT: length 10, the header says 16\n"
            "bin\\planner: digest mismatch\n"
            "empty.log: missing\n" +
                header_ + ": 3 problems, 5 stored files\n");
}

TEST_F(QxwebPackageTest, TamperedHeaderIsCorruptAndNotUnpacked) {
  MakeSample();
  std::string text = qx_test::ReadFile(header_);
  text.replace(text.find("Owner: Tarnwick Test"), 20, "Owner: Tarnwick Fake");
  qx_test::WriteFile(header_, text);
  const auto verify = Verify();
  EXPECT_EQ(verify.status, 1);
  EXPECT_EQ(verify.out, header_ + ": corrupt (the header digest does not match)\n" + header_ +
                            ": 1 problem, 5 stored files\n");
  const auto unpack = Unpack();
  EXPECT_EQ(unpack.status, 1);
  EXPECT_FALSE(fs::exists(out_));

  // The command line is not covered by the digest.
  text = builder_.Text();
  text.replace(text.find("CommandLine: "), 13, "CommandLine: other ");
  qx_test::WriteFile(header_, text);
  EXPECT_EQ(Verify().status, 0);

  qx_test::WriteFile(header_, "not a header\r\n");
  const auto junk = Verify();
  EXPECT_EQ(junk.status, 1);
  EXPECT_NE(junk.out.find("not a package header"), std::string::npos);
}

TEST_F(QxwebPackageTest, UnpackExpandsCopiesAndStampsEveryFile) {
  MakeSample();
  const auto result = Unpack();
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.out, header_ + ": unpacked 5 files into " + out_ + "\n");
  for (const auto& [name, bytes] : contents_) {
    std::string path = out_ + "/" + name;
    for (char& c : path) {
      c = c == '\\' ? '/' : c;
    }
    EXPECT_EQ(qx_test::ReadFile(path), bytes) << name;
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    std::tm local{};
    localtime_r(&info.st_mtime, &local);
    EXPECT_EQ(local.tm_year + 1900, 1997) << name;
    EXPECT_EQ(local.tm_mon + 1, 12) << name;
    EXPECT_EQ(local.tm_mday, 6) << name;
    EXPECT_EQ(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec, 10 * 3600 + 20 * 60 + 58);
  }
  // Nothing but the entries, and no temporary files left behind.
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out_)) {
    files += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(files, 5);
}

TEST_F(QxwebPackageTest, ADirectoryStandsForTheOnlyHeaderInIt) {
  MakeSample();
  fs::create_directories(package_ + "/folder.qxw");  // a directory is no header
  const std::string empty = dir_ / "empty";
  fs::create_directories(empty);
  struct Case {
    std::string arguments;
    int status;
    std::string out;
    std::string err;
  };
  const auto check = [](const Case& c) {
    const auto result = RunCommand(Qxweb() + " " + c.arguments);
    EXPECT_EQ(result.status, c.status) << c.arguments << "\n" << result.out << result.err;
    EXPECT_EQ(result.out, c.out) << c.arguments;
    EXPECT_EQ(result.err, c.err) << c.arguments;
  };
  const Case one_header[] = {
      {"verify " + ShellQuote(package_), 0, header_ + ": verified, 5 stored files\n", ""},
      {"unpack " + ShellQuote(package_) + " " + ShellQuote(out_), 0,
       header_ + ": unpacked 5 files into " + out_ + "\n", ""},
      {"verify " + ShellQuote(empty), 1, "",
       "qxweb verify: " + empty + ": holds no package header (.qxw)\n"},
  };
  for (const Case& c : one_header) {
    check(c);
  }
  fs::copy_file(header_, package_ + "/Other.QXW");
  const std::string two =
      package_ + ": holds 2 package headers (Demo.qxw, Other.QXW); name one of them\n";
  const Case two_headers[] = {
      {"verify " + ShellQuote(package_), 1, "", "qxweb verify: " + two},
      {"unpack " + ShellQuote(package_) + " " + ShellQuote(dir_ / "out2"), 1, "",
       "qxweb unpack: " + two},
      {"verify " + ShellQuote(package_ + "/Other.QXW"), 0,
       package_ + "/Other.QXW: verified, 5 stored files\n", ""},
  };
  for (const Case& c : two_headers) {
    check(c);
  }
  EXPECT_FALSE(fs::exists(dir_ / "out2"));
}

TEST_F(QxwebPackageTest, UnpackFailureLeavesNoPartFileUnderItsName) {
  // The header promises more bytes than the member expands to; verification
  // cannot see that, so unpacking finds it half way.
  Store("first.txt", "first", false);
  const std::string bytes = qx_test::TextBytes(50000, 8);
  Store("second.txt", bytes, false);
  HeaderBuilder lying;
  for (const char* name : {"first.txt", "second.txt"}) {
    const std::string stored = qx_test::ReadFile(package_ + "/" + name);
    HeaderBuilder::File file;
    file.name = name;
    file.length = static_cast<int64_t>(stored.size());
    file.size = std::string(name) == "second.txt" ? 50001 : 5;
    file.digest = qx_test::KeyedDigest(stored, "Demo");
    lying.AddFile(file);
  }
  lying.Write(header_);
  ASSERT_EQ(Verify().status, 0);
  const auto result = Unpack();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("second.txt: expands to 50000 bytes, the header says 50001"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(qx_test::ReadFile(out_ + "/first.txt"), "first");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out_)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"first.txt"});
}

TEST_F(QxwebPackageTest, UnsafeNamesAreRefusedBeforeAnythingIsWritten) {
  const std::string outside = dir_ / "x";
  qx_test::WriteFile(outside, "keep");
  Store("good.txt", "good", false);
  for (const char* name : {"..\\x", "a\\..\\..\\x", "/etc/x", "C:x"}) {
    HeaderBuilder::File file;
    file.name = name;
    file.length = file.size = 4;
    builder_.AddFile(file);
  }
  builder_.Write(header_);
  const auto verify = Verify();
  EXPECT_EQ(verify.status, 1);
  for (const char* name : {"..\\x", "a\\..\\..\\x", "/etc/x", "C:x"}) {
    EXPECT_NE(verify.out.find(std::string(name) + ": unsafe name"), std::string::npos) << name;
  }
  const auto unpack = Unpack();
  EXPECT_EQ(unpack.status, 1);
  EXPECT_FALSE(fs::exists(out_));
  EXPECT_EQ(qx_test::ReadFile(outside), "keep");
}

TEST_F(QxwebPackageTest, UnpackDoesNotFollowALinkOutOfTheDestination) {
  Store("sub\\file.txt", "inside", false);
  builder_.Write(header_);
  fs::create_directories(out_);
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", out_ + "/sub");
  const auto result = Unpack();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("symbolic link"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
}

// Every file under |directory| with its bytes.
std::map<std::string, std::string> FilesUnder(const std::string& directory) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_regular_file()) {
      files[entry.path().string()] = qx_test::ReadFile(entry.path());
    }
  }
  return files;
}

TEST_F(QxwebPackageTest, UnpackNeverWritesIntoThePackageDirectory) {
  MakeSample();
  fs::create_directory_symlink(package_, dir_ / "link");
  const auto package = FilesUnder(package_);
  for (const std::string& inside :
       {package_, package_ + "/.", package_ + "//", package_ + "/bin", package_ + "/new/deeper",
        dir_ / "link", dir_ / "link/sub", dir_ / "pkg/../pkg"}) {
    const auto result =
        RunCommand(Qxweb() + " unpack " + ShellQuote(header_) + " " + ShellQuote(inside));
    EXPECT_EQ(result.status, 1) << inside;
    EXPECT_NE(result.err.find("is the package directory or lies inside it"), std::string::npos)
        << inside << result.err;
    EXPECT_EQ(FilesUnder(package_), package) << inside;
  }
  EXPECT_FALSE(fs::exists(package_ + "/new"));

  // From a directory above the package, an entry can lead into it too.
  Store("pkg\\README.TXT", "not the read-me", false);
  builder_.Write(header_);
  const auto with_entry = FilesUnder(package_);
  const auto result =
      RunCommand(Qxweb() + " unpack " + ShellQuote(header_) + " " + ShellQuote(dir_.path()));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("pkg\\README.TXT: the file would land in the package directory"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(FilesUnder(package_), with_entry);
  EXPECT_FALSE(fs::exists(dir_ / "README.TXT"));
}

TEST(QxwebPackageUsage, MissingArgumentsAreUsageErrors) {
  EXPECT_EQ(RunCommand(Qxweb() + " verify").status, 2);
  EXPECT_EQ(RunCommand(Qxweb() + " unpack only-header.qxw").status, 2);
  const auto help = RunCommand(Qxweb() + " unpack --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("DESTDIR"), std::string::npos);
  EXPECT_EQ(RunCommand(Qxweb() + " verify /no/such/header.qxw").status, 1);
}

}  // namespace
