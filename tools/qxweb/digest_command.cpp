// qxweb digest: the secure digest of each file, printed as md5sum prints.
// Command-line program.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/digest/secure_digest.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

constexpr size_t kReadBlock = 64 * 1024;

// The secure digest of one file's bytes, or false with errno set.
bool DigestFile(const std::string& path, const char* key, char (&text)[qx::kDigestBufferSize]) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    return false;
  }
  qx::DigestPtr context = qx::DigestNew();
  if (!context) {
    errno = ENOMEM;
    return false;
  }
  std::vector<unsigned char> block(kReadBlock);
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), file.get())) > 0) {
    qx::DigestUpdate(context.get(), block.data(), n);
  }
  if (std::ferror(file.get())) {
    return false;
  }
  return qx::SecureDigest(context.get(), text, sizeof text, key) == qx::kDigestOk;
}

}  // namespace

void AddDigestCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "digest",
      "Print the secure digest of each file, in the form md5sum prints (plain MD5 without --key)");
  auto key = std::make_shared<std::string>();
  auto files = std::make_shared<std::vector<std::string>>();
  auto* key_option =
      cmd->add_option("--key", *key, "Key name (the application name)")->type_name("KEY");
  cmd->add_option("FILE", *files, "Files to digest")->required();
  cmd->callback([key, key_option, files, &status] {
    const char* key_name = key_option->count() > 0 ? key->c_str() : nullptr;
    status = kExitOk;
    for (const std::string& path : *files) {
      char text[qx::kDigestBufferSize] = {};
      errno = 0;
      if (!DigestFile(path, key_name, text)) {
        std::fprintf(stderr, "qxweb digest: %s: %s\n", path.c_str(),
                     errno != 0 ? std::strerror(errno) : "cannot be read");
        status = kExitFailed;
        continue;
      }
      // md5sum marks a name holding a backslash or a line feed with a leading
      // backslash and escapes both.
      if (path.find_first_of("\\\n") != std::string::npos) {
        std::string escaped;
        for (char c : path) {
          escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
        }
        std::printf("\\%s  %s\n", text, escaped.c_str());
      } else {
        std::printf("%s  %s\n", text, path.c_str());
      }
    }
    std::fflush(stdout);
  });
}

}  // namespace qxweb_tool
