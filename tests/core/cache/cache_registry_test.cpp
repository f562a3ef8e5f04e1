// Tests of the cache registry (cache layer): record defaults, case-blind reads
// cut at the buffer sizes, settings, the numbered list's lookups, stores,
// removals and repair of damaged files, and the write-failure box.
#include "core/cache/cache_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "core/platform/private_profile.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

class CacheRegistryTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text) {
    qx_test::WriteFile(dir_.path() + "/tarnwick/qxweb.ini", text);
  }

  // A list of |names|, each with a section whose Owner is its name.
  void Seed(const std::vector<std::string>& names) {
    std::string text = "[General]\nApplCount=" + std::to_string(names.size()) + "\n";
    for (size_t i = 0; i < names.size(); ++i) {
      text += "Application." + std::to_string(i + 1) + "=" + names[i] + "\n";
    }
    for (const std::string& name : names) {
      text += "[" + name + "]\nOwner=" + name + "\nCommandLine=run\n";
    }
    WriteIni(text);
  }

  static std::string Value(std::string_view section, std::string_view key) {
    std::string value;
    ReadCacheString(section, key, 256, "", value);
    return value;
  }

  // The list as stored, checking that keys 1..ApplCount hold names and that
  // no list key lies beyond.
  static std::vector<std::string> List() {
    int count = -1;
    ReadApplCount(&count);
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) {
      std::string name;
      EXPECT_EQ(GetApplicationName(i, &name), 1) << "gap at " << i;
      names.push_back(name);
    }
    for (const std::string& key : ReadProfileKeys(CacheFilePath(), "General")) {
      const std::string number = key.substr(std::min<size_t>(key.size(), 12));
      if (Value("General", key).empty() || number.empty() || number[0] == '0' ||
          strncasecmp(key.c_str(), "Application.", 12) != 0) {
        continue;
      }
      EXPECT_LE(std::stoll(number), count) << key << " beyond ApplCount";
    }
    return names;
  }

  qx_test::TempDir dir_;
  qx_test::ScopedEnv config_{"XDG_CONFIG_HOME", dir_.path().c_str()};
};

TEST_F(CacheRegistryTest, MissingKeysReadAsTheRecordDefaults) {
  CachedApplication app;
  app.name = "untouched";
  EXPECT_EQ(ReadApplication("apps\\Demo", &app), 1);  // no file at all
  EXPECT_EQ(app.name, "untouched");
  EXPECT_EQ(app.compressed, "Yes");
  EXPECT_EQ(app.delete_mark, "No");
  EXPECT_EQ(app.owner, "");
  EXPECT_EQ(app.compressed_size, 0);
  EXPECT_EQ(CacheFilePath(), dir_.path() + "/tarnwick/qxweb.ini");
}

TEST_F(CacheRegistryTest, HeaderValuesAreKeptUnderTheKeyTablesNamesAndSizes) {
  // The registry's bytes: these names, and at most these characters of each.
  struct Case {
    HeaderKey key;
    const char* name;
    std::string CachedApplication::*field;
    size_t kept;
  };
  const Case cases[] = {
      {HeaderKey::kOwner, "Owner", &CachedApplication::owner, 127},
      {HeaderKey::kCopyright, "Copyright", &CachedApplication::copyright, 127},
      {HeaderKey::kVersion, "Version", &CachedApplication::version, 9},
      {HeaderKey::kCommandLine, "CommandLine", &CachedApplication::command_line, 127},
      {HeaderKey::kReadmeFile, "ReadmeTxt", &CachedApplication::readme, 255},
  };
  std::string section = "[apps\\Demo]\r\n";
  for (const Case& c : cases) {
    section += std::string(c.name) + "=" + std::string(400, c.name[0]) + "\r\n";
  }
  WriteIni(section);
  CachedApplication app;
  ReadApplication("apps\\Demo", &app);
  size_t kept_keys = 0;
  for (const HeaderKeyInfo& info : kHeaderKeys) {
    kept_keys += info.cache_key.empty() ? 0 : 1;
  }
  EXPECT_EQ(kept_keys, std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HeaderKeyOf(c.key).cache_key, c.name);
    EXPECT_EQ(HeaderKeyOf(c.key).cache_size, c.kept + 1);
    EXPECT_EQ(app.*c.field, std::string(c.kept, c.name[0]));
  }
}

TEST_F(CacheRegistryTest, ReadsASectionWithoutCaseAndCutsAtTheBufferSizes) {
  WriteIni(
      "[General]\r\nTempDir=/var/tmp/qx\\\r\n"
      "[APPS\\demo]\r\nOwner=" +
      std::string(200, 'o') +
      "\r\nVersion=01.02.03abcdef\r\nCommandLine=run.exe\r\nCompressed=No\r\n"
      "DeleteCache=Yes\r\nCompressedSize=123456789012\r\nUncompressSize=-7x\r\n");
  CachedApplication app;
  ReadApplication("apps\\Demo", &app);
  EXPECT_EQ(app.owner, std::string(kCachedOwnerSize - 1, 'o'));
  EXPECT_EQ(app.version, "01.02.03a");
  EXPECT_EQ(app.command_line, "run.exe");
  EXPECT_EQ(app.compressed, "No");
  EXPECT_EQ(app.delete_mark, "Yes");
  EXPECT_EQ(app.compressed_size, 123456789012);
  EXPECT_EQ(app.uncompressed_size, -7);

  std::string temp;
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, &temp), 1);
  EXPECT_EQ(temp, "/var/tmp/qx");  // one trailing separator removed
}

TEST_F(CacheRegistryTest, TempDirSettingIsZeroWhenNothingIsRead) {
  std::string temp = "old";
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, &temp), 0);
  WriteIni("[General]\nTempDir=\n");
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, &temp), 0);
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, nullptr), 0);
}

TEST_F(CacheRegistryTest, RemovalRenumbersTheList) {
  const std::vector<std::string> all = {"A", "B", "C"};
  struct Case {
    const char* name;
    int index;
    int result;
    std::vector<std::string> list;
  };
  const Case cases[] = {
      {"A", 1, 1, {"B", "C"}},  {"B", 2, 1, {"A", "C"}},  {"C", 3, 1, {"A", "B"}},
      {"a", -1, 1, {"B", "C"}}, {"b", -1, 1, {"A", "C"}}, {"c", -1, 1, {"A", "B"}},
      {"Z", -1, 0, all},        {"C", 2, 0, all},         {"C", 4, 0, all},
      {"A", 0, 0, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.index));
    Seed(all);
    int count = 3;
    EXPECT_EQ(RemoveApplicationEntry(c.name, c.index, &count), c.result);
    EXPECT_EQ(count, static_cast<int>(c.list.size()));
    EXPECT_EQ(List(), c.list);
    for (const std::string& name : all) {
      const bool listed = std::find(c.list.begin(), c.list.end(), name) != c.list.end();
      EXPECT_EQ(Value(name, "Owner"), listed ? name : "") << name;
    }
  }
}

TEST_F(CacheRegistryTest, LookupsAndStoresOfTheList) {
  EXPECT_EQ(FindApplication("A", nullptr), -1);  // empty list
  Seed({"A", "B", "Demo"});
  int count = 0;
  EXPECT_EQ(FindApplication("DEMO", &count), 3);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(FindApplication("Other", nullptr), -1);

  CachedApplication app;
  app.name = "Demo";
  app.command_line = "demo.sh";
  app.compressed = "No";
  app.compressed_size = 5000000000;
  EXPECT_EQ(StoreApplicationListed("Demo", app), 3);  // found, not appended
  EXPECT_EQ(StoreApplicationListed("demo", app), 4);  // other case: a second entry
  EXPECT_EQ(AddOrUpdateApplication(app), 1);          // has a command line: list unchanged
  EXPECT_EQ(List(), (std::vector<std::string>{"A", "B", "Demo", "demo"}));
  app.name = "New";
  EXPECT_EQ(AddOrUpdateApplication(app), 1);
  EXPECT_EQ(List(), (std::vector<std::string>{"A", "B", "Demo", "demo", "New"}));

  CachedApplication read;
  EXPECT_EQ(ReadApplicationByIndex(5, &read), 1);
  EXPECT_EQ(read.command_line, "demo.sh");
  EXPECT_EQ(read.compressed_size, 5000000000);
  EXPECT_EQ(ReadApplicationByIndex(6, &read), 0);

  app.command_line = "again.sh";
  app.owner = "not saved";
  SaveLaunchSettings(app);
  EXPECT_EQ(Value("New", "CommandLine"), "again.sh");
  EXPECT_EQ(Value("New", "Owner"), "");
}

// A command line longer than the record keeps survives a launch that writes
// the record back; a command line the launch changed is still written.
TEST_F(CacheRegistryTest, LaunchWritesBackOnlyACommandLineReadWhole) {
  const std::string long_line = "run " + std::string(296, 'x');
  const std::string kept = long_line.substr(0, kCachedCommandLineSize - 1);
  struct Case {
    const char* what;
    std::string stored;
    std::string record;  // empty: as ReadApplication leaves it
    std::string expected;
  };
  const Case cases[] = {
      {"long, read cut", long_line, "", long_line},
      {"long, changed to a short one", long_line, "other.sh", "other.sh"},
      {"long, changed to its own first characters", long_line, kept.substr(0, 50),
       kept.substr(0, 50)},
      {"long, changed after the kept part", long_line, kept + "y", kept + "y"},
      {"short, changed", "demo.sh", "again.sh", "again.sh"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteIni("[Demo]\nCommandLine=" + c.stored + "\nCompressed=Yes\n");
    CachedApplication app;
    app.name = "Demo";
    ReadApplication("Demo", &app);
    if (!c.record.empty()) {
      app.command_line = c.record;
    }
    app.compressed = "No";
    SaveLaunchSettings(app);
    std::string stored;
    ReadCacheString("Demo", "CommandLine", 1000, "", stored);
    EXPECT_EQ(stored, c.expected);
    EXPECT_EQ(Value("Demo", "Compressed"), "No");
  }
}

// Names the registry could not list and read back as they are.
TEST_F(CacheRegistryTest, CacheNameFaultTellsWhatTheRegistryCannotHold) {
  const std::string bracket = "holds \"]\", which the cache registry cannot hold in a section name";
  const std::string line_break = "holds a line break or NUL, which the cache registry cannot hold";
  const std::string blank = "starts or ends with a blank, which the cache registry would drop";
  const std::string longer = "is longer than the 255 characters the cache registry keeps";
  struct Case {
    std::string name;
    std::string fault;  // empty: can be recorded
  };
  const Case cases[] = {
      {"\\Tool]x", bracket},
      {"apps\\Tool]", bracket},
      {"apps]x\\Tool", bracket},
      {"a\nb", line_break},
      {"a\rb", line_break},
      {std::string("a\0b", 3), line_break},
      {"\\Tool ", blank},
      {" \\Tool", blank},
      {"\\Tool\t", blank},
      {"\\Tool\v", blank},
      {"", "is empty, which the cache registry's list cannot hold"},
      {"\\" + std::string(254, 'n'), ""},
      {"\\" + std::string(255, 'n'), longer},
      {"\\[Tool x", ""},
      {"apps\\my tools\\Tool [x] ", bracket},
      {"apps\\my tools\\Tool [x", ""},
      {"\\Tool\x01x", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.name + "\"");
    const char* fault = CacheNameFault(c.name);
    EXPECT_EQ(fault == nullptr ? "" : fault, c.fault);
  }
  // Exactly the names that pass are stored, listed and read back unchanged.
  ScriptedUserInterface ui;
  ScopedUserInterface install(ui);
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.name + "\"");
    WriteIni("");
    CachedApplication app;
    app.name = c.name;
    app.command_line = "run";
    const bool stored = AddOrUpdateApplication(app) == 1;
    std::string listed;
    const bool recorded = stored && GetApplicationName(1, &listed) == 1 && listed == c.name &&
                          Value(listed, "CommandLine") == "run";
    EXPECT_EQ(recorded, c.fault.empty());
  }
}

TEST_F(CacheRegistryTest, SettingsAndNumbers) {
  std::string root = "/srv/cache/";
  WriteRootSetting(&root);
  EXPECT_EQ(root, "/srv/cache");
  EXPECT_EQ(Value("General", "Root"), "/srv/cache");
  std::string text;
  EXPECT_EQ(ReadRootSetting(256, &text), 1);
  EXPECT_EQ(ReadSplashSetting(256, &text), 0);
  WriteIni("[Splash Screens]\nSplash=/img\\\n[Demo]\nCompressedSize=7\n");
  EXPECT_EQ(ReadSplashSetting(256, &text), 1);
  EXPECT_EQ(text, "/img");
  EXPECT_EQ(ReadCompressedSetting("Demo", 4, &text), 0u);  // empty default, unlike ReadApplication
  EXPECT_EQ(WriteOSSetting("  free text "), 1);
  EXPECT_EQ(ReadOSSetting(256, &text), 9u);

  EXPECT_EQ(WriteCacheLong("Demo", "CompressedSize", -1), 1);
  EXPECT_EQ(ReadProfileKeys(CacheFilePath(), "Demo"), std::vector<std::string>{});
  EXPECT_EQ(WriteCacheInt("Demo", "N", -2), 1);
  int number = 0;
  EXPECT_EQ(ReadCacheInt("Demo", "N", 9, &number), 1);
  EXPECT_EQ(number, -2);
}

// Files damaged by hand or by a crash between two writes are read without
// harm, and the next store leaves a whole list that has kept every name.
TEST_F(CacheRegistryTest, DamagedListIsRepairedByTheNextStore) {
  struct Case {
    const char* what;
    const char* ini;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"gap", "[General]\nApplCount=3\nApplication.1=A\nApplication.3=C\n", {"A", "C"}},
      {"count above keys",
       "[General]\nApplCount=5\nApplication.1=A\nApplication.2=B\n",
       {"A", "B"}},
      {"keys beyond count",
       "[General]\nApplCount=1\nApplication.1=A\nApplication.3=C\n"
       "Application.2=B\n",
       {"A", "B", "C"}},
      {"duplicate sections",
       "[General]\nApplCount=1\nApplication.1=A\n[X]\n[General]\n"
       "Application.1=lost\nApplication.2=B\n",
       {"A", "B"}},
      {"case", "[general]\napplcount=1\nAPPLICATION.1=A\napplication.2=b\n", {"A", "b"}},
      {"empty values and twins",
       "[General]\nApplCount=4\nApplication.1=\nApplication.2=A\n"
       "Application.4=A\n",
       {"A", "A"}},
      {"absurd counts",
       "[General]\nApplCount=2000000000\nApplication.1=A\n"
       "Application.999999999999=B\n",
       {"A", "B"}},
      {"not a list key", "[General]\nApplication.07=X\nApplication.1=A\n", {"A"}},
      {"negative count", "[General]\nApplCount=-3\nApplication.1=A\n", {"A"}},
  };
  CachedApplication app;
  app.name = "New";
  for (const Case& c : cases) {
    for (const bool listed_store : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (listed_store ? " listed" : " add"));
      WriteIni(c.ini);
      CachedApplication read;
      std::string name;
      for (int i = -1; i <= 6; ++i) {
        ReadApplicationByIndex(i, &read);
        GetApplicationName(i, &name);
      }
      EXPECT_EQ(FindApplication("Z", nullptr), -1);
      std::vector<std::string> expected = c.kept;
      expected.push_back("New");
      if (listed_store) {
        EXPECT_EQ(StoreApplicationListed("New", app), static_cast<int>(expected.size()));
      } else {
        EXPECT_EQ(AddOrUpdateApplication(app), 1);
      }
      EXPECT_EQ(List(), expected);
      if (std::string_view(c.ini).find(".07=") != std::string_view::npos) {
        EXPECT_EQ(Value("General", "Application.07"), "X");  // left alone
      }
    }
  }
}

TEST_F(CacheRegistryTest, FailedWritesShowABoxAndLeaveTheRecordIncomplete) {
  Seed({"Demo"});
  const std::string config = dir_.path() + "/tarnwick";
  ASSERT_EQ(::chmod(config.c_str(), 0555), 0);
  if (::access(config.c_str(), W_OK) == 0) {
    // Root writes into a read-only directory; a directory in the file's
    // place cannot be replaced by anyone.
    ASSERT_EQ(::chmod(config.c_str(), 0755), 0);
    ASSERT_EQ(::unlink(CacheFilePath().c_str()), 0);
    ASSERT_EQ(::mkdir(CacheFilePath().c_str(), 0755), 0);
  }
  ScriptedUserInterface ui;
  ScopedUserInterface install(ui);
  EXPECT_EQ(WriteCacheString("Demo", "Owner", "x"), 0);
  EXPECT_EQ(WriteCacheString("Demo", std::nullopt, std::nullopt), 0);
  CachedApplication app;
  EXPECT_EQ(StoreApplication("Demo", app, false), 0);
  ASSERT_EQ(ui.boxes().size(), 11u);  // two, then one per value of the record
  const MessageBoxRequest& box = ui.boxes()[0];
  EXPECT_EQ(box.text, "Unable to write Owner field");
  EXPECT_EQ(box.caption, "Tarnwick Inc.");
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.icon, BoxIcon::kNone);
  EXPECT_EQ(box.buttons, BoxButtons::kOk);
  EXPECT_EQ(ui.boxes()[1].text, "Unable to write Demo section");
  EXPECT_EQ(ui.beeps(), 0);
}

}  // namespace
}  // namespace qx
