#pragma once

// The package header a landing page names: the src attribute of the page's
// first embed element, read as HTML is read. Client.

#include <string>
#include <string_view>

namespace qx {

// The src attribute of the first embed element of |page|, its character
// references decoded and the white space around it dropped. Comments,
// declarations and the text of elements such as script or title hold no
// elements; an element left open at the end of the page does not count.
// Empty when the page has no embed element or the first one has no src.
std::string EmbeddedSource(std::string_view page);

}  // namespace qx
