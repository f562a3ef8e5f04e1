#pragma once

// What the cache records of one listed application, gathered for showing:
// its record, directory, registration, source URL and signer pin, as texts
// that "qxweb cache show" prints and the client's window shows. Client.

#include <cstdint>
#include <string>

#include "core/cache/cache_registry.h"

namespace qx {

class ClientCache;

struct CachedApplicationDetails {
  std::string name;       // registry name, "InstallTo\ApplName"
  std::string directory;  // package directory under the cache root
  CachedApplication record;
  bool stored_form = false;  // files held compressed until the first launch
  bool marked = false;       // marked for deletion
  std::string registered;    // "InstallTo, version V, "Description"", or "no"
  std::string source_url;    // where an install from the web fetched it; empty otherwise
  std::string signer;        // "key ID, sequence N taken last", or "none pinned"
};

// The details of the listed application |name|, read under the lock the
// caller holds on |cache|.
CachedApplicationDetails ReadCachedApplicationDetails(const ClientCache& cache,
                                                      const std::string& name);

// "stored" or "expanded".
const char* FormText(const CachedApplicationDetails& details);

}  // namespace qx
