#pragma once

// The HTML landing page that embeds a package header, in the Lite or the full
// edition. Format layer.

#include <cstdio>
#include <string_view>
#include <vector>

#include "qxwebcore_export.h"

namespace qx {

// The two editions of the landing page's text.
enum class LandingPageEdition { kLite, kFull };

// The edition this build of the core carries (chosen when it is built).
QXWEBCORE_EXPORT LandingPageEdition BuiltLandingPageEdition();

// Lines 22 onwards of the page, which differ between the editions; the one
// "%s" they may hold is filled with the application name.
std::vector<std::string_view> LandingPageEditionLines();

// Writes the HTML landing page that embeds the header "<name>.qxw", each
// line ending in CR LF (open |file| in binary mode). An empty or null
// |title| is replaced by |name|; neither is escaped. Returns 0, or -1 when
// |file| or |name| is null. Write errors are not detected.
QXWEBCORE_EXPORT int WriteLandingPage(std::FILE* file, const char* title, const char* name);

}  // namespace qx
