// Private-profile INI files, loaded whole as lines that each know their kind;
// a write changes only the lines it concerns and replaces the file through a
// temporary file. Platform layer.
#include "core/platform/private_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace qx {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Line end of a file that has none yet, as the home platform writes them.
constexpr std::string_view kNewFileLineEnd = "\r\n";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

enum class LineKind { kOther, kSection, kKey };

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n", or empty for a last line without one
  LineKind kind = LineKind::kOther;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed
};

void Classify(Line& line, bool first_line) {
  std::string_view text = line.text;
  if (first_line && text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    text.remove_prefix(kUtf8Bom.size());
  }
  text = Trim(text);
  line.kind = LineKind::kOther;
  if (text.empty() || text.front() == ';') {
    return;
  }
  if (text.front() == '[') {
    const auto close = text.find(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::kSection;
      line.name = Trim(text.substr(1, close - 1));
    }
    return;
  }
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) {
    return;
  }
  const std::string_view name = Trim(text.substr(0, equals));
  if (name.empty()) {
    return;
  }
  line.kind = LineKind::kKey;
  line.name = name;
  line.value = Trim(text.substr(equals + 1));
}

enum class LoadStatus { kLoaded, kMissing, kUnreadable };

struct Profile {
  std::vector<Line> lines;
  std::string line_end{kNewFileLineEnd};

  // Index of the first key line named |key| in any section named |section|.
  std::optional<size_t> FindKey(std::string_view section, std::string_view key) const {
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& line = lines[i];
      if (line.kind == LineKind::kSection) {
        inside = ProfileNamesEqual(line.name, section);
      } else if (inside && line.kind == LineKind::kKey && ProfileNamesEqual(line.name, key)) {
        return i;
      }
    }
    return std::nullopt;
  }

  std::optional<size_t> FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == LineKind::kSection && ProfileNamesEqual(lines[i].name, section)) {
        return i;
      }
    }
    return std::nullopt;
  }

  // Inserts a new line before |index|, giving the line before it a line end.
  void InsertLine(size_t index, std::string text) {
    if (index > 0 && lines[index - 1].end.empty()) {
      lines[index - 1].end = line_end;
    }
    Line line;
    line.text = std::move(text);
    line.end = line_end;
    Classify(line, index == 0);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
  }

  std::string Serialize() const {
    std::string bytes;
    for (const Line& line : lines) {
      bytes += line.text;
      bytes += line.end;
    }
    return bytes;
  }
};

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

// Reads the rest of the open file |fd| onto |bytes|.
LoadStatus ReadOpenFile(int fd, std::string& bytes) {
  char block[8192];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return LoadStatus::kUnreadable;
    }
    if (got == 0) {
      return LoadStatus::kLoaded;
    }
    bytes.append(block, static_cast<size_t>(got));
  }
}

LoadStatus ReadWholeFile(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? LoadStatus::kMissing : LoadStatus::kUnreadable;
  }
  FdCloser closer{fd};
  return ReadOpenFile(fd, bytes);
}

void Parse(const std::string& bytes, Profile& profile) {
  bool line_end_known = false;
  size_t start = 0;
  while (start < bytes.size()) {
    Line line;
    const auto newline = bytes.find('\n', start);
    if (newline == std::string::npos) {
      line.text = bytes.substr(start);
      start = bytes.size();
    } else {
      size_t text_end = newline;
      if (text_end > start && bytes[text_end - 1] == '\r') {
        --text_end;
      }
      line.text = bytes.substr(start, text_end - start);
      line.end = bytes.substr(text_end, newline + 1 - text_end);
      start = newline + 1;
      if (!line_end_known) {
        profile.line_end = line.end;
        line_end_known = true;
      }
    }
    Classify(line, profile.lines.empty());
    profile.lines.push_back(std::move(line));
  }
}

LoadStatus Load(const std::string& path, Profile& profile) {
  std::string bytes;
  const LoadStatus status = ReadWholeFile(path, bytes);
  if (status == LoadStatus::kLoaded) {
    Parse(bytes, profile);
  }
  return status;
}

// Section and key names as one lookup key, without regard to ASCII case.
std::string LookupKey(std::string_view section, std::string_view key) {
  std::string joined;
  joined.reserve(section.size() + key.size() + 1);
  for (const char c : section) {
    joined += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  joined += '\n';  // no name holds a line break
  for (const char c : key) {
    joined += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return joined;
}

// The values of the file read last, by section and key, and what tells that
// file apart from any other. Every write puts a new file (a new inode) in
// place, and an edit in place changes the size or the times, so a file that
// still matches holds these values: reading it again would find the same.
// A list of a thousand applications is read once rather than once a key.
// File times move in ticks of a few milliseconds and inodes are reused, so a
// file written or made in the last moments before it was read is not kept:
// another one made in the same tick could match it.
struct ValueIndex {
  std::string path;
  struct stat identity {};
  std::unordered_map<std::string, std::string> values;

  bool Describes(const std::string& file, const struct stat& now) const {
    const auto same = [](const timespec& a, const timespec& b) {
      return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return path == file && identity.st_dev == now.st_dev && identity.st_ino == now.st_ino &&
           identity.st_size == now.st_size && same(identity.st_mtim, now.st_mtim) &&
           same(identity.st_ctim, now.st_ctim);
  }

  void Fill(const Profile& profile) {
    values.clear();
    std::string_view section;
    bool in_section = false;
    for (const Line& line : profile.lines) {
      if (line.kind == LineKind::kSection) {
        section = line.name;
        in_section = true;
      } else if (in_section && line.kind == LineKind::kKey) {
        values.emplace(LookupKey(section, line.name), line.value);  // the first one counts
      }
    }
  }
};

std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link names, not the link.
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
  }
  return path;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

// Writes |bytes| to a new file beside |path| and renames it over |path|, so
// that readers see either the old or the new text, never a part.
bool ReplaceFile(const std::string& path, std::string_view bytes) {
  const std::string target = ResolveTarget(path);
  if (target.empty()) {
    return false;
  }
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".~" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      return false;
    }
  }
  if (fd < 0) {
    return false;
  }
  bool ok = true;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    // A file its owner made read-only stays as it is.
    ok = ::access(target.c_str(), W_OK) == 0 && ::fchmod(fd, st.st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, bytes);
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
  }
  return ok;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool CanStore(std::string_view section, std::optional<std::string_view> key,
              std::optional<std::string_view> value) {
  if (HasLineBreakOrNul(section) || section.find(']') != std::string_view::npos) {
    return false;
  }
  if (key) {
    const std::string_view name = Trim(*key);
    if (HasLineBreakOrNul(*key) || name.empty() || name.front() == '[' || name.front() == ';' ||
        name.find('=') != std::string_view::npos) {
      return false;
    }
  }
  return !value || !HasLineBreakOrNul(*value);
}

// Removes every block of |section|: its header and the lines up to the next header.
bool DeleteSection(Profile& profile, std::string_view section) {
  bool changed = false;
  bool inside = false;
  std::vector<Line> kept;
  for (Line& line : profile.lines) {
    if (line.kind == LineKind::kSection) {
      inside = ProfileNamesEqual(line.name, section);
    }
    if (inside) {
      changed = true;
    } else {
      kept.push_back(std::move(line));
    }
  }
  profile.lines = std::move(kept);
  return changed;
}

// Removes every occurrence of |key| in every block of |section|, so no
// shadowed duplicate comes back into view.
bool DeleteKey(Profile& profile, std::string_view section, std::string_view key) {
  bool changed = false;
  bool inside = false;
  std::vector<Line> kept;
  for (Line& line : profile.lines) {
    if (line.kind == LineKind::kSection) {
      inside = ProfileNamesEqual(line.name, section);
    }
    if (inside && line.kind == LineKind::kKey && ProfileNamesEqual(line.name, key)) {
      changed = true;
    } else {
      kept.push_back(std::move(line));
    }
  }
  profile.lines = std::move(kept);
  return changed;
}

void SetKey(Profile& profile, std::string_view section, std::string_view key,
            std::string_view value) {
  if (const auto index = profile.FindKey(section, key)) {
    // Keep the key's spelling and the spacing around "=" as the file has them.
    Line& line = profile.lines[*index];
    const auto equals = line.text.find('=');
    auto value_start = line.text.find_first_not_of(kBlanks, equals + 1);
    if (value_start == std::string::npos) {
      value_start = line.text.size();
    }
    line.text = line.text.substr(0, value_start) + std::string(value);
    Classify(line, *index == 0);
    return;
  }
  const std::string key_line = std::string(Trim(key)) + "=" + std::string(value);
  if (const auto header = profile.FindSection(section)) {
    // Behind the section's last non-blank line, before any blank lines that
    // separate it from the next section.
    size_t insert_at = *header + 1;
    for (size_t i = *header + 1;
         i < profile.lines.size() && profile.lines[i].kind != LineKind::kSection; ++i) {
      if (!Trim(profile.lines[i].text).empty()) {
        insert_at = i + 1;
      }
    }
    profile.InsertLine(insert_at, key_line);
    return;
  }
  if (!profile.lines.empty() && !Trim(profile.lines.back().text).empty()) {
    profile.InsertLine(profile.lines.size(), "");
  }
  profile.InsertLine(profile.lines.size(), "[" + std::string(section) + "]");
  profile.InsertLine(profile.lines.size(), key_line);
}

std::optional<std::string> FindValue(const std::string& path, std::string_view section,
                                     std::string_view key) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  FdCloser closer{fd};
  struct stat now {};
  if (::fstat(fd, &now) != 0) {
    return std::nullopt;
  }
  static std::mutex mutex;
  static ValueIndex index;
  const std::lock_guard<std::mutex> hold(mutex);
  if (!index.Describes(path, now)) {
    std::string bytes;
    index.path.clear();
    if (ReadOpenFile(fd, bytes) != LoadStatus::kLoaded) {
      return std::nullopt;
    }
    Profile profile;
    Parse(bytes, profile);
    index.Fill(profile);
    timespec read_at{};
    ::clock_gettime(CLOCK_REALTIME, &read_at);
    const auto age_ns = [&read_at](const timespec& then) {
      return (int64_t{read_at.tv_sec} - then.tv_sec) * 1000000000 +
             (read_at.tv_nsec - then.tv_nsec);
    };
    constexpr int64_t kSettledNs = 100 * 1000 * 1000;
    const bool settled = age_ns(now.st_mtim) > kSettledNs && age_ns(now.st_ctim) > kSettledNs;
    index.path = settled ? path : std::string();
    index.identity = now;
  }
  const auto found = index.values.find(LookupKey(Trim(section), Trim(key)));
  if (found == index.values.end()) {
    return std::nullopt;
  }
  return found->second;
}

void AppendUnique(std::vector<std::string>& names, const std::string& name) {
  for (const std::string& known : names) {
    if (ProfileNamesEqual(known, name)) {
      return;
    }
  }
  names.push_back(name);
}

}  // namespace

bool ProfileNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

size_t ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view default_value, size_t buffer_size, std::string& out) {
  const std::optional<std::string> value = FindValue(path, section, key);
  std::string_view text = value ? std::string_view(*value) : default_value;
  if (!value) {
    const auto last = text.find_last_not_of(' ');
    text = text.substr(0, last == std::string_view::npos ? 0 : last + 1);
  }
  out.assign(text.substr(0, buffer_size == 0 ? 0 : buffer_size - 1));
  return out.size();
}

int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int default_value) {
  const std::optional<std::string> value = FindValue(path, section, key);
  if (!value || value->empty()) {
    return default_value;
  }
  std::string_view text = *value;
  bool negative = false;
  if (text.front() == '-' || text.front() == '+') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  long long magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      break;
    }
    magnitude = std::min<long long>(magnitude * 10 + (c - '0'), 1LL << 32);
  }
  const long long number = negative ? -magnitude : magnitude;
  return static_cast<int>(std::clamp<long long>(number, INT_MIN, INT_MAX));
}

bool WriteProfileString(const std::string& path, std::string_view section,
                        std::optional<std::string_view> key,
                        std::optional<std::string_view> value) {
  if (!CanStore(section, key, value)) {
    return false;
  }
  section = Trim(section);
  Profile profile;
  const LoadStatus status = Load(path, profile);
  if (status == LoadStatus::kUnreadable) {
    return false;
  }
  if (!key) {
    return !DeleteSection(profile, section) || ReplaceFile(path, profile.Serialize());
  }
  if (!value) {
    return !DeleteKey(profile, section, Trim(*key)) || ReplaceFile(path, profile.Serialize());
  }
  SetKey(profile, section, Trim(*key), Trim(*value));
  return ReplaceFile(path, profile.Serialize());
}

std::vector<std::string> ReadProfileKeys(const std::string& path, std::string_view section) {
  std::vector<std::string> names;
  Profile profile;
  if (Load(path, profile) != LoadStatus::kLoaded) {
    return names;
  }
  section = Trim(section);
  bool inside = false;
  for (const Line& line : profile.lines) {
    if (line.kind == LineKind::kSection) {
      inside = ProfileNamesEqual(line.name, section);
    } else if (inside && line.kind == LineKind::kKey) {
      AppendUnique(names, line.name);
    }
  }
  return names;
}

std::vector<std::string> ReadProfileSections(const std::string& path) {
  std::vector<std::string> names;
  Profile profile;
  if (Load(path, profile) == LoadStatus::kLoaded) {
    for (const Line& line : profile.lines) {
      if (line.kind == LineKind::kSection) {
        AppendUnique(names, line.name);
      }
    }
  }
  return names;
}

}  // namespace qx
