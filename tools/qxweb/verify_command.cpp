// qxweb verify: a package header and its stored files checked, one line
// per problem. Command-line program.
#include <cstdio>
#include <memory>
#include <string>

#include "client/package_check.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

void AddVerifyCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "verify",
      "Check a package as a client does: the header digest, and every stored file's existence, "
      "Length and SECURE_MD5 (keyed by ApplName); the stored files lie next to the header");
  auto header = std::make_shared<std::string>();
  cmd->add_option("HEADER", *header, "Package header (.qxw)")->required();
  cmd->callback([header, &status] {
    const qx::PackageCheck check = qx::CheckPackage(*header);
    for (const std::string& problem : check.problems) {
      std::printf("%s\n", problem.c_str());
    }
    if (check.problems.empty()) {
      std::printf("%s: verified, %d stored files\n", header->c_str(), check.stored_files);
      status = kExitOk;
    } else {
      std::printf("%s: %zu problem%s, %d stored files\n", header->c_str(), check.problems.size(),
                  check.problems.size() == 1 ? "" : "s", check.stored_files);
      status = kExitFailed;
    }
    std::fflush(stdout);
  });
}

}  // namespace qxweb_tool
