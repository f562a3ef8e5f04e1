// Tests of the command-line tool: hostile entry names run through "qxweb
// verify" and "qxweb unpack" end to end. Whatever a header names, nothing
// outside the destination changes, verify names each unsafe name with its
// reason, and unpack never reports success for a package it refused. An
// application name the client's cache cannot record is refused by verify,
// unpack and "qxweb cache install" alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/compress/codec.h"
#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"
#include "core/platform/private_profile.h"
#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using qx::NameFault;
using qx_test::HeaderBuilder;
using qx_test::RunCommand;
using qx_test::ShellQuote;

std::string Qxweb() {
  return ShellQuote(qx_test::QxwebPath());
}

// Every file, directory and link under |root| but |skipped|, with what it
// holds and when it was written.
std::map<std::string, std::string> Snapshot(const std::string& root, const std::string& skipped) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    if (path == skipped) {
      it.disable_recursion_pending();
      continue;
    }
    const fs::file_status status = it->symlink_status();
    std::string state = std::to_string(static_cast<int>(status.type()));
    if (fs::is_regular_file(status)) {
      state += ":" + qx_test::ReadFile(path) + ":" +
               std::to_string(fs::last_write_time(path).time_since_epoch().count());
    } else if (fs::is_symlink(status)) {
      state += ":" + fs::read_symlink(path).string();
    }
    tree[path.string()] = state;
  }
  return tree;
}

struct HostileName {
  std::string written;  // the name in the header
  std::string shown;    // the name as verify reads and prints it
  std::string problem;  // what verify says of it; empty when it is an ordinary name here
};

std::string Unsafe(NameFault fault) {
  return std::string("unsafe name: ") + qx::NameFaultText(fault);
}

std::vector<HostileName> HostileNames() {
  const std::string dots = Unsafe(NameFault::kDotComponent);
  const std::string absolute = Unsafe(NameFault::kAbsolute);
  const std::string drive = Unsafe(NameFault::kDrive);
  const std::string control = Unsafe(NameFault::kControlCharacter);
  const std::string blank = Unsafe(NameFault::kEdgeBlank);
  const std::string empty = Unsafe(NameFault::kEmpty);
  // A line longer than the reader takes is read in pieces: the entry's name
  // is cut where the first piece ends, and the header no longer verifies.
  const std::string cut(qx::kMaxHeaderLine - std::string_view("File: \"").size(), 'n');
  return {
      {"..\\x", "..\\x", dots},
      {"../x", "../x", dots},
      {"a\\..\\..\\x", "a\\..\\..\\x", dots},
      {"a/../../x", "a/../../x", dots},
      {"a/..\\..\\x", "a/..\\..\\x", dots},
      {"..\\..\\..\\sentinel.txt", "..\\..\\..\\sentinel.txt", dots},
      {"..", "..", dots},
      {".", ".", dots},
      {"a\\.\\b", "a\\.\\b", dots},
      {"a\\\\b", "a\\\\b", dots},
      {"a\\", "a\\", dots},
      {"\\x", "\\x", absolute},
      {"/etc/passwd", "/etc/passwd", absolute},
      {"\\\\server\\share\\x", "\\\\server\\share\\x", absolute},
      {"C:x", "C:x", drive},
      {"C:\\Windows\\x", "C:\\Windows\\x", drive},
      {"c:/x", "c:/x", drive},
      {"a\x01"
       "b",
       "a?b", control},
      {"a\x1b[2Jb", "a?[2Jb", control},
      {"a\tb", "a?b", control},
      {"a\rb", "a?b", control},
      {"a\x7f", "a?", control},
      {std::string("a\0b", 3), "a?b", control},
      {"a|b", "a|b", Unsafe(NameFault::kNeutralSeparator)},
      {"|..|x", "|..|x", Unsafe(NameFault::kNeutralSeparator)},
      {"a\"b", "a\"b", Unsafe(NameFault::kQuote)},
      {"a ", "a ", blank},
      {"a \\b", "a \\b", blank},
      {"a\\ b", "a\\ b", blank},
      {"", "", empty},
      {" ", "", empty},
      // Read otherwise than written: the reader's own trimming and splitting
      // leave a safe name, whose file is then not there.
      {" a", "a", "missing"},
      {"\"x", "x", "missing"},
      {"a;b", "a", "missing"},
      {std::string(300, 'n'), cut, "missing"},
      // Ordinary names on this system, unpacked inside the destination.
      {"...", "...", ""},
      {"ab:c", "ab:c", ""},
      {"CON", "CON", ""},
      {"NUL.txt", "NUL.txt", ""},
      {"LPT1\\COM1", "LPT1\\COM1", ""},
      {"~\\x", "~\\x", ""},
      {"sub\\..x", "sub\\..x", ""},
      {"caf\xc3\xa9", "caf\xc3\xa9", ""},
  };
}

class QxwebHostileNamesTest : public ::testing::Test {
 protected:
  // A package of "good.txt" and |name|, whose stored file is put where the
  // name leads when that is inside the package directory.
  void MakePackage(const std::string& name) {
    fs::remove_all(package_);
    fs::remove_all(out_);
    HeaderBuilder builder;
    builder.AddFile(Stored("good.txt", "good"));
    const fs::path target = fs::path(package_) / qx::NativeSeparators(name);
    const bool inside = !name.empty() && !qx::IsPathSeparator(name.front()) &&
                        name.find('\0') == std::string::npos &&
                        target.lexically_normal().string().rfind(package_ + "/", 0) == 0;
    HeaderBuilder::File entry{name, 4, 4};
    if (inside) {
      entry = Stored(name, "bad!");
    }
    builder.AddFile(entry);
    builder.Write(header_);
  }

  // |bytes| stored as the gzip member of entry |name|, its digest keyed by
  // |key|; a placeholder entry when the file cannot be made.
  HeaderBuilder::File Stored(const std::string& name, const std::string& bytes,
                             const std::string& key = "Demo") {
    HeaderBuilder::File file{name, 4, 4};
    const std::string stored = package_ + "/" + qx::NativeSeparators(name);
    std::error_code error;
    fs::create_directories(fs::path(stored).parent_path(), error);
    qx_test::WriteFile(scratch_, bytes);
    if (qx::CompressFileByName(scratch_, stored, true, key) == qx::kFileCopyOk) {
      const std::string member = qx_test::ReadFile(stored);
      file.length = static_cast<int64_t>(member.size());
      file.size = static_cast<int64_t>(bytes.size());
      file.digest = qx_test::KeyedDigest(member, key);
    }
    return file;
  }

  qx_test::TempDir dir_;
  std::string package_ = dir_ / "top/a/b/pkg";
  std::string header_ = dir_ / "top/a/b/pkg/Demo.qxw";
  std::string out_ = dir_ / "top/a/b/out";
  std::string scratch_ = dir_ / "scratch";
};

TEST_F(QxwebHostileNamesTest, NothingOutsideTheDestinationChangesAndEveryNameIsAccounted) {
  qx_test::WriteFile(dir_ / "top/sentinel.txt", "keep");
  qx_test::WriteFile(dir_ / "top/a/b/x", "keep");
  const std::vector<HostileName> names = HostileNames();
  ASSERT_GE(names.size(), 32u);
  for (const HostileName& name : names) {
    SCOPED_TRACE("entry \"" + name.shown + "\"");
    MakePackage(name.written);
    const auto before = Snapshot(dir_.path(), out_);
    const auto verify = RunCommand(Qxweb() + " verify " + ShellQuote(header_));
    const auto unpack =
        RunCommand(Qxweb() + " unpack " + ShellQuote(header_) + " " + ShellQuote(out_));
    EXPECT_EQ(Snapshot(dir_.path(), out_), before);
    if (name.problem.empty()) {
      EXPECT_EQ(verify.status, 0) << verify.out;
      EXPECT_EQ(unpack.status, 0) << unpack.out << unpack.err;
      EXPECT_EQ(qx_test::ReadFile(out_ + "/" + qx::NativeSeparators(name.written)), "bad!");
      EXPECT_EQ(qx_test::ReadFile(out_ + "/good.txt"), "good");
    } else {
      EXPECT_EQ(verify.status, 1);
      EXPECT_NE(("\n" + verify.out).find("\n" + name.shown + ": " + name.problem + "\n"),
                std::string::npos)
          << verify.out;
      EXPECT_EQ(unpack.status, 1);
      EXPECT_EQ(unpack.out.find(": unpacked "), std::string::npos) << unpack.out;
      EXPECT_FALSE(fs::exists(out_));
    }
  }
}

// An application name or install-to directory that passes the name rule but
// that the client's cache registry cannot hold: verify names the reason, and
// neither unpack nor a cache install changes anything.
TEST_F(QxwebHostileNamesTest, ANameTheCacheCannotRecordIsRefusedBeforeAnythingChanges) {
  struct Case {
    std::string appl_name;
    std::string install_to;
    std::string problem;  // verify's line; empty when the package installs
  };
  const std::string bracket =
      " cannot be recorded in the cache: it holds \"]\", which the cache registry cannot hold "
      "in a section name";
  const Case cases[] = {
      {"Tool]x", "", "ApplName: \"Tool]x\"" + bracket},
      {"Tool]", "apps\\tools", "ApplName: \"Tool]\"" + bracket},
      {"Tool", "apps/x]y", "InstallTo: \"apps/x]y\"" + bracket},
      {"Tool[x", "apps\\my tools [1]", "InstallTo: \"apps\\my tools [1]\"" + bracket},
      // An ordinary name, installed and recorded as it is.
      {"Tool[x", "apps\\my tools", ""},
  };
  const std::string config = dir_ / "config";
  const std::string data = dir_ / "data";
  const std::string root = data + "/tarnwick/cache";
  const std::string env =
      "XDG_CONFIG_HOME=" + ShellQuote(config) + " XDG_DATA_HOME=" + ShellQuote(data) + " ";
  for (const Case& c : cases) {
    SCOPED_TRACE("ApplName \"" + c.appl_name + "\", InstallTo \"" + c.install_to + "\"");
    fs::remove_all(package_);
    fs::remove_all(out_);
    fs::remove_all(config);
    fs::remove_all(data);
    const std::string header = package_ + "/" + c.appl_name + ".qxw";
    HeaderBuilder builder;
    builder.Set(qx::HeaderKey::kApplName, c.appl_name).Set(qx::HeaderKey::kInstallTo, c.install_to);
    builder.AddFile(Stored("good.txt", "good", c.appl_name));
    builder.Write(header);
    std::string cache_name = c.install_to + "\\" + c.appl_name;
    std::replace(cache_name.begin(), cache_name.end(), '/', '\\');

    const auto verify = RunCommand(Qxweb() + " verify " + ShellQuote(header));
    const auto unpack =
        RunCommand(Qxweb() + " unpack " + ShellQuote(header) + " " + ShellQuote(out_));
    const auto install =
        RunCommand(env + Qxweb() + " cache install " + ShellQuote(header) + " </dev/null");
    const std::string ini = config + "/tarnwick/qxweb.ini";
    const std::string registry = config + "/tarnwick/registry.ini";
    if (c.problem.empty()) {
      EXPECT_EQ(verify.status, 0) << verify.out;
      EXPECT_EQ(unpack.status, 0) << unpack.out << unpack.err;
      EXPECT_EQ(install.status, 0) << install.out << install.err;
      EXPECT_NE(install.out.find(cache_name + ": installed 1 files"), std::string::npos)
          << install.out;
      const std::vector<std::string> sections = qx::ReadProfileSections(ini);
      EXPECT_NE(std::find(sections.begin(), sections.end(), cache_name), sections.end());
      EXPECT_NE(qx_test::ReadFile(registry).find("[Software\\TARNWICK\\Tarnwick WEB\\" +
                                                 cache_name + "]"),
                std::string::npos);
      continue;
    }
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(("\n" + verify.out).find("\n" + c.problem + "\n"), std::string::npos) << verify.out;
    EXPECT_EQ(unpack.status, 1);
    EXPECT_FALSE(fs::exists(out_));
    EXPECT_EQ(install.status, 1);
    EXPECT_NE(install.err.find("qxweb cache install: " + c.problem + "\n"), std::string::npos)
        << install.err;
    // Whatever the cache keeps for itself, nothing of the application.
    if (fs::exists(root)) {
      for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(item.path(), root).string();
        EXPECT_TRUE(relative.find("Tool") == std::string::npos && relative.rfind("apps", 0) != 0)
            << relative;
      }
    }
    for (const std::string& section : qx::ReadProfileSections(ini)) {
      EXPECT_EQ(section, "General");
    }
    EXPECT_EQ(qx_test::ReadFile(ini).find("Tool"), std::string::npos);
    EXPECT_EQ(qx_test::ReadFile(registry).find("Tool"), std::string::npos);
  }
}

}  // namespace
