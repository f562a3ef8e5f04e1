#pragma once

// The client's cache of applications: its root and settings under the
// client's lock, and taking a package in, launching, removing and sweeping
// applications, through the cache registry, registration and launch of the
// core. Every change is a transaction (client/cache_transaction.h) and
// touches only what the cache lists. Client.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_lock.h"
#include "client/signer_pins.h"
#include "core/cache/cache_list.h"
#include "core/format/header_reader.h"

namespace qx {

// The cache section key that records the URL an application came from.
inline constexpr std::string_view kSourceUrlKey = "URL";

// The largest package header the client takes in, from a server or a
// directory.
inline constexpr int64_t kHeaderSizeLimit = int64_t{64} << 20;

// The cache root when the registry names none: $XDG_DATA_HOME/tarnwick/cache.
std::string DefaultCacheRoot();

// The bytes of the file |path|; empty when it cannot be read.
std::string FileBytes(const std::string& path);

// Whether the file system of |directory| (or of its nearest existing
// parent) has room for |bytes| more; a problem says so when not.
bool RoomFor(const std::string& directory, uint64_t bytes, std::vector<std::string>& problems);

// The client's state for one command: the lock on it, held from Open until
// Unlock or the end, and the cache root.
class ClientCache {
 public:
  // Takes the client's lock (|waiting| is called once when another command
  // holds it for more than a second), finishes or undoes what a killed
  // command left in flight, and makes the registry's settings whole: the
  // root (General/Root, the default when missing), made and tagged as the
  // cache's own, and the private temporary directory in it (General/TempDir),
  // emptied. Null, with |error| set, when there is no configuration directory
  // or the lock cannot be had; a root that cannot serve is told by
  // root_problem() instead, so that the commands that do not put anything
  // into it (and "cache root" itself) still work.
  static std::unique_ptr<ClientCache> Open(std::function<void()> waiting, std::string* error);

  const std::string& root() const { return root_; }
  // Why nothing can be put into the root; empty when it is the cache's own.
  const std::string& root_problem() const { return root_problem_; }

  // Takes the lock again after Unlock; false, with |error| set, when it
  // cannot be had or a change left in flight cannot be undone.
  bool Lock(std::string* error);
  void Unlock() { lock_.Release(); }

  // Sets General/Root to |path| while no application is listed: a new or
  // empty directory, or one tagged as a cache root earlier; never "/". It is
  // made and tagged before it is recorded. Empty on success, else the reason
  // (and nothing recorded).
  std::string ChangeRoot(const std::string& path);

 private:
  ClientCache() = default;
  void PrepareRoot();

  std::function<void()> waiting_;
  FileLock lock_;
  std::string root_;
  std::string root_problem_;
};

// "InstallTo\ApplName", the name under which the registry lists a package's
// application ("\ApplName" without InstallTo).
std::string CacheNameOf(const HeaderValues& values);

// The last part of a registry name: the application's ApplName.
std::string_view LastPart(std::string_view name);

// The listed application that |typed| names: its registry name (without
// regard to case) or, when no name matches whole, the one application whose
// last part (ApplName) it is. Empty, with |error| set, when none or several match.
std::string FindCachedApplication(std::string_view typed, std::string* error);

// The listed applications marked for deletion.
std::vector<std::string> MarkedApplications();

struct InstallOutcome {
  std::string name;                   // registry name of the application
  std::string directory;              // its package directory in the cache
  int files = 0;                      // stored files taken
  bool replaced = false;              // an earlier version was replaced
  std::string signer;                 // who signed it, or that nobody did
  std::vector<std::string> problems;  // empty when installed
  // What went wrong after the install stood, such as its menu entry not
  // being written: to be shown as warnings; the install is not undone.
  std::vector<std::string> notes;
};

// Takes the package whose header is |header_path| into the cache: verifies
// the header and every stored file, copies them into a staging directory
// (the lock let go meanwhile), checks the copy, and then, holding the lock
// again, puts it in place of the listed application of that name and
// records and registers it as one transaction. On any problem the cache and
// its records stay as they were. A signature beside the header
// (NAME.qxw.sig) is checked and taken along, and the signer must meet
// |policy| and the application's pin, which the change writes.
InstallOutcome InstallPackage(ClientCache& cache, const std::string& header_path,
                              const SignerPolicy& policy);

// Puts the staged package |incoming| (its header |record|, its files in
// stored form or expanded) into the cache in place of the listed
// application, and records and registers it; |source_url|, when not empty,
// is recorded as where it came from, and |pin|, when there is one, as the
// application's signer pin. Once the change stands, the application's menu
// entry is written (unless General/DesktopEntries=No). Called under the
// lock; fills |outcome|'s name, directory, replaced, problems and notes.
void CommitPackage(const ClientCache& cache, const PackageHeader& record, bool stored_form,
                   const std::string& incoming, const std::string& aside,
                   const std::string& source_url, InstallOutcome& outcome,
                   const std::optional<SignerPin>& pin = std::nullopt);

// Checks under the lock that the package |record| describes may go into the
// cache, filling |outcome|'s name and directory; false, with a problem
// added, when it may not.
bool CheckPlacement(const ClientCache& cache, const HeaderValues& values, InstallOutcome& outcome);

// Removes a listed application: its files (and the directories they leave
// empty below the root), its list entry and section, and its registration,
// as one transaction. A package directory that is a link loses the link,
// never what it points to. Once it is gone, so is its menu entry, when the
// client wrote it; what fails there goes to |notes| (when given) as a
// warning. Returns the problems; empty when all of it is gone.
std::vector<std::string> RemoveCachedApplication(ClientCache& cache, const std::string& name,
                                                 std::vector<std::string>* notes = nullptr);

// Asks |confirm| for each application marked for deletion whether to delete
// it; a confirmed one is removed as RemoveCachedApplication does, a declined
// one loses its mark. Returns the names removed; problems go to |problems|,
// warnings to |notes| when given.
std::vector<std::string> SweepCachedApplications(
    ClientCache& cache, const std::function<bool(const std::string&)>& confirm,
    std::vector<std::string>& problems, std::vector<std::string>* notes = nullptr);

struct LaunchOutcome {
  int result = 0;  // the launch result: above 32 when started
  pid_t pid = -1;  // the started program
  std::vector<std::string> problems;
};

// Starts a listed application with |arguments| after its command line's
// own. A package still in stored form is verified, expanded into a staging
// directory and switched in as one transaction first (all of it under the
// lock, so that no install mixes into it), and then recorded as expanded.
LaunchOutcome LaunchCachedApplication(ClientCache& cache, const std::string& name,
                                      const std::vector<std::string>& arguments);

}  // namespace qx
