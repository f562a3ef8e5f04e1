// Tests of the cache root (cache layer): a longer path is cut at 260
// characters.
#include "core/cache/cache_root.h"

#include <gtest/gtest.h>

#include <string>

namespace qx {
namespace {

TEST(CacheRoot, CacheRootIsCutAt260Characters) {
  SetCacheRoot("/var/cache/qx");
  EXPECT_EQ(GetCacheRoot(), "/var/cache/qx");
  SetCacheRoot(std::string(300, 'r'));
  EXPECT_EQ(GetCacheRoot(), std::string(260, 'r'));
  SetCacheRoot("");
  EXPECT_EQ(GetCacheRoot(), "");
}

}  // namespace
}  // namespace qx
