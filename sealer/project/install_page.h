#pragma once

// The install page: "NAME-install.html" beside the landing page, written by
// a seal when asked. Its Install button is a link "qxweb:?source=URL" that
// the browser hands to the client's installer, URL being the header's
// absolute address. The landing page's bytes are fixed by the package
// format; this page is the one a browser of today can act on. Sealer
// engine, without a window.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/format/install_link.h"
#include "core/platform/result.h"
#include "sealer/project/seal_plan.h"

namespace qx {

// "NAME-install.html", beside the landing page LandingPageFileName names.
std::string InstallPageFileName(std::string_view appl_name);

// What the install page shows and where its link points.
struct InstallPageFacts {
  std::string appl_name;     // the header's ApplName, which names its files
  std::string version;       // Version
  std::string owner;         // Owner
  int64_t stored_bytes = 0;  // the sum of the stored files' Lengths
  std::string key_id;        // the signer's key id; empty when unsigned
  // The directory URL the put-to directory is served at, as
  // CheckInstallPageBaseUrl gives it; empty: the page's own script takes
  // the header's address from the page's.
  std::string base_url;
};

// |text| as an absolute http or https directory URL: a "/" is added when it
// does not end in one and the scheme is written in lower case. An error
// (code kSealFieldInvalid) saying why when it is no such URL: another
// scheme, no host, a blank or control character, a query or a fragment.
Result<std::string> CheckInstallPageBaseUrl(std::string_view text);

// |text| with & < > " ' as character references, fit for element text and
// quoted attribute values alike.
std::string EscapeHtml(std::string_view text);

// The header's URL under |base_url| (a directory URL ending in "/").
std::string HeaderUrl(std::string_view base_url, std::string_view appl_name);

// The page's bytes: the same facts give the same bytes.
std::string InstallPageText(const InstallPageFacts& facts);

// Writes the page to |path| with the permissions |mode_from| has, when that
// file exists; a kSealFailed error naming |shown_path| when it cannot.
Result<void> WriteInstallPage(const InstallPageFacts& facts, const std::string& path,
                              const std::string& mode_from, const std::string& shown_path);

// Refuses an item of |plan| that would be stored in the install page's place.
Result<void> CheckInstallPageOutput(const SealPlan& plan, std::string_view appl_name);

}  // namespace qx
