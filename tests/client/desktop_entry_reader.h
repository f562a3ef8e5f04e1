#pragma once

// An independent reader of desktop entry files for the tests: the keys of
// the main group, string values with their escapes undone, and Exec values
// split into the argument vector a desktop would start, by the format's
// rules and nothing the client's writer shares.

#include <unistd.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace qx_test {

// The keys of the "[Desktop Entry]" group, values as written.
inline std::map<std::string, std::string> EntryKeys(const std::string& text) {
  std::map<std::string, std::string> keys;
  bool in_group = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      in_group = line == "[Desktop Entry]";
    } else if (in_group && line.find('=') != std::string::npos) {
      keys.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    }
  }
  return keys;
}

// A string value read as the entry format defines it; nullopt for an
// escape the format does not define.
inline std::optional<std::string> ReadStringValue(const std::string& value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      text += value[i];
      continue;
    }
    if (++i == value.size()) {
      return std::nullopt;
    }
    const std::map<char, char> escapes = {
        {'s', ' '}, {'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'\\', '\\'}};
    const auto found = escapes.find(value[i]);
    if (found == escapes.end()) {
      return std::nullopt;
    }
    text += found->second;
  }
  return text;
}

// The argument vector of an Exec value as the file holds it: the string
// level undone first, then the quoting. Nullopt for what the format forbids:
// a reserved character outside quotes, "`" or "$" unescaped inside them,
// an escape inside quotes other than \" \` \$ \\, an unclosed quote, or a
// field code (we write none).
inline std::optional<std::vector<std::string>> ReadExec(const std::string& value) {
  const std::optional<std::string> line = ReadStringValue(value);
  if (!line) {
    return std::nullopt;
  }
  const std::string reserved = "\t\n\"'\\><~|&;$*?#()`";
  std::vector<std::string> arguments;
  size_t i = 0;
  while (i < line->size()) {
    if ((*line)[i] == ' ') {
      ++i;
      continue;
    }
    std::string argument;
    if ((*line)[i] == '"') {
      for (++i;; ++i) {
        if (i >= line->size()) {
          return std::nullopt;
        }
        const char c = (*line)[i];
        if (c == '"') {
          ++i;
          break;
        }
        if (c == '\\') {
          if (i + 1 >= line->size() ||
              std::string("\"`$\\").find((*line)[i + 1]) == std::string::npos) {
            return std::nullopt;
          }
          argument += (*line)[++i];
        } else if (c == '`' || c == '$') {
          return std::nullopt;  // must be escaped inside quotes
        } else if (c == '%') {
          if (i + 1 >= line->size() || (*line)[i + 1] != '%') {
            return std::nullopt;
          }
          argument += '%';
          ++i;
        } else {
          argument += c;
        }
      }
      if (i < line->size() && (*line)[i] != ' ') {
        return std::nullopt;
      }
    } else {
      for (; i < line->size() && (*line)[i] != ' '; ++i) {
        const char c = (*line)[i];
        if (reserved.find(c) != std::string::npos) {
          return std::nullopt;
        }
        if (c == '%') {
          if (i + 1 >= line->size() || (*line)[i + 1] != '%') {
            return std::nullopt;
          }
          ++i;
        }
        argument += c;
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

inline constexpr const char* kValidator = "/usr/bin/desktop-file-validate";

inline bool HaveValidator() {
  return ::access(kValidator, X_OK) == 0;
}

// What the validator says of the entry |text|, written to |path| (a
// ".desktop" name) for it: empty when it takes the entry without a word.
inline std::string ValidatorComplaints(const std::string& text, const std::string& path) {
  WriteFile(path, text);
  const CommandResult result = RunCommand(std::string(kValidator) + " " + ShellQuote(path));
  return result.status == 0
             ? result.out + result.err
             : "status " + std::to_string(result.status) + ": " + result.out + result.err;
}

}  // namespace qx_test
