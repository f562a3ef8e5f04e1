// The install page beside the landing page: its text, its link and the
// checks of the URL it names. Sealer engine, without a window.
#include "sealer/project/install_page.h"

#include <sys/stat.h>

#include <cstdio>
#include <iterator>

#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// Looks the same in every browser and needs nothing from outside the page.
constexpr std::string_view kStyle =
    "body{margin:0;background:#f3f4f6;color:#1f2430;"
    "font:16px/1.5 system-ui,-apple-system,\"Segoe UI\",sans-serif}\n"
    "main{max-width:36rem;margin:3rem auto;padding:2rem;background:#fff;border-radius:10px;"
    "box-shadow:0 1px 4px rgba(0,0,0,.15)}\n"
    "h1{margin:0 0 1rem;font-size:1.8rem;overflow-wrap:anywhere}\n"
    "dl{display:grid;grid-template-columns:max-content 1fr;gap:.25rem 1rem;margin:0 0 1.5rem}\n"
    "dt{color:#5b6270}\n"
    "dd{margin:0;overflow-wrap:anywhere}\n"
    "#install{display:inline-block;padding:.75rem 2.25rem;border-radius:6px;background:#1f6feb;"
    "color:#fff;font-weight:600;font-size:1.1rem;text-decoration:none}\n"
    "#install:hover,#install:focus{background:#1858c4}\n"
    ".note{color:#5b6270;font-size:.9rem}\n"
    "code{font-family:ui-monospace,monospace;overflow-wrap:anywhere}\n";

// The length of the well-formed UTF-8 sequence at the start of |text|, or
// 0 when it starts with none (overlong forms and surrogates are none).
size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) {
      return 0;
    }
  }
  return length;
}

// A header text as the page's UTF-8 may hold it: a byte that begins no
// well-formed sequence, or a control character, becomes U+FFFD.
std::string PageText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t length = Utf8SequenceLength(text);
    if (length == 0 || (length == 1 && IsControlCharacter(text.front()))) {
      out += kReplacementCharacter;
      text.remove_prefix(1);
      continue;
    }
    out += text.substr(0, length);
    text.remove_prefix(length);
  }
  return out;
}

// A header text for the page: well-formed, then escaped.
std::string Shown(std::string_view text) {
  return EscapeHtml(PageText(text));
}

Error BaseUrlRefused(std::string_view text, std::string_view why) {
  return Error{
      kSealFieldInvalid,
      "The install page's base URL \"" + PrintableText(text) + "\" is refused: " + std::string(why),
      {}};
}

}  // namespace

std::string InstallPageFileName(std::string_view appl_name) {
  return std::string(appl_name) + "-install.html";
}

Result<std::string> CheckInstallPageBaseUrl(std::string_view text) {
  std::string_view scheme;
  if (StartsWithNoCase(text, "http://")) {
    scheme = "http://";
  } else if (StartsWithNoCase(text, "https://")) {
    scheme = "https://";
  } else {
    return BaseUrlRefused(text, "it must be an absolute http:// or https:// URL");
  }
  const std::string_view rest = text.substr(scheme.size());
  for (const char c : rest) {
    const auto byte = static_cast<unsigned char>(c);
    // What a URL cannot hold as it stands; a browser would change it.
    if (byte <= 0x20 || byte >= 0x7F ||
        std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
      return BaseUrlRefused(text,
                            "it holds a blank, a control character or another character a "
                            "URL cannot hold as it stands (percent-encode it)");
    }
  }
  if (rest.find_first_of("?#") != std::string_view::npos) {
    return BaseUrlRefused(text, "a directory URL takes no query or fragment (? or #)");
  }
  const std::string_view authority = rest.substr(0, rest.find('/'));
  const std::string_view host = authority.substr(authority.rfind('@') + 1);
  if (host.empty() || host.front() == ':') {
    return BaseUrlRefused(text, "it names no host");
  }
  std::string url(scheme);
  url += rest;
  if (url.back() != '/') {
    url += '/';
  }
  return url;
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HeaderUrl(std::string_view base_url, std::string_view appl_name) {
  return std::string(base_url) + PercentEncoded(HeaderFileName(appl_name));
}

std::string InstallPageText(const InstallPageFacts& facts) {
  const std::string name = Shown(facts.appl_name);
  const std::string header_name = HeaderFileName(facts.appl_name);
  // The relative link to the header, from the page beside it.
  const std::string header_link = PercentEncoded(header_name);
  const bool scripted = facts.base_url.empty();
  const std::string header_url =
      scripted ? std::string() : HeaderUrl(facts.base_url, facts.appl_name);

  std::string page;
  page += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  page += "<title>Install " + name + "</title>\n";
  page += "<style>\n" + std::string(kStyle) + "</style>\n</head>\n<body>\n<main>\n";
  page += "<h1>" + name + "</h1>\n<dl>\n";
  const auto fact = [&](std::string_view term, const std::string& value) {
    page += "<dt>" + std::string(term) + "</dt><dd>" + value + "</dd>\n";
  };
  if (!facts.version.empty()) {
    fact("Version", Shown(facts.version));
  }
  if (!facts.owner.empty()) {
    fact("Owner", Shown(facts.owner));
  }
  fact("Size", ByteSizeText(facts.stored_bytes));
  if (!facts.key_id.empty()) {
    fact("Signed by key", "<code id=\"key\">" + Shown(facts.key_id) + "</code>");
  }
  page += "</dl>\n";
  // Without a base URL the link is the header's own until the script has
  // found the page's address: a browser without scripts, or a page opened
  // from a file, still leads to the package.
  const std::string href = scripted ? header_link : InstallLinkOf(header_url);
  page += "<p><a id=\"install\" href=\"" + EscapeHtml(href) + "\">Install " + name + "</a></p>\n";
  if (scripted) {
    page +=
        "<p id=\"no-address\" class=\"note\">This page needs scripts to tell its own "
        "address. Without them the Install button only opens the package header " +
        Shown(header_name) +
        ": copy that link's address and install it with the command below.</p>\n";
  }
  page +=
      "<p class=\"note\">The Install button hands the package to qxweb, the client that "
      "installs and updates it: on a computer without qxweb, install qxweb first.</p>\n";
  page += "<p class=\"note\">Or from a terminal: <code id=\"command\">qxweb install " +
          EscapeHtml(scripted ? std::string("URL") : header_url) + "</code></p>\n";
  page += "</main>\n";
  if (scripted) {
    // Only the percent-encoded name reaches the script: no quote or "<" can.
    page += "<script>\n(function () {\n";
    page += "  var header = new URL(\"" + header_link + "\", location.href);\n";
    page += "  if (header.protocol !== \"http:\" && header.protocol !== \"https:\") return;\n";
    page += "  document.getElementById(\"install\").href = \"" + std::string(kInstallLinkPrefix) +
            "\" + encodeURIComponent(header.href);\n";
    page +=
        "  document.getElementById(\"command\").textContent = \"qxweb install \" + "
        "header.href;\n";
    page += "  document.getElementById(\"no-address\").hidden = true;\n";
    page += "})();\n</script>\n";
  }
  page += "</body>\n</html>\n";
  return page;
}

Result<void> WriteInstallPage(const InstallPageFacts& facts, const std::string& path,
                              const std::string& mode_from, const std::string& shown_path) {
  const std::string text = InstallPageText(facts);
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    return SealFailure("Unable to create install page " + shown_path, shown_path);
  }
  // A page published earlier keeps the permissions the author gave it.
  struct stat earlier {};
  if (::stat(mode_from.c_str(), &earlier) == 0) {
    ::fchmod(::fileno(file.get()), earlier.st_mode & 07777);
  }
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() || !CloseChecked(file)) {
    return SealFailure("Unable to write install page " + shown_path, shown_path);
  }
  return {};
}

Result<void> CheckInstallPageOutput(const SealPlan& plan, std::string_view appl_name) {
  const std::string page = InstallPageFileName(appl_name);
  for (const SealPlanItem& item : plan.items) {
    if (item.kind != SealItemKind::kComment && NeutralPath(item.name) == page) {
      return SealFailure("Unable to seal " + item.name +
                         ": it would take the place of the package's install page");
    }
  }
  return {};
}

}  // namespace qx
