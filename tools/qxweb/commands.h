#pragma once

// The subcommands of qxweb and their exit statuses. Command-line program.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/client_cache.h"
#include "client/http_fetch.h"
#include "client/package_check.h"
#include "client/signer_pins.h"

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

// The help of a HEADER argument, which HeaderArgument resolves.
inline constexpr char kHeaderArgumentHelp[] =
    "Package header (.qxw), or a directory that holds exactly one (a put-to directory)";
// The package header that |argument| names: the file itself, or the one
// header (*.qxw) in the directory it names. Empty, with the reason in
// |error|, when that directory holds none or several.
std::string HeaderArgument(const std::string& argument, std::string* error);

// Checks the package of |header| with the progress line on a terminal.
qx::PackageCheck CheckWithProgress(const std::string& header);
void AddUnpackCommand(CLI::App& app, int& status);
// The sealer's engine: "new", "scan" and "seal" of a project file.
void AddNewCommand(CLI::App& app, int& status);
void AddScanCommand(CLI::App& app, int& status);
void AddSealCommand(CLI::App& app, int& status);
// The client's cache: "cache" with its subcommands.
void AddCacheCommand(CLI::App& app, int& status);
// Signing keys: "key" with "new" and "show".
void AddKeyCommand(CLI::App& app, int& status);

// What a command that takes a package into the cache was told of its
// signer, as typed.
struct SignerOptions {
  std::string key;      // --key
  std::string new_key;  // --accept-new-key
  bool require_signature = false;
};
void AddSignerOptions(CLI::App* command, SignerOptions& options);
// The policy the options ask for; false, with |error| set, when a key
// given does not read.
bool SignerPolicyOf(const SignerOptions& options, qx::SignerPolicy* policy, std::string* error);

// What "install URL" and "update NAME" were given.
struct WebArguments {
  bool update = false;
  std::string target;  // the URL, or the application's name
  bool launch = false;
  bool verbose = false;
  std::string ca_file;
  bool allow_other_host = false;
  qx::FetchLimits limits;
  SignerOptions signer;
  std::vector<std::string> launch_arguments;
};
using WebRunner = std::function<int(const WebArguments&)>;

// "install" and "update", which |runner| carries out: the web client
// qxweb-net runs them, qxweb hands them over to it.
void AddWebCommands(CLI::App& app, int& status, const WebRunner& runner);

// qxweb's whole command line, as the program parses it and as its manual
// page and shell completion describe it; |web_runner| carries out "install"
// and "update".
void DefineQxweb(CLI::App& app, int& status, const WebRunner& web_runner);

// The web client's work: installs or updates, and launches when asked.
int RunWebCommand(const WebArguments& arguments);

// Opens the client's cache for |command| (which names it in messages),
// saying so on stderr when another command holds it for more than a
// second. Null after the reason was printed.
std::unique_ptr<qx::ClientCache> OpenCache(const char* command);

// Starts the listed application |name| with |arguments| and waits for it,
// letting go of the cache's lock once it started. Returns its exit status,
// or the status of a failed start (as a shell gives it); problems go to
// stderr after |command|.
int LaunchAndWait(const char* command, qx::ClientCache& cache, const std::string& name,
                  const std::vector<std::string>& arguments);

}  // namespace qxweb_tool
