#pragma once

// What in the cache root belongs to the client: the tag that marks a root as
// the cache's own, the work area beside the applications (staging
// directories and the private temporary directory), the check that a
// package may be put at its place without touching anything the cache does
// not list, and removal that never follows a link. Client.

#include <string>
#include <string_view>
#include <vector>

#include "client/client_lock.h"

namespace qx {

// The file that marks a directory as a cache root of the client's: a cache
// directory tag, which backup programs also honour.
inline constexpr std::string_view kCacheRootTagName = "CACHEDIR.TAG";
// The client's own directory in the root: "staging" and "tmp" below it.
inline constexpr std::string_view kWorkAreaName = ".qxweb";

// Whether |root| holds the client's tag.
bool IsTaggedCacheRoot(const std::string& root);

// Tags |root| and makes its work area (mode 0700). Empty on success, else
// the reason.
std::string TagCacheRoot(const std::string& root);

// The client's private temporary directory in |root|'s work area.
std::string CacheTempDirectory(const std::string& root);

// What an untagged |root| holds that the cache did not put there, given the
// listed applications' names: paths relative to the root, at most |limit|
// of them, and in |left_over| the staging directories earlier versions of
// the client left beside package directories. An empty directory tree is
// nothing. Empty when the root holds only the listed applications.
std::vector<std::string> ForeignEntries(const std::string& root,
                                        const std::vector<std::string>& listed, size_t limit,
                                        std::vector<std::string>* left_over);

// Removes the staging directories of commands that were killed: those whose
// lock nobody holds. Called under the client's lock.
void RemoveAbandonedWorkDirectories(const std::string& root);

// A staging directory in the root's work area, locked while this object
// lives (so that it is never taken for a killed command's) and removed with
// everything in it at its end. Made under the client's lock.
class WorkDirectory {
 public:
  WorkDirectory() = default;
  ~WorkDirectory() { Remove(); }
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;

  // Makes a fresh one in |root|'s work area, with its empty incoming()
  // directory. False, with the reason in |error|, when it cannot.
  bool Make(const std::string& root, std::string* error);
  void Remove();

  const std::string& path() const { return path_; }
  // Where a new version of a package is put together.
  std::string incoming() const { return path_ + "/new"; }
  // Where an earlier version goes when it is taken away.
  std::string aside() const { return path_ + "/old"; }

 private:
  std::string path_;
  FileLock lock_;
};

// Where a package goes and what stands there now.
struct Placement {
  std::string name;       // the cache name, InstallTo\ApplName
  std::string directory;  // its package directory under the root
  bool listed = false;    // the cache lists this very name
  bool exists = false;    // a directory stands at the place (never a link)
};

// Checks that the package |name| may be put into |root|, given the listed
// applications: its place is the root's own (no link on the way, not the
// work area), it neither holds nor lies inside another listed application,
// no listed name differs from it only in letter case, and what stands at its
// place is this listed application's directory or an empty directory.
// Empty, with |placement| filled, when it may; else the reason.
std::string PlacePackage(const std::string& root, const std::string& name,
                         const std::vector<std::string>& listed, Placement* placement);

// Makes the levels between |root| and |directory|'s parent, refusing a link
// on the way. Empty on success, else the reason.
std::string MakeParentDirectories(const std::string& root, const std::string& directory);

// Removes the directories that |directory|'s removal left empty, from its
// parent up to, not including, |root|.
void PruneEmptyParents(const std::string& root, const std::string& directory);

// The device and inode of what stands at |path| (a link itself, not what
// it names), by which a directory is known again after renames; empty when
// nothing stands there.
std::string FileIdOf(const std::string& path);

// Removes |path| without following a link: a link or a file is unlinked, a
// directory emptied (never following a link inside) and removed. True when
// nothing is left (also when nothing was there).
bool RemoveWithoutFollowing(const std::string& path);

}  // namespace qx
