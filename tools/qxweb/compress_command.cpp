// qxweb compress and expand-file: one file through the codec, with its
// digest. Command-line program.
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
#include "core/digest/secure_digest.h"
#include "core/platform/console_user_interface.h"
#include "core/platform/file_handle.h"
#include "core/platform/replacing_file.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

using qx::FilePtr;

int RunCodec(const char* command, bool compress, const std::string& input_path,
             const std::string& output_path, const char* key) {
  FilePtr input(std::fopen(input_path.c_str(), "rb"));
  if (!input) {
    std::fprintf(stderr, "qxweb %s: %s: %s\n", command, input_path.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  // A regular file (or a new name) is written under a temporary name and
  // renamed over OUTPUT only when the codec succeeded, so a failed run never
  // leaves a partial file under the final name. Anything else (a device, a
  // pipe, a link) is written in place.
  struct stat info {};
  const bool in_place = ::lstat(output_path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
  qx::ReplacingFile target(output_path);
  FilePtr output(in_place ? std::fopen(output_path.c_str(), "wb") : nullptr);
  std::FILE* stream = in_place ? output.get() : target.Open();
  if (stream == nullptr) {
    std::fprintf(stderr, "qxweb %s: %s: %s\n", command, output_path.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  // The codec's messages are boxes; here they go to stderr.
  qx::ConsoleUserInterface console(stderr);
  qx::ScopedUserInterface scope(console);
  int64_t stored = 0;
  int64_t expanded = 0;
  char digest[qx::kDigestBufferSize] = {};
  const int result = qx::CompressFile(input.get(), stream, compress, &stored, &expanded, digest,
                                      sizeof digest, key);
  if (result != qx::kCodecOk) {
    return kExitFailed;
  }
  const bool written = in_place ? std::fclose(output.release()) == 0 : target.Commit();
  if (!written) {
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
  auto* key_option =
      cmd->add_option("--key", *key, "Key name (the application name)")->type_name("KEY");
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
