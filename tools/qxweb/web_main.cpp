// qxweb-net: the web client behind "qxweb install" and "qxweb update". It
// is a program of its own so that qxweb, which scripts start once per file,
// does not load libcurl and everything libcurl loads.
#include <signal.h>

#include "tools/qxweb/commands.h"

int main(int argc, char** argv) {
  // A server that closes a connection must not end the program.
  signal(SIGPIPE, SIG_IGN);
  CLI::App app{"Takes packages from web servers into the client's cache and keeps them current.",
               "qxweb"};
  app.require_subcommand(1);
  int status = qxweb_tool::kExitOk;
  qxweb_tool::AddWebCommands(app, status, qxweb_tool::RunWebCommand);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? qxweb_tool::kExitOk : qxweb_tool::kExitUsage;
  }
  return status;
}
