// Test support for tests of every layer: temporary directories, file helpers,
// deterministic test bytes, shell commands and the paths under test.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qx_test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "qxtest-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory";
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything removable again (tests may leave read-only entries).
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view relative) const {
  return path_ + "/" + std::string(relative);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  fs::path p(path);
  if (p.has_parent_path()) {
    fs::create_directories(p.parent_path());
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    ADD_FAILURE() << "cannot write " << path;
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

time_t WriteTimeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mtim.tv_sec : 0;
}

std::string RandomBytes(size_t count, uint64_t seed) {
  std::string bytes(count, '\0');
  uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (size_t i = 0; i < count; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    bytes[i] = static_cast<char>(x & 0xFF);
  }
  return bytes;
}

std::string TextBytes(size_t count, uint64_t seed) {
  static const char* const kWords[] = {"sealer", "package", "header", "digest", "client",
                                       "stored", "member",  "window", "entry",  "cache"};
  std::string text;
  uint64_t x = seed + 7;
  while (text.size() < count) {
    x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    text += kWords[(x >> 33) % 10];
    text += ((x >> 20) % 9 == 0) ? '\n' : ' ';
  }
  text.resize(count);
  return text;
}

namespace {

std::string Slurp(const std::string& path) {
  return ReadFile(path);
}

}  // namespace

CommandResult RunCommand(const std::string& command, std::string_view input) {
  char dir_template[] = "/tmp/qxrun-XXXXXX";
  CommandResult result;
  if (::mkdtemp(dir_template) == nullptr) {
    return result;
  }
  const std::string dir = dir_template;
  const std::string in_path = dir + "/in", out_path = dir + "/out", err_path = dir + "/err";
  WriteFile(in_path, input);
  const std::string full = "( " + command + " ) <" + in_path + " >" + out_path + " 2>" + err_path;
  const int raw = std::system(full.c_str());
  result.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  result.out = Slurp(out_path);
  result.err = Slurp(err_path);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return result;
}

std::string ShellQuote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

std::string QxwebPath() {
  return QX_QXWEB_PATH;
}
std::string SourceDir() {
  return QX_SOURCE_DIR;
}

}  // namespace qx_test
