// qxweb verify: a package header and its stored files checked, one line
// per problem. Command-line program.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/package_check.h"
#include "client/signature_check.h"
#include "core/format/package_paths.h"
#include "core/fsutil/path_text.h"
#include "tools/qxweb/commands.h"
#include "tools/qxweb/progress_line.h"

namespace qxweb_tool {

std::string HeaderArgument(const std::string& argument, std::string* error) {
  struct stat info {};
  if (::stat(argument.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return argument;
  }
  const auto close = [](DIR* open) { ::closedir(open); };
  std::unique_ptr<DIR, decltype(close)> directory(::opendir(argument.c_str()), close);
  if (directory == nullptr) {
    *error = argument + ": cannot be listed: " + std::strerror(errno);
    return {};
  }
  std::vector<std::string> headers;
  while (const dirent* item = ::readdir(directory.get())) {
    const std::string path = qx::JoinNativePath(argument, item->d_name);
    if (qx::IsHeaderPath(item->d_name) && ::stat(path.c_str(), &info) == 0 &&
        S_ISREG(info.st_mode)) {
      headers.push_back(item->d_name);
    }
  }
  if (headers.size() == 1) {
    return qx::JoinNativePath(argument, headers.front());
  }
  if (headers.empty()) {
    *error = argument + ": holds no package header (.qxw)";
    return {};
  }
  std::sort(headers.begin(), headers.end());
  std::string names;
  for (const std::string& header : headers) {
    names += (names.empty() ? "" : ", ") + qx::PrintableText(header);
  }
  *error = argument + ": holds " + std::to_string(headers.size()) + " package headers (" + names +
           "); name one of them";
  return {};
}

qx::PackageCheck CheckWithProgress(const std::string& header) {
  ProgressLine line("Verifying");
  return qx::CheckPackage(header, [&line](const qx::CheckProgress& progress) {
    line.Show({.files_done = progress.files_done,
               .files_total = progress.files_total,
               .bytes_done = progress.bytes_done,
               .bytes_total = progress.bytes_total},
              qx::PrintableText(qx::NativeSeparators(progress.entry->name)));
  });
}

void AddVerifyCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "verify",
      "Check a package as a client does: the header digest, and every stored file's existence, "
      "Length and SECURE_MD5 (keyed by ApplName); the stored files lie next to the header. A "
      "signature beside the header (NAME.qxw.sig) is checked too: its key, the header's and "
      "every stored file's SHA-256");
  auto argument = std::make_shared<std::string>();
  auto key = std::make_shared<std::string>();
  cmd->add_option("HEADER", *argument, kHeaderArgumentHelp)->required();
  cmd->add_option("--key", *key,
                  "Require the package to be signed with this key: its public key file "
                  "(FILE.pub) or the key's line")
      ->type_name("KEY");
  cmd->callback([argument, key, &status] {
    std::string error;
    const std::string header = HeaderArgument(*argument, &error);
    const std::string required = key->empty() ? std::string() : qx::RequiredKeyOf(*key, &error);
    if (header.empty() || !error.empty()) {
      std::fprintf(stderr, "qxweb verify: %s\n", error.c_str());
      status = kExitFailed;
      return;
    }
    qx::PackageCheck check = CheckWithProgress(header);
    // The signature covers the bytes that were just checked; a header that
    // did not even read has nothing to hold it against.
    qx::SignatureCheck signature;
    if (check.record) {
      signature = qx::CheckSignatureFile(header, *check.record, required);
      check.problems.insert(check.problems.end(), signature.problems.begin(),
                            signature.problems.end());
    }
    for (const std::string& problem : check.problems) {
      std::printf("%s\n", problem.c_str());
    }
    const std::string signer = signature.present && !signature.key_id.empty()
                                   ? ", signed by key " + signature.key_id + " (sequence " +
                                         std::to_string(signature.sequence) + ")"
                                   : std::string();
    if (check.problems.empty()) {
      std::printf("%s: verified, %d stored files%s\n", header.c_str(), check.stored_files,
                  signer.c_str());
      status = kExitOk;
    } else {
      std::printf("%s: %zu problem%s, %d stored files%s\n", header.c_str(), check.problems.size(),
                  check.problems.size() == 1 ? "" : "s", check.stored_files, signer.c_str());
      status = kExitFailed;
    }
    std::fflush(stdout);
  });
}

}  // namespace qxweb_tool
