#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/compress/codec.h"
#include "core/format/secure_digest.h"
#include "core/platform/console_user_interface.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Where the result goes. A regular file (or a new name) is written under a
// temporary name in the same directory and renamed over OUTPUT only when the
// codec succeeded, so a failed run never leaves a partial file under the
// final name. Anything else (a device, a pipe, a link) is written in place.
class OutputTarget {
 public:
  explicit OutputTarget(std::string path) : path_(std::move(path)) {}
  ~OutputTarget() {
    if (!temporary_.empty()) {
      ::unlink(temporary_.c_str());
    }
  }
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  // Opens the stream to write to; null with errno set on failure.
  std::FILE* Open() {
    struct stat info {};
    const bool exists = ::lstat(path_.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
      return std::fopen(path_.c_str(), "wb");
    }
    const std::string::size_type slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    std::string pattern = dir + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
      return nullptr;
    }
    temporary_ = pattern;
    // mkstemp makes the file private; give it what a new file would get, or
    // what the file it replaces had.
    mode_t mode = exists ? (info.st_mode & 07777) : 0;
    if (!exists) {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
      ::close(fd);
    }
    return stream;
  }

  // Puts the finished file in place; false with errno set on failure.
  bool Commit() {
    if (temporary_.empty()) {
      return true;
    }
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
      return false;
    }
    temporary_.clear();
    return true;
  }

 private:
  std::string path_;
  std::string temporary_;
};

int RunCodec(const char* command, bool compress, const std::string& input_path,
             const std::string& output_path, const char* key) {
  FilePtr input(std::fopen(input_path.c_str(), "rb"), &std::fclose);
  if (!input) {
    std::fprintf(stderr, "qxweb %s: %s: %s\n", command, input_path.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  OutputTarget target(output_path);
  FilePtr output(target.Open(), &std::fclose);
  if (!output) {
    std::fprintf(stderr, "qxweb %s: %s: %s\n", command, output_path.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  // The codec's messages are boxes; here they go to stderr.
  qx::ConsoleUserInterface console(stderr);
  qx::ScopedUserInterface scope(console);
  int64_t stored = 0;
  int64_t expanded = 0;
  char digest[qx::kDigestBufferSize] = {};
  const int result = qx::CompressFile(input.get(), output.get(), compress, &stored, &expanded,
                                      digest, sizeof digest, key);
  if (result != qx::kCodecOk) {
    return kExitFailed;
  }
  if (std::fclose(output.release()) != 0 || !target.Commit()) {
    std::fprintf(stderr, "qxweb %s: %s: %s\n", command, output_path.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  std::printf("Length = %" PRId64 "\nSize = %" PRId64 "\nSECURE_MD5 = %s\n", stored, expanded,
              digest);
  std::fflush(stdout);
  return kExitOk;
}

void AddCodecCommand(CLI::App& app, int& status, const char* name, const char* description,
                     bool compress) {
  auto* cmd = app.add_subcommand(name, description);
  auto key = std::make_shared<std::string>();
  auto input = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  auto* key_option = cmd->add_option("--key", *key, "Key name (the application name)");
  cmd->add_option("INPUT", *input, "File to read")->required();
  cmd->add_option("OUTPUT", *output, "File to write")->required();
  cmd->callback([=, &status] {
    status =
        RunCodec(name, compress, *input, *output, key_option->count() > 0 ? key->c_str() : nullptr);
  });
}

}  // namespace

void AddCompressCommands(CLI::App& app, int& status) {
  AddCodecCommand(app, status, "compress",
                  "Compress INPUT into one stored (gzip) member and print its Length, Size and "
                  "SECURE_MD5 (plain MD5 without --key)",
                  true);
  AddCodecCommand(app, status, "expand-file",
                  "Expand a stored member (or the first entry of a ZIP archive) and print the "
                  "stored Length, the expanded Size and the SECURE_MD5 of the stored bytes",
                  false);
}

}  // namespace qxweb_tool
