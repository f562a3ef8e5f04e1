// qxweb: seals, checks and expands packages from the command line.
#include <clocale>

#include "core/platform/console_user_interface.h"
#include "tools/qxweb/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Seals applications into web packages, and verifies and expands them.", "qxweb"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show the help of every subcommand");

  int status = qxweb_tool::kExitOk;
  qxweb_tool::AddNewCommand(app, status);
  qxweb_tool::AddScanCommand(app, status);
  qxweb_tool::AddSealCommand(app, status);
  qxweb_tool::AddDigestCommand(app, status);
  qxweb_tool::AddCompressCommands(app, status);
  qxweb_tool::AddVerifyCommand(app, status);
  qxweb_tool::AddUnpackCommand(app, status);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return qxweb_tool::kExitUsage;
  }
  return status;
}
