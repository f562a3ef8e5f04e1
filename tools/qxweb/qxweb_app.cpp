// qxweb's command line: its description, version and every subcommand.
// Command-line program.
#include "core/platform/library_version.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

void DefineQxweb(CLI::App& app, int& status, const WebRunner& web_runner) {
  app.name("qxweb");
  app.description(
      "Seals applications into web packages, verifies and expands them, and keeps a client's "
      "cache of applications.");
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show the help of every subcommand");
  app.set_version_flag("--version", std::string("qxweb ") + QX_PROGRAM_VERSION + " (qxwebcore " +
                                        qx::LibraryVersion() + ")");
  AddNewCommand(app, status);
  AddScanCommand(app, status);
  AddSealCommand(app, status);
  AddDigestCommand(app, status);
  AddCompressCommands(app, status);
  AddVerifyCommand(app, status);
  AddUnpackCommand(app, status);
  AddCacheCommand(app, status);
  AddKeyCommand(app, status);
  AddWebCommands(app, status, web_runner);
}

}  // namespace qxweb_tool
