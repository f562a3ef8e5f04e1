// qxweb install and qxweb update: their options and help. Command-line
// program.
#include <memory>

#include "tools/qxweb/commands.h"

namespace qxweb_tool {

void AddWebCommands(CLI::App& app, int& status, const WebRunner& runner) {
  auto arguments = std::make_shared<WebArguments>();
  const auto add_common = [&arguments, &status, &runner](CLI::App* command) {
    command->add_flag("--launch", arguments->launch,
                      "Start the application afterwards, with ARGS (after --), and exit with its "
                      "status");
    command->add_option("ARGS", arguments->launch_arguments,
                        "Arguments after the command line's own, with --launch");
    command
        ->add_option("--cacert", arguments->ca_file,
                     "Trust the certificates in FILE for https instead of the system's")
        ->type_name("FILE")
        ->check(CLI::Validator(CLI::ExistingFile).description(""));
    command->add_flag("-v,--verbose", arguments->verbose, "Print every file fetched");
    command->callback([&status, arguments, runner] {
      status = runner(*arguments);
      std::fflush(stdout);
    });
  };

  auto* install = app.add_subcommand(
      "install",
      "Take a package from a web server into the cache: URL names its header (.qxw) or its "
      "landing page (.htm). Every file is verified as it arrives; a cached version is brought "
      "up to date by fetching only the files that changed, and stays whole until the new one "
      "has verified");
  install->add_option("URL", arguments->target, "http:// or https:// URL of the header or page")
      ->required();
  add_common(install);
  install->preparse_callback([arguments](size_t) { arguments->update = false; });

  auto* update = app.add_subcommand(
      "update",
      "Bring a cached application up to date from the URL it was installed from, fetching only "
      "the files that changed");
  update
      ->add_option("NAME", arguments->target,
                   "Application: its whole cache name (InstallTo\\ApplName) or its ApplName")
      ->required();
  add_common(update);
  update->preparse_callback([arguments](size_t) { arguments->update = true; });
}

}  // namespace qxweb_tool
