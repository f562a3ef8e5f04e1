// qxweb install and qxweb update: their options and help. Command-line
// program.
#include <limits>
#include <memory>
#include <string>

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
    AddSignerOptions(command, arguments->signer);
    command->add_flag("--allow-other-host", arguments->allow_other_host,
                      "Follow a landing page to a header on another host than the page's own");
    const auto add_limit = [command](const char* name, int& value, const char* unit,
                                     const std::string& help) {
      command->add_option(name, value, help)
          ->type_name(unit)
          ->check(CLI::Validator(CLI::Range(1, std::numeric_limits<int>::max())).description(""));
    };
    const qx::FetchLimits defaults;
    const auto by_default = [](int value) { return " (default: " + std::to_string(value) + ")"; };
    add_limit("--connect-timeout", arguments->limits.connect_seconds, "SECONDS",
              "Give up on a server not reached within SECONDS, TLS handshake included" +
                  by_default(defaults.connect_seconds));
    add_limit("--low-speed-limit", arguments->limits.low_speed_bytes, "BYTES",
              "Stop when the transfers together bring fewer than BYTES a second for the "
              "--low-speed-time" +
                  by_default(defaults.low_speed_bytes));
    add_limit("--low-speed-time", arguments->limits.low_speed_seconds, "SECONDS",
              "How long the transfers may stay below the --low-speed-limit; a file whose "
              "connection brings next to nothing for as long is tried anew" +
                  by_default(defaults.low_speed_seconds));
    add_limit(
        "--deadline", arguments->limits.deadline_seconds, "SECONDS",
        "Stop the command's transfers, all of them together, SECONDS after it started (default: " +
            std::to_string(defaults.deadline_seconds) + ", " +
            std::to_string(defaults.deadline_seconds / 3600) + " hours)");
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
  install
      ->add_option("URL", arguments->target,
                   "http:// or https:// URL of the header or page, or a qxweb:?source=URL link")
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
