#pragma once

// qxweb's command line as its manual page and bash completion describe it:
// every command with its arguments, read from the CLI11 definitions that
// the program parses with. Generator of qxweb's documentation.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace qxweb_tool {

// A positional argument or an option of one command.
struct ArgumentDoc {
  std::vector<std::string> names;  // "-j", "--jobs"; the positional's own name
  std::string placeholder;         // the value's name ("N"); empty for a flag
  std::string description;
  bool positional = false;
  bool required = false;
  bool repeats = false;  // takes any number of values
  bool help = false;     // -h, --help or --help-all, which every command takes
};

struct CommandDoc {
  std::string path;  // "qxweb cache launch"
  std::string description;
  std::vector<std::string> subcommands;
  std::vector<ArgumentDoc> positionals;
  std::vector<ArgumentDoc> options;
};

// |app| and every command under it, parents before their subcommands, in
// the order they were defined.
std::vector<CommandDoc> DescribeCommands(const CLI::App& app);

// The manual page: |page_template| with "@VERSION@" replaced by |version|
// and the lines "@OPTIONS@" and "@COMMANDS@" by qxweb's own options and by
// every command (whose help flags it leaves to "@OPTIONS@"). Empty when a
// marker is missing.
std::string ManPage(const std::vector<CommandDoc>& commands, const std::string& page_template,
                    const std::string& version);

// The bash completion script: a function _qxweb for "complete -F".
std::string CompletionScript(const std::vector<CommandDoc>& commands);

}  // namespace qxweb_tool
