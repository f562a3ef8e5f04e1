// The process-wide cache root behind one accessor, guarded by a mutex and cut
// at kMaxCacheRoot characters. Cache layer.
#include "core/cache/cache_root.h"

#include <mutex>

namespace qx {

namespace {

struct CacheRoot {
  std::mutex mutex;
  std::string path;
};

CacheRoot& TheCacheRoot() {
  static CacheRoot root;
  return root;
}

}  // namespace

void SetCacheRoot(std::string_view path) {
  CacheRoot& root = TheCacheRoot();
  std::lock_guard lock(root.mutex);
  root.path.assign(path.substr(0, kMaxCacheRoot));
}

std::string GetCacheRoot() {
  CacheRoot& root = TheCacheRoot();
  std::lock_guard lock(root.mutex);
  return root.path;
}

}  // namespace qx
