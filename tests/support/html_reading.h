#pragma once

// Test support for tests that read HTML pages as text (a page a seal wrote,
// or the DOM a browser serialised): an element's start tag and attributes by
// its id, with the character references taken back.

#include <optional>
#include <string>
#include <utility>

namespace qx_test {

// |text| with the five character references &lt; &gt; &quot; &#39; &amp;
// taken back.
inline std::string Unescape(const std::string& text) {
  const std::pair<std::string, std::string> references[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    for (const auto& [reference, character] : references) {
      if (text.compare(i, reference.size(), reference) == 0) {
        out += character;
        i += reference.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      out += text[i++];
    }
  }
  return out;
}

// The start tag of the element with the id |id| in |page|; empty when there
// is none.
inline std::string StartTag(const std::string& page, const std::string& id) {
  const size_t at = page.find(" id=\"" + id + "\"");
  if (at == std::string::npos) {
    return {};
  }
  const size_t open = page.rfind('<', at);
  return page.substr(open, page.find('>', at) - open + 1);
}

// The value of |attribute| of the element with the id |id|, unescaped.
inline std::optional<std::string> AttributeOf(const std::string& page, const std::string& id,
                                              const std::string& attribute) {
  const std::string tag = StartTag(page, id);
  const size_t at = tag.find(" " + attribute + "=\"");
  if (at == std::string::npos) {
    return std::nullopt;
  }
  const size_t start = at + attribute.size() + 3;
  return Unescape(tag.substr(start, tag.find('"', start) - start));
}

}  // namespace qx_test
