#pragma once

// What taking a package into the cache needs, whether its files come from a
// directory or from a web server: the package's place in the cache, a staging
// directory beside it that is switched in whole, and the record and
// registration of the application. Client.

#include <fcntl.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "client/client_cache.h"
#include "client/package_check.h"
#include "core/format/package_paths.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"

namespace qx {

// The last part of a registry name: the application's ApplName.
std::string_view LastPart(std::string_view name);

// Flushes the file system that holds |directory|, so that the staged files
// are on disk before they are switched in.
void SyncFileSystem(const std::string& directory);

// Removes the directories that |directory|'s removal left empty, from its
// parent up to, not including, |root|.
void PruneEmptyParents(const std::string& root, std::string directory);

// Sets |outcome|'s name and directory for the package |values| describe and
// makes the directory's parent. False, with a problem added, when it cannot.
bool PlaceInCache(const std::string& root, const HeaderValues& values, InstallOutcome& outcome);

// Records the switched-in package in the cache registry, its files held in
// stored form or expanded, and registers the application. Problems are
// added to |outcome|.
void RecordAndRegister(const PackageHeader& record, bool stored_form, InstallOutcome& outcome);

// A staging directory beside a package directory, removed with everything
// in it unless it was switched into place.
class StagingDirectory {
 public:
  explicit StagingDirectory(const std::string& package_directory) {
    std::string pattern = DirectoryOf(package_directory) + "/." +
                          std::string(LastPart(package_directory)) + ".install-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~StagingDirectory() {
    if (!path_.empty()) {
      RemoveDirectoryTree(path_, TreeCallback(), true);
    }
  }
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;

  const std::string& path() const { return path_; }

  // Puts the staged files in place of |package_directory|. An earlier
  // version is exchanged with the staging directory in one step, so there
  // is never a moment without a whole package, and is then removed with it.
  bool SwitchInto(const std::string& package_directory, bool* replaced) {
    *replaced = DirectoryExists(package_directory);
    if (!*replaced) {
      if (std::rename(path_.c_str(), package_directory.c_str()) != 0) {
        return false;
      }
      path_.clear();
      return true;
    }
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, package_directory.c_str(),
                    RENAME_EXCHANGE) == 0) {
      return true;  // path_ now holds the earlier version, removed with this object
    }
    // A file system without the exchange: move the old version aside first.
    const std::string old = path_ + ".old";
    if (std::rename(package_directory.c_str(), old.c_str()) != 0) {
      return false;
    }
    if (std::rename(path_.c_str(), package_directory.c_str()) != 0) {
      std::rename(old.c_str(), package_directory.c_str());
      return false;
    }
    path_ = old;
    return true;
  }

 private:
  std::string path_;
};

}  // namespace qx
