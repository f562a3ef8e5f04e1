// Finding the per-user configuration directory, and making it (with its
// parents) before a configuration file's path is handed out. Platform layer.
#include "core/platform/config_directory.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace qx {

namespace {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') {
    return {};
  }
  return value;
}

// mkdir -p; true when the directory exists at the end.
bool MakeDirectories(const std::string& path) {
  for (std::string::size_type pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string prefix = path.substr(0, pos);
      if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
        return false;
      }
    }
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// $|variable|/tarnwick/, else $HOME/|fallback|/tarnwick/.
std::string UserDirectory(const char* variable, const char* fallback) {
  std::string base = AbsoluteEnv(variable);
  if (base.empty()) {
    std::string home = AbsoluteEnv("HOME");
    if (home.empty()) {
      return {};
    }
    base = home + (home.back() == '/' ? "" : "/") + fallback;
  }
  if (base.back() != '/') {
    base += '/';
  }
  return base + "tarnwick/";
}

}  // namespace

std::string ConfigDirectory() {
  return UserDirectory("XDG_CONFIG_HOME", ".config");
}

std::string DataDirectory() {
  return UserDirectory("XDG_DATA_HOME", ".local/share");
}

std::string ConfigFilePath(const std::string& file_name) {
  std::string dir = ConfigDirectory();
  if (dir.empty() || !MakeDirectories(dir.substr(0, dir.size() - 1))) {
    return {};
  }
  return dir + file_name;
}

}  // namespace qx
