#pragma once

// The links a web page hands to the client's installer:
// "qxweb:?source=URL", URL being the package's header or landing page over
// http or https, percent-encoded as a query value. The sealer writes them
// into install pages and the client reads them. Format layer.

#include <string>
#include <string_view>

namespace qx {

inline constexpr std::string_view kInstallLinkScheme = "qxweb";
inline constexpr std::string_view kInstallLinkPrefix = "qxweb:?source=";

// |text| with every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~)
// written %XX in upper-case hex.
std::string PercentEncoded(std::string_view text);

// The package URL that |link| carries. Empty, with |error| set, when |link|
// is no such link: another scheme, anything but one "source" in its query
// (a fragment, an authority or a path included), a bad percent escape, a
// control character or blank in the URL, or a URL that is not http or https.
std::string SourceOfInstallLink(std::string_view link, std::string* error);

// The link for |source|: kInstallLinkPrefix and PercentEncoded(source).
std::string InstallLinkOf(std::string_view source);

// Whether |argument| is meant as such a link: it begins with "qxweb:" in any
// case.
bool IsInstallLink(std::string_view argument);

}  // namespace qx
