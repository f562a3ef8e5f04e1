#pragma once

// The client's cache of applications: its root and settings, and taking a
// package in, launching, removing and sweeping applications, through the
// cache registry, registration and launch of the core. The operations on
// the cache take the root that PrepareClientCache gave. Client.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/cache/cache_list.h"
#include "core/format/header_reader.h"

namespace qx {

// The cache root when the registry names none: $XDG_DATA_HOME/tarnwick/cache.
std::string DefaultCacheRoot();

// Makes the registry's settings whole before the client uses the cache:
// General/Root (the default root when missing) and General/TempDir (TEMP,
// then TMP, then /tmp when missing), creates the root and makes it the
// process's cache root. Returns the root; empty, with |error| set, when
// there is no configuration directory or the root cannot be made.
std::string PrepareClientCache(std::string* error);

// Sets General/Root to |path| (absolute). Refused, with the reason in the
// result, while applications are listed under another root, whose files
// would be left behind. Empty on success.
std::string ChangeCacheRoot(const std::string& path);

// "InstallTo\ApplName", the name under which the registry lists a package's
// application ("\ApplName" without InstallTo).
std::string CacheNameOf(const HeaderValues& values);

// The listed application that |typed| names: its registry name (without
// regard to case) or, when no name matches whole, the one application whose
// last part (ApplName) it is. Empty, with |error| set, when none or several match.
std::string FindCachedApplication(std::string_view typed, std::string* error);

// The listed applications in list order.
std::vector<std::string> ListedApplications();

struct InstallOutcome {
  std::string name;                   // registry name of the application
  std::string directory;              // its package directory in the cache
  int files = 0;                      // stored files taken
  bool replaced = false;              // an earlier version was replaced
  std::vector<std::string> problems;  // empty when installed
};

// Takes the package whose header is |header_path| into the cache: verifies
// the header and every stored file, copies them into a staging directory
// beside the package directory (checking each copy again), switches it in
// place of an earlier version, then records and registers the application.
// On any problem nothing is recorded and an earlier version stays whole.
InstallOutcome InstallPackage(const std::string& root, const std::string& header_path);

// Removes a listed application: its files (and the directories they leave
// empty below the root), its list entry and section, and its registration.
// Returns the problems; empty when all of it is gone.
std::vector<std::string> RemoveCachedApplication(const std::string& root, const std::string& name);

// Asks for each application marked for deletion whether to delete it, and
// deletes the confirmed ones as RemoveCachedApplication does (the
// registry's list loading removes files and entries; the registration and
// empty parent directories follow). Returns the names removed.
std::vector<std::string> SweepCachedApplications(const std::string& root);

struct LaunchOutcome {
  int result = 0;  // the launch result: above 32 when started
  pid_t pid = -1;  // the started program
  std::vector<std::string> problems;
};

// Starts a listed application with |arguments| after its command line's
// own. A package still in stored form is verified and expanded first, and
// the registry then records it as expanded.
LaunchOutcome LaunchCachedApplication(const std::string& root, const std::string& name,
                                      const std::vector<std::string>& arguments);

}  // namespace qx
