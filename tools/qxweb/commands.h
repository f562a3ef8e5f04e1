#pragma once

// The subcommands of qxweb and their exit statuses. Command-line program.

#include <CLI/CLI.hpp>

namespace qxweb_tool {

// Exit statuses of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// A seal stopped by Ctrl-C.
inline constexpr int kExitInterrupted = 130;

// Each subcommand adds itself to the program and, when it runs, stores its
// exit status in |status|.
void AddDigestCommand(CLI::App& app, int& status);
// "compress" and "expand-file".
void AddCompressCommands(CLI::App& app, int& status);
void AddVerifyCommand(CLI::App& app, int& status);
void AddUnpackCommand(CLI::App& app, int& status);
// The sealer's engine: "new", "scan" and "seal" of a project file.
void AddNewCommand(CLI::App& app, int& status);
void AddScanCommand(CLI::App& app, int& status);
void AddSealCommand(CLI::App& app, int& status);
// The client's cache: "cache" with its subcommands.
void AddCacheCommand(CLI::App& app, int& status);

}  // namespace qxweb_tool
