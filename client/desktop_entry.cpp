// Desktop menu entries of cached applications: their file names, their
// text with both levels of escaping, the icon taken from the package, the
// atomic write and the marker-checked removal. Client.
#include "client/desktop_entry.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "core/cache/cache_registry.h"
#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "core/platform/private_profile.h"
#include "core/platform/replacing_file.h"
#include "core/signature/sha256.h"

extern char** environ;

namespace qx {

namespace {

// The longest encoded name kept whole; a longer one is cut to its first
// kKeptOfLongName characters and ends in its SHA-256, so that the entry's
// and the icon's file names stay far below 255 bytes.
constexpr size_t kLongestEncodedName = 160;
constexpr size_t kKeptOfLongName = 80;
constexpr std::string_view kDesktopSuffix = ".desktop";
constexpr std::string_view kEntryGroup = "[Desktop Entry]";
// An entry of the client's is a few hundred bytes; a larger file at the
// name is read this far for the marker.
constexpr size_t kEntryReadLimit = 64 * 1024;
// An icon larger than this is no launch icon.
constexpr size_t kIconSizeLimit = 4 * 1024 * 1024;
constexpr mode_t kNewDirectoryMode = 0700;
// How long update-desktop-database may take before it is stopped.
constexpr std::chrono::seconds kRefreshTimeout{10};
constexpr std::chrono::milliseconds kRefreshPoll{20};

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
// The first chunk of every PNG: its length (13) and type.
constexpr std::string_view kPngHeaderChunk = std::string_view("\0\0\0\x0dIHDR", 8);
constexpr std::string_view kXpmSignature = "/* XPM */";

struct IconKind {
  IconFormat format;
  std::string_view extension;
};
constexpr IconKind kIconKinds[] = {{IconFormat::kPng, ".png"}, {IconFormat::kXpm, ".xpm"}};

std::mutex launcher_mutex;
std::string launcher_override;

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || value[0] != '/' ? std::string() : std::string(value);
}

// $XDG_DATA_HOME, else $HOME/.local/share, without a trailing "/".
std::string DataHome() {
  std::string base = AbsoluteEnv("XDG_DATA_HOME");
  if (base.empty()) {
    base = AbsoluteEnv("HOME");
    if (base.empty()) {
      return {};
    }
    base += "/.local/share";
  }
  while (base.size() > 1 && base.back() == '/') {
    base.pop_back();
  }
  return base;
}

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether |text| is well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (byte < 0x80) {
      ++i;
      continue;
    } else if ((byte & 0xE0) == 0xC0) {
      length = 2, code = byte & 0x1Fu, least = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
      length = 3, code = byte & 0x0Fu, least = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
      length = 4, code = byte & 0x07u, least = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) {
      return false;
    }
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      code = (code << 6) | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

// Whether a value can carry |text| exactly: UTF-8 without control
// characters other than those the escapes write.
bool Representable(std::string_view text) {
  for (const char c : text) {
    if (IsControlCharacter(c) && c != '\n' && c != '\t' && c != '\r') {
      return false;
    }
  }
  return IsUtf8(text);
}

// |text| made fit for a value that only shows it: control characters and
// bytes of broken UTF-8 become "?".
std::string ShownText(std::string_view text) {
  std::string shown;
  for (size_t i = 0; i < text.size();) {
    size_t length = 1;
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0xF0) {
      length = 4;
    } else if (byte >= 0xE0) {
      length = 3;
    } else if (byte >= 0xC0) {
      length = 2;
    }
    const std::string_view piece = text.substr(i, length);
    if (piece.size() == length && IsUtf8(piece) && !IsControlCharacter(piece.front())) {
      shown += piece;
      i += length;
    } else {
      shown += '?';
      ++i;
    }
  }
  return shown;
}

// The string value |value| stands for: the escapes undone, any other
// backslash kept as it is.
std::string UnescapeDesktopString(std::string_view value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        text += ' ';
        break;
      case 'n':
        text += '\n';
        break;
      case 't':
        text += '\t';
        break;
      case 'r':
        text += '\r';
        break;
      case '\\':
        text += '\\';
        break;
      default:
        text += '\\';
        text += value[i];
    }
  }
  return text;
}

// mkdir -p, new levels private; true when |path| is a directory at the end.
bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string level = slash == std::string::npos ? path : path.substr(0, slash);
    if (::mkdir(level.c_str(), kNewDirectoryMode) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      break;
    }
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// At most |limit| bytes of the regular file |path|, never through a link;
// nullopt when it cannot be read or is larger.
std::optional<std::string> ReadRegularFile(const std::string& path, size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  FilePtr file(::fdopen(fd, "rb"));
  struct stat info {};
  if (!file) {
    ::close(fd);
    return std::nullopt;
  }
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  std::string bytes;
  char block[8192];
  for (size_t got = 0; (got = std::fread(block, 1, sizeof block, file.get())) > 0;) {
    bytes.append(block, got);
    if (bytes.size() > limit) {
      return std::nullopt;
    }
  }
  return bytes;
}

// Writes |bytes| to |target| through a temporary file beside it; empty on
// success, else the reason.
std::string WriteAtomically(const std::string& target, std::string_view bytes) {
  ReplacingFile file(target);
  std::FILE* stream = file.Open();
  if (stream == nullptr ||
      (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) ||
      !file.Commit()) {
    return "cannot write " + target + ": " + std::strerror(errno);
  }
  return {};
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// The directory of the running program, resolved.
std::string OwnDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

// Removes the icons of |id| in every format but |kept|, adding a problem
// for one that cannot be removed.
void RemoveIcons(const std::string& id, IconFormat kept, std::vector<std::string>& problems) {
  const std::string directory = DesktopIconDirectory();
  if (directory.empty()) {
    return;
  }
  for (const IconKind& kind : kIconKinds) {
    const std::string path = directory + "/" + id + std::string(kind.extension);
    if (kind.format != kept && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
      problems.push_back("cannot remove the menu icon " + path + ": " + std::strerror(errno));
    }
  }
}

// Copies the image |source| as the icon of |id|: its path, or empty when
// |source| is no image a menu shows (or cannot be copied: a problem then).
std::string InstallIcon(const std::string& id, const std::string& source,
                        std::vector<std::string>& problems) {
  const std::optional<std::string> bytes =
      source.empty() ? std::nullopt : ReadRegularFile(source, kIconSizeLimit);
  const IconFormat format = bytes ? IconFormatOf(*bytes) : IconFormat::kNone;
  RemoveIcons(id, format, problems);
  const std::string directory = DesktopIconDirectory();
  if (format == IconFormat::kNone || directory.empty()) {
    return {};
  }
  std::string_view extension;
  for (const IconKind& kind : kIconKinds) {
    extension = kind.format == format ? kind.extension : extension;
  }
  const std::string path = directory + "/" + id + std::string(extension);
  if (!MakeDirectories(directory)) {
    problems.push_back("cannot create " + directory + ": " + std::strerror(errno));
    return {};
  }
  if (std::string failed = WriteAtomically(path, *bytes); !failed.empty()) {
    problems.push_back(std::move(failed));
    return {};
  }
  return path;
}

}  // namespace

std::string DesktopEntryId(std::string_view cache_name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string folded;
  std::string encoded;
  for (const char original : cache_name) {
    const char c = FoldCase(original);
    folded += c;
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      encoded += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      encoded += '_';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  if (encoded.size() > kLongestEncodedName) {
    // "-" never occurs in an encoded name, so no long name's id is a short one's.
    encoded = encoded.substr(0, kKeptOfLongName) + "-" + Sha256Of(folded);
  }
  return std::string(kDesktopEntryPrefix) + encoded;
}

std::string ApplicationsDirectory() {
  const std::string base = DataHome();
  return base.empty() ? std::string() : base + "/applications";
}

std::string DesktopEntryPath(std::string_view cache_name) {
  const std::string directory = ApplicationsDirectory();
  return directory.empty()
             ? std::string()
             : directory + "/" + DesktopEntryId(cache_name) + std::string(kDesktopSuffix);
}

std::string DesktopIconDirectory() {
  const std::string base = DataHome();
  return base.empty() ? std::string() : base + "/tarnwick/icons";
}

std::string EscapeDesktopString(std::string_view text) {
  std::string value;
  for (size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '\\':
        value += "\\\\";
        break;
      case '\n':
        value += "\\n";
        break;
      case '\t':
        value += "\\t";
        break;
      case '\r':
        value += "\\r";
        break;
      case ' ':
        value += i == 0 ? "\\s" : " ";
        break;
      default:
        value += text[i];
    }
  }
  return value;
}

std::string QuoteExecArgument(std::string_view argument) {
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  constexpr std::string_view kEscapedInQuotes = "\"`$\\";
  const bool quoted = argument.empty() || argument.find_first_of(kReserved) != std::string::npos;
  std::string text = quoted ? "\"" : "";
  for (const char c : argument) {
    if (c == '%') {
      text += "%%";
      continue;
    }
    if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) {
      text += '\\';
    }
    text += c;
  }
  if (quoted) {
    text += '"';
  }
  return text;
}

std::string DesktopExecValue(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    line += (line.empty() ? "" : " ") + QuoteExecArgument(argument);
  }
  return EscapeDesktopString(line);
}

IconFormat IconFormatOf(std::string_view bytes) {
  if (bytes.substr(0, kPngSignature.size()) == kPngSignature &&
      bytes.substr(kPngSignature.size(), kPngHeaderChunk.size()) == kPngHeaderChunk) {
    return IconFormat::kPng;
  }
  if (bytes.substr(0, kXpmSignature.size()) == kXpmSignature) {
    return IconFormat::kXpm;
  }
  return IconFormat::kNone;
}

std::string ClientLauncherPath() {
  {
    const std::lock_guard<std::mutex> lock(launcher_mutex);
    if (!launcher_override.empty()) {
      return launcher_override;
    }
  }
  const std::string own = OwnDirectory();
  if (own.empty()) {
    return {};
  }
  // Beside this program; from the helper's libexec directory to bin; from a
  // program built one level below the build directory to the build's qxweb.
  for (const char* relative : {"qxweb", QX_CLIENT_FROM_LIBEXEC, "../tools/qxweb/qxweb"}) {
    const std::string candidate =
        (std::filesystem::path(own) / relative).lexically_normal().string();
    if (IsExecutableFile(candidate)) {
      return candidate;
    }
  }
  return {};
}

void SetClientLauncherPath(std::string path) {
  const std::lock_guard<std::mutex> lock(launcher_mutex);
  launcher_override = std::move(path);
}

bool DesktopEntriesWanted() {
  std::string value;
  ReadCacheString(kGeneralSection, kDesktopEntriesKey, kCachedDeleteMarkSize, kYes, value);
  return !ProfileNamesEqual(value, kNo);
}

std::string DesktopEntryText(const DesktopEntryFields& fields, const std::string& launcher) {
  const std::string name = fields.appl_name.empty() ? fields.cache_name : fields.appl_name;
  std::string comment = "Version " + fields.version;
  if (!fields.owner.empty()) {
    comment += " from " + fields.owner;
  }
  std::string text;
  const auto line = [&text](std::string_view key, std::string_view value) {
    text.append(key).append("=").append(value).append("\n");
  };
  text.append(kEntryGroup).append("\n");
  line("Type", "Application");
  line("Version", "1.4");
  line("Name", EscapeDesktopString(ShownText(name)));
  line("Comment", EscapeDesktopString(ShownText(comment)));
  // "--" keeps a name that starts with "-" from being taken for an option.
  line("Exec", DesktopExecValue({launcher, "cache", "launch", "--", fields.cache_name}));
  line("TryExec", EscapeDesktopString(launcher));
  if (!fields.icon_path.empty()) {
    line("Icon", EscapeDesktopString(fields.icon_path));
  }
  line("Terminal", "false");
  line("Categories", "Utility;");
  line(kDesktopEntryMarkerKey, EscapeDesktopString(fields.cache_name));
  return text;
}

bool IsOwnDesktopEntry(const std::string& path, std::string_view cache_name) {
  const std::optional<std::string> bytes = ReadRegularFile(path, kEntryReadLimit);
  if (!bytes) {
    return false;
  }
  bool in_entry_group = false;
  for (size_t start = 0; start < bytes->size();) {
    size_t end = bytes->find('\n', start);
    end = end == std::string::npos ? bytes->size() : end;
    std::string_view line = std::string_view(*bytes).substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.front() == '[') {
      in_entry_group = line == kEntryGroup;
      continue;
    }
    const size_t equals = line.find('=');
    if (!in_entry_group || equals == std::string_view::npos) {
      continue;
    }
    std::string_view key = line.substr(0, equals);
    while (!key.empty() && key.back() == ' ') {
      key.remove_suffix(1);
    }
    if (key != kDesktopEntryMarkerKey) {
      continue;
    }
    std::string_view value = line.substr(equals + 1);
    while (!value.empty() && value.front() == ' ') {
      value.remove_prefix(1);
    }
    return ProfileNamesEqual(UnescapeDesktopString(value), cache_name);
  }
  return false;
}

std::vector<std::string> WriteDesktopEntry(DesktopEntryFields fields,
                                           const std::string& icon_source) {
  std::vector<std::string> problems;
  const std::string directory = ApplicationsDirectory();
  if (directory.empty()) {
    return {"no menu entry: neither XDG_DATA_HOME nor HOME is an absolute path"};
  }
  const std::string launcher = ClientLauncherPath();
  if (launcher.empty()) {
    return {"no menu entry: the qxweb program that would start it cannot be found"};
  }
  if (!Representable(fields.cache_name) || !Representable(launcher)) {
    return {"no menu entry: the name or qxweb's path holds bytes a menu entry cannot carry"};
  }
  const std::string id = DesktopEntryId(fields.cache_name);
  const std::string path = directory + "/" + id + std::string(kDesktopSuffix);
  if (!MakeDirectories(directory)) {
    return {"no menu entry: cannot create " + directory + ": " + std::strerror(errno)};
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && !IsOwnDesktopEntry(path, fields.cache_name)) {
    return {"no menu entry: " + path + " is not an entry qxweb wrote; it is left alone"};
  }
  fields.icon_path = InstallIcon(id, icon_source, problems);
  if (std::string failed = WriteAtomically(path, DesktopEntryText(fields, launcher));
      !failed.empty()) {
    problems.push_back("no menu entry: " + failed);
    RemoveIcons(id, IconFormat::kNone, problems);
    return problems;
  }
  RefreshDesktopDatabase(directory);
  return problems;
}

std::vector<std::string> RemoveDesktopEntry(std::string_view cache_name) {
  std::vector<std::string> problems;
  const std::string directory = ApplicationsDirectory();
  if (directory.empty()) {
    return problems;
  }
  const std::string id = DesktopEntryId(cache_name);
  const std::string path = directory + "/" + id + std::string(kDesktopSuffix);
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!IsOwnDesktopEntry(path, cache_name)) {
      problems.push_back(path + " is not a menu entry qxweb wrote; it is left alone");
    } else if (::unlink(path.c_str()) != 0) {
      problems.push_back("cannot remove the menu entry " + path + ": " + std::strerror(errno));
    } else {
      RefreshDesktopDatabase(directory);
    }
  }
  RemoveIcons(id, IconFormat::kNone, problems);
  return problems;
}

void RefreshDesktopDatabase(const std::string& directory) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    return;
  }
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                     fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  std::string program = "update-desktop-database";
  std::string quiet = "-q";
  std::string target = directory;
  char* argv[] = {program.data(), quiet.data(), target.data(), nullptr};
  pid_t pid = -1;
  const int started = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) {
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + kRefreshTimeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return;
    }
    std::this_thread::sleep_for(kRefreshPoll);
  }
}

}  // namespace qx
