#pragma once

#include <CLI/CLI.hpp>

namespace qxweb_tool {

// Exit statuses of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Each subcommand adds itself to the program and, when it runs, stores its
// exit status in |status|.
void AddDigestCommand(CLI::App& app, int& status);
// "compress" and "expand-file".
void AddCompressCommands(CLI::App& app, int& status);
void AddVerifyCommand(CLI::App& app, int& status);
void AddUnpackCommand(CLI::App& app, int& status);

}  // namespace qxweb_tool
