// qxweb: seals, checks and expands packages from the command line.
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/qxweb/commands.h"

namespace {

// Hands "install" and "update" over to the web client, which lies beside
// qxweb in a build tree and under libexec when installed. Returns only when
// it cannot be started.
int RunWebClient(char** argv) {
  char self[PATH_MAX] = {};
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string directory(self, length > 0 ? static_cast<size_t>(length) : 0);
  directory.erase(directory.find_last_of('/') + 1);
  const std::string candidates[] = {directory + "qxweb-net", directory + QX_WEB_CLIENT_FROM_BIN};
  for (const std::string& candidate : candidates) {
    ::execv(candidate.c_str(), argv);
  }
  std::fprintf(stderr, "qxweb %s: the web client is missing: neither %s nor %s can be run\n",
               argv[1], candidates[0].c_str(), candidates[1].c_str());
  return qxweb_tool::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  int status = qxweb_tool::kExitOk;
  qxweb_tool::DefineQxweb(app, status,
                          [argv](const qxweb_tool::WebArguments&) { return RunWebClient(argv); });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and --version end here with status 0, wrong usage with its own.
    return app.exit(e) == 0 ? qxweb_tool::kExitOk : qxweb_tool::kExitUsage;
  }
  return status;
}
