#pragma once

// Taking a package into the cache from a web server, and keeping it
// current: the header fetched and checked first, then only the stored files
// the cache does not already hold, each verified as it arrives, and the
// whole switched in once every file verified. Client.

#include <cstdint>
#include <string>
#include <vector>

#include "client/client_cache.h"
#include "client/http_fetch.h"
#include "client/signer_pins.h"

namespace qx {

struct WebPreview;

struct WebInstallSettings {
  FetchSettings fetch;
  FetchCallbacks callbacks;
  // Whether a landing page may name a header on another host than its own.
  bool allow_other_host = false;
  // What the user asked of the package's signer.
  SignerPolicy signer;
  // The package as the user was shown it, when the install follows a
  // preview: a header or signature that differs from it is refused.
  const WebPreview* shown = nullptr;
};

struct WebInstallOutcome : InstallOutcome {
  std::string header_url;     // the header's URL, found from a landing page
  int fetched = 0;            // stored files fetched
  int kept = 0;               // stored files the cache already held
  int removed = 0;            // files of the earlier version no longer listed
  bool current = false;       // the cache already held this very package
  int64_t bytes_fetched = 0;  // bodies received, header and page included
  int requests = 0;
};

// What a package on a web server is, for a user who is asked whether to
// install it.
struct WebPreview {
  std::string header_url;
  std::string name;  // the registry name it would be listed under
  std::string appl_name;
  std::string version;
  std::string owner;
  int files = 0;                      // stored files
  int64_t download_bytes = 0;         // the header and the stored files
  std::string key_id;                 // the signer's key id; empty when not signed
  std::string signer;                 // the signer as an install would judge it
  std::string cached_version;         // the version the cache lists; empty when none
  std::vector<std::string> problems;  // why it would be refused; empty when it would not
  std::string header_bytes;           // the header and signature as served
  std::string signature_bytes;
};

// Fetches and checks the header that |url| names (directly or through its
// landing page) and its signature as an install does, and judges the signer
// against |settings.signer| and the application's pin, without fetching a
// stored file or changing the cache. The lock is let go while the server is
// asked.
WebPreview PreviewFromWeb(ClientCache& cache, const std::string& url,
                          const WebInstallSettings& settings);

// Installs the package that |url| names (its header, or its landing page
// whose embed tag names the header) into the cache, or brings a cached
// version up to it. Refuses a URL longer than the cache keeps before
// anything is fetched; a header that a page fetched over https names over
// http, or on another host unless allowed; and a header whose digest does
// not match or whose names a client cannot take before any stored file is
// fetched. The signature beside the header (NAME.qxw.sig) is fetched with
// it and must hold, meet |settings.signer| and the application's pin, before
// any stored file is fetched; each stored file must then have the SHA-256 it
// signs. Every transfer stays within |settings.fetch.limits|. The lock
// is let go while the header and the files are fetched and held again to
// commit, and held on return. On any problem the cache is left as it was.
WebInstallOutcome InstallFromWeb(ClientCache& cache, const std::string& url,
                                 const WebInstallSettings& settings);

// Brings the listed application |name| up to the package at the URL it was
// installed from.
WebInstallOutcome UpdateFromWeb(ClientCache& cache, const std::string& name,
                                const WebInstallSettings& settings);

}  // namespace qx
