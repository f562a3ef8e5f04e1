// Tests of the registry store (platform layer): keys before their values,
// dispositions, values a profile would trim, refused names, deletion.
#include "core/platform/registry_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/platform/private_profile.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using Words = std::vector<std::string>;
constexpr std::string_view kKey = "Software\\TARNWICK\\Tarnwick WEB\\Demo";

TEST(RegistryStore, KeysExistBeforeTheirValuesAndValuesReadBackVerbatim) {
  qx_test::TempDir dir;
  RegistryStore store(dir / "registry.ini");
  KeyDisposition disposition = KeyDisposition::kOpened;
  ASSERT_TRUE(store.CreateKey(kKey, "Application Global Data", &disposition));
  EXPECT_EQ(disposition, KeyDisposition::kCreated);
  EXPECT_TRUE(store.KeyExists("software\\tarnwick\\tarnwick web\\demo"));
  ASSERT_TRUE(store.CreateKey(kKey, "Other", &disposition));
  EXPECT_EQ(disposition, KeyDisposition::kOpened);
  for (const std::string& value :
       Words{"", "C:\\Apps", "  padded\t", "\"quoted\"", "\"", "a=b;c"}) {
    ASSERT_TRUE(store.SetValue(kKey, "Description", value)) << value;
    EXPECT_EQ(store.ReadValue(kKey, "description"), value) << value;
  }
  EXPECT_EQ(store.ReadValue(kKey, "Version"), std::nullopt);
  EXPECT_FALSE(store.SetValue("Software\\Other", "Version", "1"));  // no such key
  EXPECT_TRUE(store.DeleteKey(kKey));
  EXPECT_FALSE(store.KeyExists(kKey));
  EXPECT_EQ(store.ReadValue(kKey, "Description"), std::nullopt);
  EXPECT_FALSE(store.DeleteKey(kKey));
}

TEST(RegistryStore, NamesAProfileCannotHoldUnchangedAreRefused) {
  qx_test::TempDir dir;
  RegistryStore store(dir / "registry.ini");
  for (const std::string& key : Words{"", "a]b", "a\nb", std::string("a\0b", 3), "trail "}) {
    EXPECT_FALSE(store.CreateKey(key, "c", nullptr)) << key;
  }
  ASSERT_TRUE(store.CreateKey(kKey, "c", nullptr));
  // The class text's own name must not be reachable as a value.
  for (const std::string& name : Words{"", "(CLASS)", "a=b", "[x", ";x", " x"}) {
    EXPECT_FALSE(store.SetValue(kKey, name, "v")) << name;
  }
  EXPECT_FALSE(store.SetValue(kKey, "Description", "two\nlines"));
  EXPECT_EQ(ReadProfileSections(store.path()), Words{std::string(kKey)});
  EXPECT_EQ(ReadProfileKeys(store.path(), kKey).size(), 1u);
}

}  // namespace
}  // namespace qx
