// qxweb's manual page in troff -man: the hand-written page with qxweb's own
// options and every command filled in from their definitions. Generator of
// qxweb's documentation.
#include <string_view>

#include "tools/qxweb/docs_model.h"

namespace qxweb_tool {

namespace {

constexpr std::string_view kVersionMarker = "@VERSION@";
// Lines of their own.
constexpr std::string_view kOptionsMarker = "\n@OPTIONS@\n";
constexpr std::string_view kCommandsMarker = "\n@COMMANDS@\n";

// |text| as troff prints it: backslashes and hyphens escaped, a line break
// as a space, a leading control character made plain text.
std::string Escape(std::string_view text) {
  std::string out = text.starts_with('.') || text.starts_with('\'') ? "\\&" : "";
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c == '\n' ? ' ' : c;
    }
  }
  return out;
}

std::string Bold(std::string_view text) {
  return "\\fB" + Escape(text) + "\\fR";
}

std::string Italic(std::string_view text) {
  return "\\fI" + Escape(text) + "\\fR";
}

// A description as a sentence.
std::string Sentence(const std::string& description) {
  if (description.empty() ||
      std::string_view(".!?").find(description.back()) != std::string_view::npos) {
    return Escape(description);
  }
  return Escape(description) + ".";
}

// "-j, --jobs N" or "PROJECT", with fonts.
std::string Term(const ArgumentDoc& argument) {
  if (argument.positional) {
    return Italic(argument.names.front());
  }
  std::string term;
  for (const std::string& name : argument.names) {
    term += (term.empty() ? "" : ", ") + Bold(name);
  }
  return argument.placeholder.empty() ? term : term + " " + Italic(argument.placeholder);
}

// The usage line: required options spelt out, the others summed up.
std::string Usage(const CommandDoc& command) {
  std::string usage = ".B " + Escape(command.path) + "\n";
  bool optional_options = false;
  for (const ArgumentDoc& option : command.options) {
    if (option.help) {
      continue;
    }
    if (option.required) {
      usage += Term(option) + " ";
    }
    optional_options = optional_options || !option.required;
  }
  if (optional_options) {
    usage += "[" + Italic("options") + "] ";
  }
  if (!command.subcommands.empty()) {
    usage += Italic("COMMAND") + " ";
  }
  for (const ArgumentDoc& positional : command.positionals) {
    std::string word = Italic(positional.names.front()) + (positional.repeats ? "..." : "");
    usage += (positional.required ? word : "[" + word + "]") + " ";
  }
  usage.back() = '\n';
  return usage;
}

// A paragraph for each argument; the help flags only when |with_help|.
std::string Items(const std::vector<ArgumentDoc>& arguments, bool with_help = false) {
  std::string items;
  for (const ArgumentDoc& argument : arguments) {
    if (argument.help && !with_help) {
      continue;
    }
    items += ".TP\n" + Term(argument) + "\n" + Sentence(argument.description) + "\n";
  }
  return items;
}

std::string CommandSection(const CommandDoc& command) {
  const std::string name = command.path.substr(command.path.find(' ') + 1);
  std::string section = ".SS \"" + Escape(name) + "\"\n" + Usage(command) + ".PP\n" +
                        Sentence(command.description) + "\n";
  if (!command.subcommands.empty()) {
    std::string list;
    for (const std::string& sub : command.subcommands) {
      list += (list.empty() ? "" : ", ") + Bold(sub);
    }
    section += "Its commands: " + list + ".\n";
  }
  return section + Items(command.positionals) + Items(command.options);
}

// Replaces every |marker| in |text| with |replacement|; false when there is
// none.
bool Replace(std::string* text, std::string_view marker, const std::string& replacement) {
  size_t at = text->find(marker);
  if (at == std::string::npos) {
    return false;
  }
  for (; at != std::string::npos; at = text->find(marker, at + replacement.size())) {
    text->replace(at, marker.size(), replacement);
  }
  return true;
}

}  // namespace

std::string ManPage(const std::vector<CommandDoc>& commands, const std::string& page_template,
                    const std::string& version) {
  std::string sections;
  for (size_t i = 1; i < commands.size(); ++i) {
    sections += CommandSection(commands[i]);
  }
  std::string page = page_template;
  if (commands.empty() || !Replace(&page, kVersionMarker, Escape(version)) ||
      !Replace(&page, kOptionsMarker, "\n" + Items(commands.front().options, true)) ||
      !Replace(&page, kCommandsMarker, "\n" + sections)) {
    return {};
  }
  return page;
}

}  // namespace qxweb_tool
