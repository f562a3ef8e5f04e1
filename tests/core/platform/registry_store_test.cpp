// Tests of the registry store (platform layer): keys with and without values,
// dispositions, values that a profile would trim, refused names, deletion.
#include "core/platform/registry_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/platform/private_profile.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using Words = std::vector<std::string>;

constexpr std::string_view kKey = "Software\\TARNWICK\\Tarnwick WEB\\Demo";

TEST(RegistryStore, KeysAreCreatedThenOpenedAndHoldValuesVerbatim) {
  qx_test::TempDir dir;
  RegistryStore store(dir / "registry.ini");
  KeyDisposition disposition = KeyDisposition::kOpened;
  ASSERT_TRUE(store.CreateKey(kKey, "Application Global Data", &disposition));
  EXPECT_EQ(disposition, KeyDisposition::kCreated);
  EXPECT_TRUE(store.KeyExists(kKey));  // before it has any value
  EXPECT_TRUE(store.KeyExists("software\\tarnwick\\tarnwick web\\demo"));
  EXPECT_FALSE(store.KeyExists("Software\\TARNWICK\\Tarnwick WEB"));
  ASSERT_TRUE(store.CreateKey(kKey, "Other", &disposition));
  EXPECT_EQ(disposition, KeyDisposition::kOpened);

  // Values that a profile would trim or misread come back as they went in.
  for (const std::string value :
       {"", "C:\\Apps\\Demo", "  padded\t", "\"quoted\"", "\"", "a=b;c", "\"half", "end\""}) {
    ASSERT_TRUE(store.SetValue(kKey, "Description", value)) << value;
    EXPECT_EQ(store.ReadValue(kKey, "description"), value) << value;
  }
  EXPECT_EQ(store.ReadValue(kKey, "Version"), std::nullopt);
  EXPECT_EQ(store.ReadValue("Software\\Other", "Description"), std::nullopt);
  EXPECT_FALSE(store.SetValue("Software\\Other", "Version", "1"));  // no such key
  EXPECT_FALSE(store.KeyExists("Software\\Other"));
}

TEST(RegistryStore, NamesAProfileCannotHoldUnchangedAreRefused) {
  qx_test::TempDir dir;
  RegistryStore store(dir / "registry.ini");
  for (const std::string& key :
       Words{"", "a]b", "a\nb", std::string("a\0b", 3), " lead", "trail "}) {
    EXPECT_FALSE(store.CreateKey(key, "c", nullptr)) << key;
    EXPECT_FALSE(store.KeyExists(key)) << key;
  }
  ASSERT_TRUE(store.CreateKey(kKey, "c", nullptr));
  // The class text's own name must not be reachable as a value.
  for (const std::string& name : Words{"", "(class)", "(CLASS)", "a=b", "[x", ";x", " x"}) {
    EXPECT_FALSE(store.SetValue(kKey, name, "v")) << name;
  }
  EXPECT_FALSE(store.SetValue(kKey, "Description", "two\nlines"));
  EXPECT_EQ(store.ReadValue(kKey, "(class)"), std::nullopt);
  EXPECT_EQ(ReadProfileSections(dir / "registry.ini").size(), 1u);
}

TEST(RegistryStore, DeleteRemovesOnlyThatKeyAndFailsWithoutOne) {
  qx_test::TempDir dir;
  qx_test::ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").c_str());
  RegistryStore store;  // the per-user file
  EXPECT_EQ(store.path(), dir / "config/tarnwick/registry.ini");
  ASSERT_TRUE(store.CreateKey("Software\\A", "", nullptr));
  ASSERT_TRUE(store.CreateKey("Software\\B", "", nullptr));
  ASSERT_TRUE(store.SetValue("Software\\A", "Version", "1.0"));
  EXPECT_TRUE(store.DeleteKey("software\\a"));
  EXPECT_FALSE(store.KeyExists("Software\\A"));
  EXPECT_EQ(store.ReadValue("Software\\A", "Version"), std::nullopt);
  EXPECT_TRUE(store.KeyExists("Software\\B"));
  EXPECT_FALSE(store.DeleteKey("Software\\A"));
  EXPECT_FALSE(RegistryStore("").CreateKey("Software\\A", "", nullptr));
}

}  // namespace
}  // namespace qx
