// Links a web page hands to the client's installer. Format layer.
#include "core/format/install_link.h"

#include <cctype>

#include "core/fsutil/path_text.h"

namespace qx {

namespace {

constexpr std::string_view kSourceKey = "source=";

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

std::string Refuse(std::string* error, std::string_view link, std::string_view why) {
  if (error != nullptr) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about the
    // same text joined with operator+ under _FORTIFY_SOURCE.
    error->assign(1, '"');
    error->append(PrintableText(link)).append("\" is no install link: ").append(why);
  }
  return {};
}

}  // namespace

bool IsInstallLink(std::string_view argument) {
  return StartsWithNoCase(argument, std::string(kInstallLinkScheme) + ":");
}

std::string SourceOfInstallLink(std::string_view link, std::string* error) {
  if (!IsInstallLink(link)) {
    return Refuse(error, link, "it does not begin with qxweb:");
  }
  std::string_view rest = link.substr(kInstallLinkScheme.size() + 1);
  if (rest.empty() || rest.front() != '?') {
    return Refuse(error, link, "it must be qxweb:?source=URL");
  }
  rest.remove_prefix(1);
  if (rest.substr(0, kSourceKey.size()) != kSourceKey) {
    return Refuse(error, link, "its query must be source=URL and nothing else");
  }
  rest.remove_prefix(kSourceKey.size());
  if (rest.find_first_of("&#;") != std::string_view::npos) {
    return Refuse(error, link, "it carries more than source=URL");
  }
  std::string source;
  for (size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '%') {
      const int high = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
      const int low = high >= 0 ? HexValue(rest[i + 2]) : -1;
      if (low < 0) {
        return Refuse(error, link, "a % is not followed by two hex digits");
      }
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
      return Refuse(error, link, "its URL holds a blank or a control character");
    }
    source.push_back(c);
  }
  if (!StartsWithNoCase(source, "http://") && !StartsWithNoCase(source, "https://")) {
    return Refuse(error, link, "its source is not an http or https URL");
  }
  if (source.size() <= source.find("//") + 2) {
    return Refuse(error, link, "its source names no server");
  }
  return source;
}

std::string PercentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 15]);
    }
  }
  return encoded;
}

std::string InstallLinkOf(std::string_view source) {
  return std::string(kInstallLinkPrefix) + PercentEncoded(source);
}

}  // namespace qx
