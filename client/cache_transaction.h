#pragma once

// Every change of the cache as one transaction: a package directory switched
// with a new version (or taken away) and the registry and registration
// changed to match. A reported failure leaves both as they were; a killed
// command leaves a journal beside qxweb.ini from which the next command
// finishes or undoes the change. Client.

#include <functional>
#include <string>
#include <vector>

namespace qx {

struct CacheSwitch {
  std::string root;               // the cache root, below which empty parents go
  std::string package_directory;  // the directory switched
  std::string incoming;           // the new version, staged; empty to take the directory away
  std::string aside;              // where an earlier version goes: a path not there yet,
                                  // in the same work directory as |incoming|
};

// Writes the registry and registration for the switched directory, adding
// a problem for everything that fails.
using RecordWriter = std::function<void(std::vector<std::string>& problems)>;

// Carries the switch out under the client's lock: the registry and the
// registration are copied, the journal written, the way to a new package
// directory made (its levels under the root), the directory switched, the
// records written with |write_records|, and the earlier version removed.
// When anything fails, all of it is undone and the problems returned; empty
// when the change is whole. |replaced| (may be null) tells whether an
// earlier version was there.
std::vector<std::string> CommitSwitch(const CacheSwitch& change, const RecordWriter& write_records,
                                      bool* replaced);

// Finishes or undoes the change a killed command left in flight, if any.
// Called under the client's lock before anything else. Empty on success,
// else the reason (the journal then stays for the next command).
std::string RecoverInterruptedSwitch();

// Removes what killed commands left of their writes beside qxweb.ini: the
// temporary files of the journal, of its copies and of the registry files
// (those of processes that are gone). Called under the client's lock.
void RemoveAbandonedRecordFiles();

}  // namespace qx
