// Fuzz target for the INI profile layer over a scratch file. The input is a
// few operations and the file's first contents, as records separated by
// 0x1E; an operation is a letter (W write, K delete a key, S delete a
// section) and its section, key and value separated by 0x1F. Every read is
// checked against the contract, and after each write: a refused write leaves
// the file as it was, an accepted one reads back, and every other key of
// every section keeps its value.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/platform/private_profile.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using qx_fuzz::Require;

constexpr char kRecordSeparator = '\x1E';
constexpr char kFieldSeparator = '\x1F';
constexpr size_t kMaxOperations = 8;
// Keys compared around a write; each costs a read of the file.
constexpr size_t kMaxComparedKeys = 48;
// Files compared line by line around a write (the comparison is quadratic).
constexpr size_t kMaxComparedLines = 300;
constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kAbsent = "\x01(absent)";

struct Operation {
  char kind = 'W';
  std::string section;
  std::string key;
  std::string value;
};

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) {
      return parts;
    }
    text.remove_prefix(at + 1);
  }
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string ReadString(const std::string& path, std::string_view section, std::string_view key) {
  std::string out;
  const size_t copied = qx::ReadProfileString(path, section, key, kAbsent, 1 << 16, out);
  Require(copied == out.size(), "ReadProfileString count");
  return out;
}

// The decimal reading the contract gives: sign, digits up to the first other
// character, clamped to int; no digits read as 0.
int ExpectedInt(std::string_view value, int default_value) {
  if (value.empty()) {
    return default_value;
  }
  bool negative = false;
  if (value.front() == '-' || value.front() == '+') {
    negative = value.front() == '-';
    value.remove_prefix(1);
  }
  long long magnitude = 0;
  for (char c : value) {
    if (c < '0' || c > '9') {
      break;
    }
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) {
      magnitude = static_cast<long long>(INT_MAX) + 1;
    }
  }
  const long long number = negative ? -magnitude : magnitude;
  return static_cast<int>(number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : number);
}

// Every section's keys with their values, as the reads give them, with the
// reads of each value checked on the way.
struct Snapshot {
  std::vector<std::string> sections;
  // section, key, value
  std::vector<std::tuple<std::string, std::string, std::string>> values;
};

Snapshot Take(const std::string& path) {
  Snapshot snapshot;
  snapshot.sections = qx::ReadProfileSections(path);
  for (size_t i = 0; i < snapshot.sections.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      Require(!SameName(snapshot.sections[i], snapshot.sections[j]), "section listed twice");
    }
  }
  for (const std::string& section : snapshot.sections) {
    const std::vector<std::string> keys = qx::ReadProfileKeys(path, section);
    for (size_t i = 0; i < keys.size(); ++i) {
      if (snapshot.values.size() == kMaxComparedKeys) {
        return snapshot;
      }
      Require(!keys[i].empty() && Trim(keys[i]) == keys[i], "key name not trimmed");
      const std::string value = ReadString(path, section, keys[i]);
      Require(value != kAbsent, "listed key does not read");
      Require(Trim(value) == value, "value not trimmed");
      Require(qx::ReadProfileInt(path, section, keys[i], -7) == ExpectedInt(value, -7),
              "ReadProfileInt");
      // A smaller buffer cuts the value to one character less than its size.
      std::string cut;
      const size_t size = value.size() / 2 + 1;
      qx::ReadProfileString(path, section, keys[i], kAbsent, size, cut);
      Require(cut == std::string_view(value).substr(0, size - 1), "cut value");
      snapshot.values.emplace_back(section, keys[i], value);
    }
  }
  return snapshot;
}

// Whether the contract lets the write through (the scratch file can always
// be replaced).
bool CanStore(const Operation& op) {
  auto has_break = [](std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
  };
  if (has_break(op.section) || op.section.find(']') != std::string::npos) {
    return false;
  }
  if (op.kind == 'S') {
    return true;
  }
  const std::string_view key = Trim(op.key);
  if (has_break(op.key) || key.empty() || key.front() == '[' || key.front() == ';' ||
      key.find('=') != std::string_view::npos) {
    return false;
  }
  return op.kind != 'W' || !has_break(op.value);
}

// Whether the write concerns |section| / |key|.
bool Touches(const Operation& op, std::string_view section, std::string_view key) {
  if (!SameName(Trim(op.section), section)) {
    return false;
  }
  return op.kind == 'S' || SameName(Trim(op.key), key);
}

// The file's lines without their ends.
std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r' && end != std::string_view::npos) {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
  }
  return lines;
}

// Length of the longest common subsequence of two line lists.
size_t CommonLines(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
  std::vector<size_t> row(b.size() + 1, 0);
  for (const std::string_view line : a) {
    size_t diagonal = 0;
    for (size_t j = 0; j < b.size(); ++j) {
      const size_t above = row[j + 1];
      row[j + 1] = line == b[j] ? diagonal + 1 : std::max(row[j], above);
      diagonal = above;
    }
  }
  return row.back();
}

// A write keeps every line it does not concern: a set changes at most one
// line and adds the rest; a delete only removes lines.
void CheckLinesKept(std::string_view before, std::string_view after, char kind) {
  const std::vector<std::string_view> old_lines = Lines(before);
  const std::vector<std::string_view> new_lines = Lines(after);
  if (old_lines.size() > kMaxComparedLines || new_lines.size() > kMaxComparedLines) {
    return;
  }
  const size_t common = CommonLines(old_lines, new_lines);
  if (kind == 'W') {
    Require(common + 1 >= old_lines.size(), "a set changed more than one line");
  } else {
    Require(common == new_lines.size(), "a delete changed a line");
  }
}

void Apply(const std::string& path, const Operation& op) {
  const std::string before = qx_fuzz::ReadBytes(path);
  const Snapshot old_snapshot = Take(path);
  std::optional<std::string_view> key;
  std::optional<std::string_view> value;
  if (op.kind != 'S') {
    key = op.key;
  }
  if (op.kind == 'W') {
    value = op.value;
  }
  const bool written = qx::WriteProfileString(path, op.section, key, value);
  Require(written == CanStore(op), "write accepted or refused against the contract");
  if (!written) {
    Require(qx_fuzz::ReadBytes(path) == before, "refused write changed the file");
    return;
  }
  CheckLinesKept(before, qx_fuzz::ReadBytes(path), op.kind);
  const std::string section(Trim(op.section));
  if (op.kind == 'W') {
    Require(ReadString(path, section, Trim(op.key)) == Trim(op.value), "written value");
  } else if (op.kind == 'K') {
    Require(ReadString(path, section, Trim(op.key)) == kAbsent, "deleted key still reads");
  } else {
    Require(qx::ReadProfileKeys(path, section).empty(), "deleted section has keys");
  }
  for (const auto& [other_section, other_key, old_value] : old_snapshot.values) {
    if (!Touches(op, other_section, other_key)) {
      Require(ReadString(path, other_section, other_key) == old_value, "other key changed");
    }
  }
  // Sections stay in order; a write may add its own at the end.
  std::vector<std::string> sections = qx::ReadProfileSections(path);
  std::vector<std::string> kept;
  for (const std::string& name : old_snapshot.sections) {
    if (op.kind != 'S' || !SameName(name, section)) {
      kept.push_back(name);
    }
  }
  if (op.kind == 'W' && sections.size() == kept.size() + 1) {
    Require(SameName(sections.back(), section), "a write added a foreign section");
    sections.pop_back();
  }
  Require(sections == kept, "sections changed");
  Take(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = (qx_fuzz::ScratchDirectory() / "profile.ini").string();
  const std::vector<std::string_view> records =
      Split(std::string_view(reinterpret_cast<const char*>(data), size), kRecordSeparator);
  Require(qx_fuzz::WriteBytes(path, records.back()), "scratch file");
  for (size_t i = 0; i + 1 < records.size() && i < kMaxOperations; ++i) {
    const std::vector<std::string_view> fields = Split(records[i], kFieldSeparator);
    Operation op;
    op.kind = fields[0].empty() ? 'W' : fields[0].front();
    if (op.kind != 'K' && op.kind != 'S') {
      op.kind = 'W';
    }
    op.section = fields.size() > 1 ? fields[1] : "";
    op.key = fields.size() > 2 ? fields[2] : "";
    op.value = fields.size() > 3 ? fields[3] : "";
    Apply(path, op);
  }
  if (records.size() == 1) {
    Take(path);
  }
  return 0;
}
