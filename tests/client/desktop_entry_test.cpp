// Tests of the menu entries of cached applications: file names for hostile
// and case-folded names, both escaping levels read back by an independent
// reader of the entry format, the validator's verdict, files the client did
// not write, and the icon chosen by its content.
#include "client/desktop_entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/platform/private_profile.h"
#include "tests/client/desktop_entry_reader.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using qx_test::EntryKeys;
using qx_test::ReadExec;
using qx_test::ReadFile;
using qx_test::ReadStringValue;
using qx_test::ShellQuote;
using qx_test::WriteFile;

// Names a package's InstallTo and ApplName can give, each a trap for one
// escaping rule or another.
const std::vector<std::string> kHostileNames = {
    "\\Demo",
    "apps\\demo\\Demo",
    "-rf\\Demo",
    "a\"b'c\\d",
    "per%cent\\%%u %F",
    "$HOME\\`id`\\$(id)",
    "semi;colon\\#hash(x)|y&z<a>b~c*d?e",
    "back\\\\slash\\\\\\three",
    "tab\there\\new",
    "spaces  inside\\ x",
    "\xc3\x9c"
    "nic\xc3\xb6"
    "de\\\xe2\x82\xac",
};

TEST(DesktopEntryId, EncodesEveryByteOutsideLowerCaseLettersAndDigits) {
  struct Case {
    const char* name;
    const char* id;
  };
  const Case cases[] = {
      {"\\Demo", "tarnwick-app-_5cdemo"},
      {"apps\\demo\\Demo", "tarnwick-app-apps_5cdemo_5cdemo"},
      {"APPS\\DEMO\\demo", "tarnwick-app-apps_5cdemo_5cdemo"},
      {"a b", "tarnwick-app-a_20b"},
      {"a_b", "tarnwick-app-a_5fb"},
      {"a_5fb", "tarnwick-app-a_5f5fb"},
      {"-x\\..\\y", "tarnwick-app-_2dx_5c_2e_2e_5cy"},
      {"a/b", "tarnwick-app-a_2fb"},
      {"\xc3\x9c", "tarnwick-app-_c3_9c"},
      {"\xc3\xbc", "tarnwick-app-_c3_bc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DesktopEntryId(c.name), c.id) << c.name;
  }
}

TEST(DesktopEntryId, IsTheSameExactlyForNamesTheCacheTakesForOne) {
  std::vector<std::string> names = kHostileNames;
  const std::vector<std::string> more = {
      "a\\b", "A\\B", "a/b", "a_5cb", "a\\B", "a b", "a_20b", "a-b", "a_2db", "\\\xc3\x9c",
      "\\\xc3\xbc", "\\ab", "\\aB", "x", "X", "_", "__",
      // Long names are cut and end in a digest: they differ only at the end.
      std::string(250, 'Q') + "1", std::string(250, 'Q') + "2", std::string(250, 'q') + "1",
      std::string(120, ';') + "a", std::string(120, ';') + "b"};
  names.insert(names.end(), more.begin(), more.end());
  const std::regex allowed("tarnwick-app-[a-z0-9_-]+");
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string id = DesktopEntryId(names[i]);
    EXPECT_TRUE(std::regex_match(id, allowed)) << id;
    // The entry's and the icon's names stay well inside a file name's 255 bytes.
    EXPECT_LE(id.size() + std::string(".desktop").size(), 200u) << names[i];
    for (size_t k = 0; k < names.size(); ++k) {
      EXPECT_EQ(DesktopEntryId(names[i]) == DesktopEntryId(names[k]),
                ProfileNamesEqual(names[i], names[k]))
          << names[i] << " / " << names[k];
    }
  }
}

TEST(DesktopEntryEscaping, WritesStringsAndExecAsTheFormatDefines) {
  struct StringCase {
    const char* text;
    const char* value;
  };
  const StringCase strings[] = {
      {" lead", R"(\slead)"},       {"  two", R"(\s two)"},
      {"mid space ", "mid space "}, {"a\nb\tc\rd\\e", R"(a\nb\tc\rd\\e)"},
      {"%$\"`;", "%$\"`;"},
  };
  for (const StringCase& c : strings) {
    EXPECT_EQ(EscapeDesktopString(c.text), c.value) << c.text;
  }
  struct ExecCase {
    std::vector<std::string> arguments;
    const char* value;
  };
  const ExecCase execs[] = {
      {{"/usr/bin/qxweb", "cache", "launch", "--", "plain"},
       "/usr/bin/qxweb cache launch -- plain"},
      {{"/usr/bin/qxweb", "\\Demo"}, R"(/usr/bin/qxweb "\\\\Demo")"},
      {{"/usr/bin/qxweb", "a\"b%c"}, R"(/usr/bin/qxweb "a\\"b%%c")"},
      {{"/usr/bin/qxweb", "-x\\$HOME"}, R"(/usr/bin/qxweb "-x\\\\\\$HOME")"},
      {{"/usr/bin/qxweb", "50%"}, "/usr/bin/qxweb 50%%"},
      {{"/opt/q x/qxweb", "`id`"}, R"("/opt/q x/qxweb" "\\`id\\`")"},
      {{"/q", "a=b", ""}, R"(/q a=b "")"},
  };
  for (const ExecCase& c : execs) {
    EXPECT_EQ(DesktopExecValue(c.arguments), c.value) << c.arguments.back();
  }
}

// Entries written into a private data directory.
class DesktopEntryFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_DATA_HOME");
    old_data_ = old == nullptr ? std::optional<std::string>() : std::string(old);
    ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    SetClientLauncherPath(launcher_);
  }
  void TearDown() override {
    SetClientLauncherPath("");
    if (old_data_) {
      ::setenv("XDG_DATA_HOME", old_data_->c_str(), 1);
    } else {
      ::unsetenv("XDG_DATA_HOME");
    }
  }

  static DesktopEntryFields Fields(const std::string& name) {
    DesktopEntryFields fields;
    fields.cache_name = name;
    fields.appl_name = name.substr(name.rfind('\\') + 1);
    fields.version = "1.2.3.4";
    fields.owner = "Owner; \"Quoted\" \\ Co";
    return fields;
  }

  qx_test::TempDir dir_;
  std::optional<std::string> old_data_;
  const std::string launcher_ = "/opt/odd $dir/50% `x`/qxweb";
  const std::string applications_ = dir_ / "data/applications";
  const std::string icons_ = dir_ / "data/tarnwick/icons";
};

TEST_F(DesktopEntryFiles, HostileNamesComeBackWhole) {
  for (const std::string& name : kHostileNames) {
    SCOPED_TRACE(name);
    const std::vector<std::string> notes = WriteDesktopEntry(Fields(name), "");
    EXPECT_TRUE(notes.empty()) << notes.front();
    const std::string path = DesktopEntryPath(name);
    EXPECT_EQ(path, applications_ + "/" + DesktopEntryId(name) + ".desktop");
    const auto keys = EntryKeys(ReadFile(path));
    EXPECT_EQ(keys.at("Type"), "Application");
    EXPECT_EQ(keys.at("Terminal"), "false");
    EXPECT_EQ(ReadStringValue(keys.at("Name")), name.substr(name.rfind('\\') + 1));
    EXPECT_EQ(ReadStringValue(keys.at("X-Tarnwick-Cache-Name")), name);
    EXPECT_EQ(ReadStringValue(keys.at("Comment")), "Version 1.2.3.4 from Owner; \"Quoted\" \\ Co");
    EXPECT_EQ(ReadExec(keys.at("Exec")),
              (std::vector<std::string>{launcher_, "cache", "launch", "--", name}));
    EXPECT_EQ(keys.count("Icon"), 0u);
    EXPECT_TRUE(IsOwnDesktopEntry(path, name));
    EXPECT_FALSE(IsOwnDesktopEntry(path, name + "x"));
  }
  // The directory was made, private, and holds nothing else of ours.
  struct stat info {};
  ASSERT_EQ(::stat(applications_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  for (const std::string& name : kHostileNames) {
    EXPECT_TRUE(RemoveDesktopEntry(name).empty());
    EXPECT_FALSE(qx_test::FileExists(DesktopEntryPath(name)));
  }
}

TEST_F(DesktopEntryFiles, TheValidatorTakesEveryEntry) {
  if (!qx_test::HaveValidator()) {
    GTEST_SKIP() << "desktop-file-validate is not installed";
  }
  const std::string icon = dir_ / "icon.png";
  WriteFile(icon, std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + std::string(40, '\0'));
  for (const std::string& name : kHostileNames) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(WriteDesktopEntry(Fields(name), icon).empty());
    const std::string text = ReadFile(DesktopEntryPath(name));
    EXPECT_NE(text.find("\nVersion=1.4\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon="), std::string::npos);
    EXPECT_EQ(
        qx_test::ValidatorComplaints(text, dir_ / ("checked/" + DesktopEntryId(name) + ".desktop")),
        "")
        << text;
  }
}

TEST_F(DesktopEntryFiles, FilesTheClientDidNotWriteAreLeftAlone) {
  const std::string name = "apps\\Demo";
  const std::string path = applications_ + "/" + DesktopEntryId(name) + ".desktop";
  struct Case {
    const char* what;
    std::string text;
  };
  const Case foreign[] = {
      {"no marker", "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n"},
      {"another name's marker", "[Desktop Entry]\nX-Tarnwick-Cache-Name=apps\\\\Demo2\n"},
      {"marker outside the group", "[Other]\nX-Tarnwick-Cache-Name=apps\\\\Demo\n"},
  };
  for (const Case& c : foreign) {
    SCOPED_TRACE(c.what);
    WriteFile(path, c.text);
    EXPECT_EQ(WriteDesktopEntry(Fields(name), "").size(), 1u);
    EXPECT_EQ(ReadFile(path), c.text);
    EXPECT_EQ(RemoveDesktopEntry(name).size(), 1u);
    EXPECT_EQ(ReadFile(path), c.text);
  }
  // A link at the name is neither followed nor replaced.
  fs::remove(path);
  const std::string target = dir_ / "target.desktop";
  WriteFile(target, "[Desktop Entry]\nX-Tarnwick-Cache-Name=apps\\\\Demo\n");
  fs::create_symlink(target, path);
  EXPECT_EQ(WriteDesktopEntry(Fields(name), "").size(), 1u);
  EXPECT_EQ(RemoveDesktopEntry(name).size(), 1u);
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(ReadFile(target), "[Desktop Entry]\nX-Tarnwick-Cache-Name=apps\\\\Demo\n");
  // An entry of ours, under another case of the name, is replaced.
  fs::remove(path);
  ASSERT_TRUE(WriteDesktopEntry(Fields("APPS\\DEMO"), "").empty());
  EXPECT_TRUE(WriteDesktopEntry(Fields(name), "").empty());
  EXPECT_EQ(ReadStringValue(EntryKeys(ReadFile(path)).at("X-Tarnwick-Cache-Name")), name);
  EXPECT_TRUE(RemoveDesktopEntry("apps\\demo").empty());
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(DesktopEntryFiles, TheIconIsTakenOnlyWhenItIsAnImageAMenuShows) {
  const std::string png_header = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  struct Case {
    const char* what;
    std::string bytes;
    const char* extension;  // nullptr: no icon
  };
  const Case cases[] = {
      {"png", png_header + std::string(40, '\x01'), ".png"},
      {"xpm", "/* XPM */\nstatic char* x[] = {\"1 1 1 1\", \". c #000000\", \".\"};\n", ".xpm"},
      {"png signature without its header chunk", "\x89PNG\r\n\x1a\nJUNKJUNK", nullptr},
      {"windows icon", std::string("\0\0\1\0\1\0\x10\x10", 8) + std::string(40, '\0'), nullptr},
      {"bitmap", "BM" + std::string(60, '\0'), nullptr},
      {"svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", nullptr},
      {"empty", "", nullptr},
      {"xpm too large", "/* XPM */" + std::string(5 << 20, ' '), nullptr},
  };
  const std::string name = "\\Demo";
  const std::string id = DesktopEntryId(name);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string source = dir_ / "package/icon.png";
    WriteFile(source, c.bytes);
    EXPECT_TRUE(WriteDesktopEntry(Fields(name), source).empty());
    const auto keys = EntryKeys(ReadFile(DesktopEntryPath(name)));
    std::set<std::string> icons;
    if (fs::exists(icons_)) {
      for (const auto& item : fs::directory_iterator(icons_)) {
        icons.insert(item.path().filename().string());
      }
    }
    if (c.extension == nullptr) {
      EXPECT_EQ(keys.count("Icon"), 0u);
      EXPECT_TRUE(icons.empty());
    } else {
      const std::string icon = icons_ + "/" + id + c.extension;
      EXPECT_EQ(ReadStringValue(keys.at("Icon")), icon);
      EXPECT_EQ(ReadFile(icon), c.bytes);
      EXPECT_EQ(icons, std::set<std::string>{id + c.extension});
    }
  }
  // A link as the source is no icon.
  const std::string image = dir_ / "image.png";
  WriteFile(image, png_header);
  fs::remove(dir_ / "package/icon.png");
  fs::create_symlink(image, dir_ / "package/icon.png");
  EXPECT_TRUE(WriteDesktopEntry(Fields(name), dir_ / "package/icon.png").empty());
  EXPECT_EQ(EntryKeys(ReadFile(DesktopEntryPath(name))).count("Icon"), 0u);
  // The entry takes its icon along when it goes.
  WriteFile(dir_ / "package/real.png", png_header);
  EXPECT_TRUE(WriteDesktopEntry(Fields(name), dir_ / "package/real.png").empty());
  EXPECT_TRUE(fs::exists(icons_ + "/" + id + ".png"));
  EXPECT_TRUE(RemoveDesktopEntry(name).empty());
  EXPECT_FALSE(fs::exists(icons_ + "/" + id + ".png"));
  EXPECT_FALSE(fs::exists(DesktopEntryPath(name)));
}

TEST_F(DesktopEntryFiles, NoEntryWithoutADataDirectoryOrAnUnwritableName) {
  ::unsetenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const std::string old_home = home == nullptr ? "" : home;
  ::setenv("HOME", "relative", 1);
  EXPECT_EQ(ApplicationsDirectory(), "");
  EXPECT_EQ(WriteDesktopEntry(Fields("\\Demo"), "").size(), 1u);
  ::setenv("HOME", (dir_ / "home").c_str(), 1);
  EXPECT_EQ(ApplicationsDirectory(), dir_ / "home/.local/share/applications");
  // A control character or broken UTF-8 cannot stand in an Exec argument.
  for (const std::string name : {"\\De\x01mo", "\\De\xffmo"}) {
    EXPECT_EQ(WriteDesktopEntry(Fields(name), "").size(), 1u);
    EXPECT_FALSE(fs::exists(DesktopEntryPath(name)));
  }
  ::setenv("HOME", old_home.c_str(), 1);
}

}  // namespace
}  // namespace qx
