// Gathering what the cache records of an application.
#include "client/cache_details.h"

#include <optional>

#include "client/client_cache.h"
#include "client/signer_pins.h"
#include "core/cache/cache_list.h"
#include "core/launch/registration.h"
#include "core/platform/registry_store.h"
#include "core/signature/signing_key.h"

namespace qx {

namespace {

// Room for the longest URL an install records, and one character more, so
// that a longer one an earlier version wrote reads as such.
constexpr size_t kSourceUrlReadSize = 4096 + 2;

}  // namespace

CachedApplicationDetails ReadCachedApplicationDetails(const ClientCache& cache,
                                                      const std::string& name) {
  CachedApplicationDetails details;
  details.name = name;
  details.directory = CachedApplicationDirectory(cache.root(), name);
  ReadApplication(name, &details.record);
  details.stored_form = details.record.compressed == kYes;
  details.marked = details.record.delete_mark == kYes;
  const RegistryStore registry;
  const std::string key = ApplicationKeyPath(name);
  if (registry.KeyExists(key)) {
    details.registered = registry.ReadValue(key, "InstallTo").value_or("") + ", version " +
                         registry.ReadValue(key, "Version").value_or("") + ", \"" +
                         registry.ReadValue(key, "Description").value_or("") + "\"";
  } else {
    details.registered = "no";
  }
  ReadCacheString(name, kSourceUrlKey, kSourceUrlReadSize, "", details.source_url);
  const std::optional<SignerPin> pin = ReadSignerPin(name);
  details.signer = pin ? "key " + KeyId(pin->public_key) + ", sequence " +
                             std::to_string(pin->sequence) + " taken last"
                       : std::string("none pinned");
  return details;
}

const char* FormText(const CachedApplicationDetails& details) {
  return details.stored_form ? "stored" : "expanded";
}

}  // namespace qx
