// qxweb: seals, checks and expands packages from the command line.
#include <string>

#include "core/platform/library_version.h"
#include "tools/qxweb/commands.h"

int main(int argc, char** argv) {
  CLI::App app{
      "Seals applications into web packages, verifies and expands them, and keeps a client's "
      "cache of applications.",
      "qxweb"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show the help of every subcommand");
  app.set_version_flag("--version", std::string("qxweb ") + QX_PROGRAM_VERSION + " (qxwebcore " +
                                        qx::LibraryVersion() + ")");

  int status = qxweb_tool::kExitOk;
  qxweb_tool::AddNewCommand(app, status);
  qxweb_tool::AddScanCommand(app, status);
  qxweb_tool::AddSealCommand(app, status);
  qxweb_tool::AddDigestCommand(app, status);
  qxweb_tool::AddCompressCommands(app, status);
  qxweb_tool::AddVerifyCommand(app, status);
  qxweb_tool::AddUnpackCommand(app, status);
  qxweb_tool::AddCacheCommand(app, status);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and --version end here with status 0, wrong usage with its own.
    return app.exit(e) == 0 ? qxweb_tool::kExitOk : qxweb_tool::kExitUsage;
  }
  return status;
}
