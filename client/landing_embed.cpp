// The package header a landing page names, found by reading the page's
// markup as HTML's tokenizer does: tags with their attributes, comments,
// and the elements whose content is text. Client.
#include "client/landing_embed.h"

#include <array>
#include <cstdint>

namespace qx {

namespace {

constexpr size_t kNone = std::string_view::npos;

// Elements whose content runs as text up to their end tag.
constexpr std::array<std::string_view, 8> kTextElements = {
    "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = LowerAscii(c);
  }
  return lower;
}

struct Tag {
  std::string name;  // in lower case
  bool has_src = false;
  std::string src;  // as written, references not yet decoded
};

// Reads the tag whose name starts at |at| up to its closing ">". Returns
// where the text after it starts, or kNone when the page ends inside it.
size_t ReadTag(std::string_view page, size_t at, Tag& tag) {
  const auto ends_name = [](char c) { return IsSpace(c) || c == '/' || c == '>'; };
  const size_t name_start = at;
  while (at < page.size() && !ends_name(page[at])) {
    ++at;
  }
  tag.name = LowerText(page.substr(name_start, at - name_start));
  const auto skip_spaces = [&page, &at] {
    while (at < page.size() && IsSpace(page[at])) {
      ++at;
    }
  };
  for (;;) {
    while (at < page.size() && (IsSpace(page[at]) || page[at] == '/')) {
      ++at;
    }
    if (at >= page.size()) {
      return kNone;
    }
    if (page[at] == '>') {
      return at + 1;
    }
    // An attribute's name may start with "=", and ends at "=".
    const size_t attribute_start = at++;
    while (at < page.size() && !ends_name(page[at]) && page[at] != '=') {
      ++at;
    }
    const std::string name = LowerText(page.substr(attribute_start, at - attribute_start));
    std::string_view value;
    skip_spaces();
    if (at < page.size() && page[at] == '=') {
      ++at;
      skip_spaces();
      if (at >= page.size()) {
        return kNone;
      }
      if (page[at] == '"' || page[at] == '\'') {
        const size_t close = page.find(page[at], at + 1);
        if (close == kNone) {
          return kNone;
        }
        value = page.substr(at + 1, close - at - 1);
        at = close + 1;
      } else {
        const size_t value_start = at;
        while (at < page.size() && !IsSpace(page[at]) && page[at] != '>') {
          ++at;
        }
        value = page.substr(value_start, at - value_start);
      }
    }
    // Of an attribute given twice, the first counts.
    if (name == "src" && !tag.has_src) {
      tag.has_src = true;
      tag.src = std::string(value);
    }
  }
}

// Where the text after the comment whose "<!--" ends at |at| starts, or
// kNone when the comment runs to the end of the page.
size_t CommentEnd(std::string_view page, size_t at) {
  if (page.substr(at, 1) == ">") {
    return at + 1;
  }
  if (page.substr(at, 2) == "->") {
    return at + 2;
  }
  for (size_t dashes = page.find("--", at); dashes != kNone; dashes = page.find("--", dashes + 1)) {
    if (page.substr(dashes + 2, 1) == ">") {
      return dashes + 3;
    }
    if (page.substr(dashes + 2, 2) == "!>") {
      return dashes + 4;
    }
  }
  return kNone;
}

// Where the end tag of the text element |name| starts in |lower| (the page
// in lower case) from |at| on, or kNone.
size_t EndTagOf(const std::string& lower, const std::string& name, size_t at) {
  const std::string end_tag = "</" + name;
  for (size_t found = lower.find(end_tag, at); found != kNone;
       found = lower.find(end_tag, found + 1)) {
    const size_t after = found + end_tag.size();
    if (after < lower.size() &&
        (IsSpace(lower[after]) || lower[after] == '/' || lower[after] == '>')) {
      return found;
    }
  }
  return kNone;
}

void AppendUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The character that the reference |name| (between "&" and ";") stands
// for, appended to |out|; false when it is none this reader knows.
bool DecodeReference(std::string_view name, std::string& out) {
  static constexpr std::array<std::pair<std::string_view, char>, 5> kNamed = {
      {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
  for (const auto& [named, character] : kNamed) {
    if (name == named) {
      out += character;
      return true;
    }
  }
  if (name.size() < 2 || name[0] != '#') {
    return false;
  }
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) {
    return false;
  }
  uint32_t code = 0;
  for (const char c : digits) {
    const char lower = LowerAscii(c);
    const bool decimal = c >= '0' && c <= '9';
    if (!decimal && !(hex && lower >= 'a' && lower <= 'f')) {
      return false;
    }
    code = code * (hex ? 16 : 10) + static_cast<uint32_t>(decimal ? c - '0' : lower - 'a' + 10);
  }
  // What has no character of its own stands for the replacement character.
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    code = 0xFFFD;
  }
  AppendUtf8(code, out);
  return true;
}

// |value| with its character references decoded and the white space around
// it dropped.
std::string AttributeText(std::string_view value) {
  std::string text;
  for (size_t at = 0; at < value.size();) {
    const size_t semicolon = value[at] == '&' ? value.find(';', at + 1) : kNone;
    if (semicolon != kNone && semicolon - at <= 12 &&
        DecodeReference(value.substr(at + 1, semicolon - at - 1), text)) {
      at = semicolon + 1;
    } else {
      text += value[at++];
    }
  }
  const size_t first = text.find_first_not_of(" \t\n\f\r");
  const size_t last = text.find_last_not_of(" \t\n\f\r");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

}  // namespace

std::string EmbeddedSource(std::string_view page) {
  const std::string lower = LowerText(page);
  for (size_t at = page.find('<'); at != kNone; at = page.find('<', at)) {
    const std::string_view rest = page.substr(at);
    if (rest.substr(0, 4) == "<!--") {
      at = CommentEnd(page, at + 4);
    } else if (rest.substr(0, 2) == "<!" || rest.substr(0, 2) == "<?" ||
               (rest.substr(0, 2) == "</" && !(rest.size() > 2 && IsLetter(rest[2])))) {
      // A declaration, or what is read as a comment up to the next ">".
      at = page.find('>', at);
      at = at == kNone ? kNone : at + 1;
    } else if (rest.size() > 1 && (IsLetter(rest[1]) || rest[1] == '/')) {
      Tag tag;
      const bool end_tag = rest[1] == '/';
      at = ReadTag(page, at + (end_tag ? 2 : 1), tag);
      if (at == kNone) {
        break;  // a tag the page ends inside counts for nothing
      }
      if (end_tag) {
        continue;
      }
      if (tag.name == "embed") {
        return tag.has_src ? AttributeText(tag.src) : std::string();
      }
      if (tag.name == "plaintext") {
        return {};
      }
      for (const std::string_view text_element : kTextElements) {
        if (tag.name == text_element) {
          at = EndTagOf(lower, tag.name, at);
          break;
        }
      }
    } else {
      ++at;  // a "<" that starts no tag is text
    }
    if (at == kNone) {
      break;
    }
  }
  return {};
}

}  // namespace qx
