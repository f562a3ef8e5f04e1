// Tests of the command-line tool: the client's cache touches nothing it does
// not list, and keeps its records straight when commands run side by side or
// are killed. After every case the same things must hold: every listed
// application launches as one version, every directory under the root is
// listed (or on the way to one, or the cache's own), no staging directory or
// journal is left, and nothing outside the root changed.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/format/header_lines.h"
#include "core/signature/signing_key.h"
#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"
#include "tests/support/web_server.h"

namespace {

namespace fs = std::filesystem;
using qx::HeaderKey;
using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::ShellQuote;
using qx_test::WriteFile;

struct Step {
  std::string arguments;
  int status = 0;
  std::string says;  // expected in stdout or stderr; empty: anything
};

struct Case {
  const char* situation;
  std::function<void()> before;  // sets the situation up
  std::vector<Step> steps;
  std::function<void()> after =
      nullptr;  // checks, then clears what the case put outside the cache's rules
};

class QxwebCacheGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(home_ + "/notes.txt", "precious\n");
    fs::create_directories(dir_ / "config/tarnwick");
  }

  std::string Command(const std::string& arguments) const {
    return "XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
           " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " " + ShellQuote(qx_test::QxwebPath()) +
           " " + arguments + " </dev/null";
  }

  CommandResult Qxweb(const std::string& arguments) const {
    return qx_test::RunCommand(Command(arguments));
  }

  // A package of |appl| at |install_to| whose program prints its name, its
  // version and the version tags of its data files; made once.
  std::string Package(const std::string& appl, const std::string& install_to = "apps",
                      int version = 1, int data_files = 3, const std::string& command = "") {
    const std::string tag = "0" + std::to_string(version);
    const std::string directory =
        dir_ / ("pkg/" + appl + "-" + fs::path(install_to).filename().string() + "-" + tag + "-" +
                std::to_string(data_files));
    const std::string header = directory + "/" + appl + ".qxw";
    if (fs::exists(header)) {
      return header;
    }
    // The last line of every data file is its version's tag.
    std::vector<std::pair<std::string, std::string>> files = {
        {"bin\\run", "#!/bin/sh\necho \"" + appl + " " + tag +
                         " $(tail -qn1 data/* 2>/dev/null | sort -u | tr -d '\\n')\"\n"}};
    for (int i = 0; i < data_files; ++i) {
      files.emplace_back("data\\f" + std::to_string(i),
                         qx_test::RandomBytes(4000, static_cast<uint64_t>(i)) + "\n" + tag + "\n");
    }
    qx_test::MakePackage(directory, appl, files)
        .Set(HeaderKey::kInstallTo, install_to)
        .Set(HeaderKey::kVersion, tag + ".00.00")
        .Set(HeaderKey::kCommandLine, command.empty() ? "bin/run" : command)
        .Write(header);
    return header;
  }

  // A package of |appl| whose data\blob holds |blob| but whose header says
  // it expands to |declared| bytes; made anew.
  std::string Forged(const std::string& appl, const std::string& blob, int64_t declared) {
    const std::string directory = dir_ / ("pkg/forged-" + appl);
    fs::remove_all(directory);
    const std::string header = directory + "/" + appl + ".qxw";
    qx_test::MakePackage(
        directory, appl,
        {{"bin\\run", "#!/bin/sh\necho \"" + appl + " 01 01\"\n"}, {"data\\blob", blob}})
        .Set(HeaderKey::kInstallTo, "apps")
        .Set(HeaderKey::kVersion, "01.00.00")
        .Set(HeaderKey::kCommandLine, "bin/run")
        .SetFileSize("data\\blob", declared)
        .Write(header);
    return header;
  }

  std::string Install(const std::string& appl, const std::string& install_to = "apps",
                      int version = 1, int data_files = 3) {
    return "cache install " + ShellQuote(Package(appl, install_to, version, data_files));
  }

  // The listed applications with the version the list gives.
  std::map<std::string, std::string> Listed() const {
    std::map<std::string, std::string> listed;
    std::istringstream lines(Qxweb("cache list").out);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string name;
      std::string version;
      if (words >> name >> version && name != "no") {
        listed[name] = version;
      }
    }
    return listed;
  }

  // Every file, directory and link outside the data directory, and the
  // registries' neighbours left alone.
  std::map<std::string, std::string> Outside() const {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(dir_.path());
         it != fs::recursive_directory_iterator(); ++it) {
      const fs::path& path = it->path();
      if (path == dir_ / "data" || path == dir_ / "config" || path == dir_ / "pkg") {
        it.disable_recursion_pending();
        continue;
      }
      const fs::file_status status = it->symlink_status();
      tree[path.string()] = fs::is_regular_file(status) ? ReadFile(path)
                            : fs::is_symlink(status)    ? fs::read_symlink(path).string()
                                                        : "(directory)";
    }
    return tree;
  }

  // What must hold whatever ran before (the first command finishes what a
  // killed one left).
  void ExpectWholeCache() {
    const std::map<std::string, std::string> listed = Listed();
    std::set<std::string> packages;
    std::set<std::string> on_the_way;
    for (const auto& [name, version] : listed) {
      std::string relative = name.substr(name.front() == '\\' ? 1 : 0);
      std::replace(relative.begin(), relative.end(), '\\', '/');
      packages.insert(relative);
      for (fs::path up = fs::path(relative).parent_path(); !up.empty(); up = up.parent_path()) {
        on_the_way.insert(up.string());
      }
      const std::string appl = relative.substr(relative.rfind('/') + 1);
      const CommandResult run = Qxweb("cache launch " + ShellQuote(name));
      const std::string tag = version.substr(0, 2);
      EXPECT_EQ(run.status, 0) << name << ": " << run.err;
      EXPECT_EQ(run.out, appl + " " + tag + " " + tag + "\n")
          << name << " lists version " << version << " but runs another, or a mixture";
    }
    if (fs::exists(root_)) {
      for (auto it = fs::recursive_directory_iterator(root_);
           it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), root_).string();
        if (relative == "CACHEDIR.TAG" || relative.rfind(".qxweb", 0) == 0) {
          it.disable_recursion_pending();
          continue;
        }
        if (packages.count(relative) != 0) {
          it.disable_recursion_pending();
        } else {
          EXPECT_TRUE(on_the_way.count(relative) != 0 && !it->is_symlink())
              << relative << " lies in the cache unlisted";
        }
      }
      EXPECT_TRUE(!fs::exists(root_ + "/.qxweb/staging") ||
                  fs::is_empty(root_ + "/.qxweb/staging"));
    }
    for (const char* left : {"qxweb.journal", "qxweb.ini.undo", "registry.ini.undo"}) {
      EXPECT_FALSE(fs::exists(dir_ / "config/tarnwick/" + left)) << left;
    }
    EXPECT_EQ(Outside(), outside_before_);
  }

  void RunCase(const Case& a_case) {
    SCOPED_TRACE(a_case.situation);
    fs::remove_all(dir_ / "data");
    fs::remove_all(dir_ / "config");
    fs::create_directories(dir_ / "config/tarnwick");
    if (a_case.before) {
      a_case.before();
    }
    outside_before_ = Outside();
    for (const Step& step : a_case.steps) {
      const CommandResult result = Qxweb(step.arguments);
      EXPECT_EQ(result.status, step.status) << step.arguments << "\n" << result.out << result.err;
      EXPECT_NE((result.out + result.err).find(step.says), std::string::npos)
          << step.arguments << "\n"
          << result.out << result.err;
    }
    if (a_case.after) {
      a_case.after();
    }
    outside_before_ = Outside();
    ExpectWholeCache();
  }

  qx_test::TempDir dir_;
  const std::string root_ = dir_ / "data/tarnwick/cache";
  const std::string home_ = dir_ / "home";
  std::map<std::string, std::string> outside_before_;
};

TEST_F(QxwebCacheGuardTest, EachCaseLeavesTheCacheWholeAndTouchesNothingElse) {
  const std::string ini = dir_ / "config/tarnwick/qxweb.ini";
  const std::string long_command = "bin/run" + std::string(150, ' ') + "last";
  const std::vector<Case> cases = {
      {"a package whose directory would hold a listed one",
       nullptr,
       {{Install("Demo", "apps\\demo"), 0, "installed"},
        {Install("apps", ""), 1,
         "\"\\apps\" would hold the cached application \"apps\\demo\\Demo\""}}},
      {"a package whose directory would lie inside a listed one",
       nullptr,
       {{Install("Demo", "apps\\demo"), 0, "installed"},
        {Install("data", "apps\\demo\\Demo"), 1, "would lie inside the cached application"}}},
      {"a directory the cache did not make stands at the place",
       [&] { WriteFile(root_ + "/apps/Demo/thesis.txt", "mine\n"); },
       {{Install("Demo"), 1, "holds files the cache did not put there"}},
       [&] {
         EXPECT_EQ(ReadFile(root_ + "/apps/Demo/thesis.txt"), "mine\n");
         fs::remove_all(root_ + "/apps");
       }},
      {"an empty directory stands at the place",
       [&] { fs::create_directories(root_ + "/apps/Demo"); },
       {{Install("Demo"), 0, "installed"}}},
      {"a listed package directory was replaced by a link",
       [&] {
         ASSERT_EQ(Qxweb(Install("Demo")).status, 0);
         fs::rename(root_ + "/apps/Demo", home_ + "/Demo");
         fs::create_directory_symlink(home_ + "/Demo", root_ + "/apps/Demo");
       },
       {{Install("Demo"), 1, "is a symbolic link"},
        {"cache launch Demo", 1, "is a symbolic link"},
        {"cache remove Demo", 0, "removed"}},
       [&] {
         EXPECT_TRUE(fs::exists(home_ + "/Demo/bin/run"));
         fs::remove_all(home_ + "/Demo");
       }},
      {"a link on the way to the place",
       [&] {
         ASSERT_EQ(Qxweb("cache root").status, 0);
         fs::create_directory_symlink(home_, root_ + "/apps");
       },
       {{Install("Demo"), 1, "is a symbolic link"}},
       [&] {
         EXPECT_FALSE(fs::exists(home_ + "/Demo"));
         fs::remove(root_ + "/apps");
       }},
      {"two names that differ only in letter case",
       nullptr,
       {{Install("Demo"), 0, "installed"},
        {Install("demo"), 1, "differs only in letter case"},
        {"cache launch apps\\\\demo", 0, "Demo 01"}}},
      {"the cache's own directory as a place",
       nullptr,
       {{Install("Demo", ".qxweb"), 1, "is the cache's own directory"}}},
      {"the registration cannot be written",
       [&] { fs::create_directories(dir_ / "config/tarnwick/registry.ini"); },
       {{Install("Demo"), 1, "not installed; the cache is as it was"},
        {"cache list", 0, "no applications cached"}},
       [&] { fs::remove(dir_ / "config/tarnwick/registry.ini"); }},
      {"a new version over an expanded one, and the same one again",
       nullptr,
       {{Install("Demo"), 0, "installed"},
        {"cache launch Demo", 0, "Demo 01 01"},
        {Install("Demo", "apps", 2), 0, "replaced the cached version"},
        {Install("Demo", "apps", 2), 0, "replaced the cached version"}}},
      {"an empty command line, installed three times",
       [&] { Package("Data", "apps", 1, 1, " "); },
       {{"cache install " + ShellQuote(Package("Data", "apps", 1, 1, " ")), 0, "installed"},
        {"cache install " + ShellQuote(Package("Data", "apps", 1, 1, " ")), 0, "replaced"},
        {"cache install " + ShellQuote(Package("Data", "apps", 1, 1, " ")), 0, "replaced"},
        {"cache remove Data", 0, "removed"},
        {"cache list", 0, "no applications cached"}}},
      {"a command line longer than the record keeps",
       nullptr,
       {{"cache install " + ShellQuote(Package("Long", "apps", 1, 1, long_command)), 0, ""},
        {"cache launch Long", 0, "Long 01"},
        {"cache launch Long", 0, "Long 01"}},
       [&] { EXPECT_NE(ReadFile(ini).find(long_command), std::string::npos); }},
      {"a shared temporary directory recorded earlier",
       [&] { WriteFile(ini, "[General]\nTempDir=/tmp\n"); },
       {{"cache list", 0, ""}},
       [&] {
         EXPECT_NE(ReadFile(ini).find("TempDir=" + root_ + "/.qxweb/tmp"), std::string::npos);
       }},
      {"cache roots that are not the cache's own",
       [&] { WriteFile(dir_ / "afile", "x"); },
       {{"cache root /", 1, "cannot be / itself"},
        {"cache root " + ShellQuote(dir_ / "afile"), 1, "cannot create the cache root"},
        {"cache root " + ShellQuote(home_), 1, "holds files the cache did not put there"},
        {"cache root " + ShellQuote(dir_ / "data/new"), 0, dir_ / "data/new"},
        {Install("Demo"), 0, dir_ / "data/new/apps/Demo"},
        {"cache root " + ShellQuote(home_), 1, "remove them before the cache root is changed"}},
       [&] { EXPECT_TRUE(fs::exists(dir_ / "data/new/CACHEDIR.TAG")); }},
      {"a root recorded before roots were tagged, holding only its applications",
       [&] {
         ASSERT_EQ(Qxweb(Install("Demo")).status, 0);
         fs::remove(root_ + "/CACHEDIR.TAG");
         fs::remove_all(root_ + "/.qxweb");
       },
       {{Install("Other"), 0, "installed"}},
       [&] { EXPECT_TRUE(fs::exists(root_ + "/CACHEDIR.TAG")); }},
      {"a root recorded before roots were tagged, holding files of the user's",
       [&] {
         ASSERT_EQ(Qxweb(Install("Demo")).status, 0);
         fs::remove(root_ + "/CACHEDIR.TAG");
         fs::remove_all(root_ + "/.qxweb");
         WriteFile(root_ + "/Documents/thesis.txt", "mine\n");
       },
       {{Install("Other"), 1, "holds files the cache did not put there (Documents)"},
        {"cache list", 0, "apps\\Demo"},
        {"cache remove Demo", 0, "removed"}},
       [&] {
         EXPECT_FALSE(fs::exists(root_ + "/CACHEDIR.TAG"));
         EXPECT_EQ(ReadFile(root_ + "/Documents/thesis.txt"), "mine\n");
         fs::remove_all(root_ + "/Documents");
       }},
      {"a sweep without a terminal",
       nullptr,
       {{Install("Demo"), 0, "installed"},
        {"cache mark Demo", 0, "marked"},
        {"cache sweep", 0, "1 application is marked for deletion"},
        {"cache list", 0, "marked for deletion"},
        {"cache sweep --yes", 0, "1 application removed"}}},
  };
  for (const Case& a_case : cases) {
    RunCase(a_case);
  }
}

// Stored files that would expand without end, or that are no files at all,
// and a damaged list count: every command ends, and what it wrote goes.
TEST_F(QxwebCacheGuardTest, HostileStoredFilesAndCountsStayInBounds) {
  const std::string ini = dir_ / "config/tarnwick/qxweb.ini";
  const std::string blob = dir_ / "pkg/forged-Odd/data/blob";
  const auto forge_odd = [&](const std::function<void()>& replace_blob) {
    return [&, replace_blob] {
      Forged("Odd", "x", 1);
      fs::remove(blob);
      replace_blob();
    };
  };
  const std::vector<Case> cases = {
      {"a stored file that expands far past its Size",
       [&] { Forged("Bomb", std::string(size_t{32} << 20, '\0'), 10); },
       {{"cache install " + ShellQuote(dir_ / "pkg/forged-Bomb/Bomb.qxw"), 0, "installed"},
        {"cache launch Bomb", 1, "data\\blob: expands past its Size of 10 bytes"},
        {"cache launch Bomb", 1, "expands past"},
        {"unpack " + ShellQuote(dir_ / "pkg/forged-Bomb/Bomb.qxw") + " " +
             ShellQuote(dir_ / "unpacked"),
         1, "data\\blob: expands past its Size of 10 bytes"},
        {"cache list", 0, "stored"},
        {"cache remove Bomb", 0, "removed"}}},
      {"a stored file that ends short of its Size",
       [&] { Forged("Short", "abc", 1000); },
       {{"cache install " + ShellQuote(dir_ / "pkg/forged-Short/Short.qxw"), 0, "installed"},
        {"cache launch Short", 1, "data\\blob: expands to 3 bytes, the header says 1000"},
        {"unpack " + ShellQuote(dir_ / "pkg/forged-Short/Short.qxw") + " " +
             ShellQuote(dir_ / "unpacked"),
         1, "data\\blob: expands to 3 bytes, the header says 1000"},
        {"cache remove Short", 0, "removed"}}},
      {"a stored file that is a link to an endless device",
       forge_odd([&] { fs::create_symlink("/dev/zero", blob); }),
       {{"cache install " + ShellQuote(dir_ / "pkg/forged-Odd/Odd.qxw"), 1,
         blob + ": not a regular file"},
        {"cache list", 0, "no applications cached"}}},
      {"a stored file that is a named pipe nobody writes to",
       forge_odd([&] { ASSERT_EQ(::mkfifo(blob.c_str(), 0600), 0); }),
       {{"cache install " + ShellQuote(dir_ / "pkg/forged-Odd/Odd.qxw"), 1,
         blob + ": not a regular file"}}},
      {"a stored file that goes on far past its Length",
       [&] {
         Forged("Long", "x", 1);
         WriteFile(dir_ / "pkg/forged-Long/data/blob", std::string(size_t{16} << 20, 'x'));
       },
       {{"cache install " + ShellQuote(dir_ / "pkg/forged-Long/Long.qxw"), 1, "the header says"}}},
      {"a list count of two thousand million",
       [&] {
         ASSERT_EQ(Qxweb(Install("Demo")).status, 0);
         std::string text = ReadFile(ini);
         text.replace(text.find("ApplCount=1"), 11, "ApplCount=2000000000");
         WriteFile(ini, text);
       },
       {{"cache list", 0, "apps\\Demo"},
        {"cache launch Demo", 0, "Demo 01 01"},
        {Install("Other"), 0, "installed"},
        {"cache remove Demo", 0, "removed"}}},
  };
  for (const Case& a_case : cases) {
    RunCase(a_case);
  }
}

// A cache damaged after it was installed is not "already current": install
// and update fetch what is missing or damaged, in the stored form and in
// the expanded one, and only then say it is current.
TEST_F(QxwebCacheGuardTest, DamagedCachesAreMendedFromTheServer) {
  const std::string www = dir_ / "www";
  fs::create_directories(www);
  fs::copy(fs::path(Package("Demo")).parent_path(), www, fs::copy_options::recursive);
  qx_test::WebServer server(dir_ / "web", www);
  ASSERT_TRUE(server.Start()) << ReadFile(dir_ / "web/error.log");
  const std::string url = server.Url("/Demo.qxw");
  const std::string place = root_ + "/apps/Demo";
  struct Damage {
    const char* what;
    std::function<void()> done;
    int fetched;
  };
  const std::vector<Damage> damages = {
      {"the program emptied", [&] { WriteFile(place + "/bin/run", ""); }, 1},
      {"the data directory deleted", [&] { fs::remove_all(place + "/data"); }, 3},
      {"a data file cut by one byte",
       [&] {
         const std::string data = ReadFile(place + "/data/f1");
         WriteFile(place + "/data/f1", data.substr(0, data.size() - 1));
       },
       1},
      {"a data file replaced by a link to another",
       [&] {
         fs::remove(place + "/data/f2");
         fs::create_symlink(place + "/data/f0", place + "/data/f2");
       },
       1},
  };
  for (const bool expanded : {false, true}) {
    for (const Damage& damage : damages) {
      const std::string fetched = std::to_string(damage.fetched) + " file";
      Case a_case{damage.what,
                  [&] {
                    ASSERT_EQ(Qxweb("install " + url).status, 0);
                    if (expanded) {
                      ASSERT_EQ(Qxweb("cache launch Demo").status, 0);
                    }
                    damage.done();
                  },
                  {{"install " + url, 0, "updated, " + fetched},
                   {"update Demo", 0, "already current (4 files)"}}};
      SCOPED_TRACE(expanded ? "expanded" : "stored");
      RunCase(a_case);
    }
  }
  // A new version whose stored file expands past its Size never reaches
  // an expanded cache.
  Case bomb{"a new version that expands past its Size",
            [&] {
              ASSERT_EQ(Qxweb("install " + url).status, 0);
              ASSERT_EQ(Qxweb("cache launch Demo").status, 0);
              const std::string forged = Forged("Demo", std::string(size_t{32} << 20, 'z'), 5);
              fs::copy(fs::path(forged).parent_path(), www,
                       fs::copy_options::recursive | fs::copy_options::overwrite_existing);
            },
            {{"update Demo", 1, "data\\blob: expands past its Size of 5 bytes"},
             {"cache launch Demo", 0, "Demo 01 01"}}};
  RunCase(bomb);
}

// The signer a signed install pins, and what a later install must carry:
// the same key (or one accepted to replace it), a higher sequence, never no
// signature. A refusal leaves qxweb.ini and registry.ini byte for byte.
TEST_F(QxwebCacheGuardTest, SignedInstallsPinTheirSignerAndRefuseWhatItDidNotSign) {
  const std::string ini = dir_ / "config/tarnwick/qxweb.ini";
  const std::string registry = dir_ / "config/tarnwick/registry.ini";
  const auto make_key = [&](const std::string& file) {
    const qx::SigningKey key = qx::MakeSigningKey().value;
    EXPECT_EQ(qx::SaveSigningKey(key, dir_ / file, ""), "");
    return key;
  };
  const qx::SigningKey key = make_key("publisher.key");
  const qx::SigningKey other = make_key("other.key");
  const std::string id = qx::KeyId(key.public_key());
  const std::string v1 = Package("Demo");
  const std::string v2 = Package("Demo", "apps", 2);
  const auto sign = [&](const std::string& header, const qx::SigningKey& with, uint64_t sequence) {
    return [=] { qx_test::SignPackage(header, with, sequence); };
  };
  const auto unsign = [](const std::string& header) {
    return [=] { fs::remove(header + ".sig"); };
  };
  const auto install = [](const std::string& header, const std::string& options = "") {
    return "cache install " + ShellQuote(header) + (options.empty() ? "" : " " + options);
  };
  struct Row {
    const char* situation;
    std::vector<std::function<void()>> packages;
    std::vector<Step> before;  // must succeed
    Step judged;
    std::function<void()> after = nullptr;
    std::function<void()> tamper = nullptr;  // between |before| and |judged|
  };
  const std::string changed = dir_ / "pkg/changed/Demo.qxw";
  const std::vector<Row> rows = {
      {"a signed first install pins its key",
       {sign(v1, key, 10)},
       {},
       {install(v1), 0, "signed by key " + id + " (sequence 10); the key is pinned"},
       [&] {
         EXPECT_NE(Qxweb("cache show Demo").out.find("key " + id + ", sequence 10 taken last"),
                   std::string::npos);
       }},
      {"a newer version from the same signer",
       {sign(v1, key, 10), sign(v2, key, 11)},
       {{install(v1), 0, "pinned"}},
       {install(v2), 0, "signed by key " + id + " (sequence 11)"}},
      {"the same version again", {sign(v1, key, 10)}, {{install(v1), 0, ""}}, {install(v1), 0, ""}},
      {"an older version served again",
       {sign(v1, key, 10), sign(v2, key, 11)},
       {{install(v2), 0, ""}},
       {install(v1), 1, "a rollback: this version is signed by key " + id + " (sequence 10)"}},
      {"an unsigned version after a signed one",
       {sign(v1, key, 10), unsign(v2)},
       {{install(v1), 0, ""}},
       {install(v2), 1, "a downgrade: apps\\Demo is pinned to key " + id}},
      {"a version signed by another key",
       {sign(v1, key, 10), sign(v2, other, 11)},
       {{install(v1), 0, ""}},
       {install(v2), 1, "another key: apps\\Demo is pinned to key " + id}},
      {"another key, accepted",
       {sign(v1, key, 10), sign(v2, other, 11)},
       {{install(v1), 0, ""}},
       {install(v2, "--accept-new-key " + ShellQuote(dir_ / "other.key.pub")), 0,
        "the pin moves to it from key " + id}},
      {"an unsigned package where a signature is required",
       {unsign(v1)},
       {},
       {install(v1, "--require-signature"), 1, "not signed, and a signature is required"}},
      {"a first install that must carry a key it does not",
       {sign(v1, other, 10)},
       {},
       {install(v1, "--key " + ShellQuote(dir_ / "publisher.key.pub")), 1,
        "not with the required key " + id}},
      {"a command line changed after signing",
       {sign(v1, key, 10),
        [&] {
          fs::remove_all(dir_ / "pkg/changed");
          fs::copy(fs::path(v1).parent_path(), dir_ / "pkg/changed", fs::copy_options::recursive);
          std::string text = ReadFile(changed);
          text.replace(text.find("CommandLine"), 11, "CommandLine = sh -c evil;");
          WriteFile(changed, text);
        }},
       {},
       {install(changed), 1, "the header is not the one signed"}},
      {"a removed application keeps its pin",
       {sign(v1, key, 10), unsign(v2)},
       {{install(v1), 0, ""}, {"cache remove Demo", 0, "removed"}},
       {install(v2), 1, "a downgrade"}},
      {"a forgotten pin lets an unsigned version in",
       {sign(v1, key, 10), unsign(v2)},
       {{install(v1), 0, ""}, {"cache forget-key Demo", 0, "the pin of key " + id + " is gone"}},
       {install(v2), 0, "not signed"}},
      {"a cached header changed after the install is not launched",
       {sign(v1, key, 10)},
       {{install(v1), 0, ""}, {"cache launch Demo", 0, "Demo 01 01"}},
       {"cache launch Demo", 1, "the header is not the one signed"},
       [&] { ASSERT_EQ(Qxweb("cache remove Demo").status, 0); },
       [&] { WriteFile(root_ + "/apps/Demo/Demo.qxw", ReadFile(v1) + "; an added line\r\n"); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.situation);
    fs::remove_all(dir_ / "data");
    fs::remove_all(dir_ / "config");
    fs::create_directories(dir_ / "config/tarnwick");
    for (const auto& package : row.packages) {
      package();
    }
    outside_before_ = Outside();
    for (const Step& step : row.before) {
      const CommandResult result = Qxweb(step.arguments);
      ASSERT_EQ(result.status, 0) << step.arguments << "\n" << result.out << result.err;
    }
    if (row.tamper) {
      row.tamper();
    }
    // The first command sets the cache up; the judged one must change nothing.
    ASSERT_EQ(Qxweb("cache list").status, 0);
    const std::string ini_before = fs::exists(ini) ? ReadFile(ini) : "";
    const std::string registry_before = fs::exists(registry) ? ReadFile(registry) : "";
    const CommandResult result = Qxweb(row.judged.arguments);
    EXPECT_EQ(result.status, row.judged.status) << result.out << result.err;
    EXPECT_NE((result.out + result.err).find(row.judged.says), std::string::npos)
        << result.out << result.err;
    if (row.judged.status != 0) {
      EXPECT_EQ(fs::exists(ini) ? ReadFile(ini) : "", ini_before);
      EXPECT_EQ(fs::exists(registry) ? ReadFile(registry) : "", registry_before);
    }
    if (row.after) {
      row.after();
    }
    outside_before_ = Outside();
    ExpectWholeCache();
  }
}

// Eight commands at a time, each on an application of its own: installs,
// launches (the first expands), new versions and removals. No record may
// be lost and no directory orphaned.
TEST_F(QxwebCacheGuardTest, CommandsSideBySideKeepEveryRecord) {
  constexpr int kWorkers = 8;
  constexpr int kRounds = 3;
  std::string script;
  for (int worker = 0; worker < kWorkers; ++worker) {
    const std::string appl = "App" + std::to_string(worker);
    const std::string install_to = "apps\\group" + std::to_string(worker % 3);
    script += "( for round in $(seq " + std::to_string(kRounds) + "); do " +
              Command("cache install " + ShellQuote(Package(appl, install_to, 1))) + " && " +
              Command("cache launch " + appl) + " && " +
              Command("cache install " + ShellQuote(Package(appl, install_to, 2))) + " && " +
              Command("cache remove " + appl) + " && " +
              Command("cache install " + ShellQuote(Package(appl, install_to, 2))) +
              " || echo FAILED; done ) >/dev/null 2>" +
              ShellQuote(dir_ / ("pkg/log" + std::to_string(worker))) + " &\n";
  }
  script += "wait\n";
  outside_before_ = Outside();
  const CommandResult run = qx_test::RunCommand(script);
  EXPECT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
  for (int worker = 0; worker < kWorkers; ++worker) {
    // Nothing but the note that a command waits for another.
    std::istringstream log(ReadFile(dir_ / ("pkg/log" + std::to_string(worker))));
    for (std::string line; std::getline(log, line);) {
      EXPECT_NE(line.find("waiting for another qxweb command"), std::string::npos)
          << "worker " << worker << ": " << line;
    }
  }
  EXPECT_EQ(Listed().size(), static_cast<size_t>(kWorkers));
  ExpectWholeCache();
}

// A command killed at a random moment leaves the old or the new version;
// the next command finishes or undoes it.
TEST_F(QxwebCacheGuardTest, AKilledCommandLeavesOneVersionOrTheOther) {
  constexpr int kKills = 40;
  // Packages with enough files that a change takes some milliseconds.
  const std::vector<std::string> commands = {Install("Big", "apps", 1, 60),
                                             Install("Big", "apps", 2, 60), "cache launch Big",
                                             "cache remove Big", Install("Small", "apps", 1)};
  outside_before_ = Outside();
  std::mt19937 random(20261208);
  for (int kill = 0; kill < kKills; ++kill) {
    const std::string& command = commands[random() % commands.size()];
    SCOPED_TRACE("kill " + std::to_string(kill) + ": " + command);
    const pid_t child = ::fork();
    if (child == 0) {
      const std::string line = "exec env " + Command(command) + " >/dev/null 2>&1";
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ExpectWholeCache();
    if (HasFailure()) {
      break;
    }
  }
}

// A launch expands its files in place, each into a temporary beside it
// that takes its place only when all have expanded. Killed at any moment,
// it leaves every file whole in its stored or its expanded form, and the
// next launch finishes the job rather than fail until a reinstall.
TEST_F(QxwebCacheGuardTest, AKilledLaunchIsFinishedByTheNext) {
  constexpr int kKills = 16;
  const std::string install = Install("Wide", "apps", 1, 200);
  const std::string package = root_ + "/apps/Wide";
  outside_before_ = Outside();
  std::mt19937 random(20261209);
  int left_mixed = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    ASSERT_EQ(Qxweb(install).status, 0);
    const pid_t child = ::fork();
    if (child == 0) {
      const std::string line = "exec env " + Command("cache launch Wide") + " >/dev/null 2>&1";
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    // Each file is whole: its stored form (a gzip member) or its expansion.
    int stored = 0;
    int expanded = 0;
    for (const auto& file : fs::directory_iterator(package + "/data")) {
      const std::string bytes = ReadFile(file.path());
      if (file.path().string().find(';') != std::string::npos) {
        continue;  // a temporary, which the next launch removes
      }
      const bool is_stored = bytes.size() > 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b';
      stored += is_stored ? 1 : 0;
      expanded += is_stored ? 0 : 1;
      if (!is_stored) {
        EXPECT_EQ(bytes.substr(bytes.size() - 4), "\n01\n") << file.path();
      }
    }
    left_mixed += stored > 0 && expanded > 0 ? 1 : 0;
    ExpectWholeCache();
    for (const auto& file : fs::recursive_directory_iterator(package)) {
      EXPECT_EQ(file.path().string().find(';'), std::string::npos) << file.path();
    }
    if (HasFailure()) {
      break;
    }
  }
  // Not a condition of the test (the kills fall where they fall), but the
  // case it is about.
  std::printf("kills that left stored and expanded files side by side: %d\n", left_mixed);
}

}  // namespace
