// Reading qxweb's command definitions into the description its manual page
// and completion are written from. Generator of qxweb's documentation.
#include "tools/qxweb/docs_model.h"

namespace qxweb_tool {

namespace {

ArgumentDoc DescribeArgument(const CLI::App& app, const CLI::Option& option) {
  ArgumentDoc argument;
  argument.help = &option == app.get_help_ptr() || &option == app.get_help_all_ptr();
  argument.description = option.get_description();
  argument.required = option.get_required();
  argument.repeats = option.get_items_expected_max() > 1;
  if (option.get_positional() && !option.nonpositional()) {
    argument.positional = true;
    argument.names = {option.get_name(true)};
    return argument;
  }
  for (const std::string& name : option.get_snames()) {
    argument.names.push_back("-" + name);
  }
  for (const std::string& name : option.get_lnames()) {
    argument.names.push_back("--" + name);
  }
  if (option.get_items_expected_max() > 0) {
    // A validator may add ":DESCRIPTION" to the type's name.
    const std::string type = option.get_type_name();
    argument.placeholder =
        type.empty() || type[0] == ':' ? "VALUE" : type.substr(0, type.find(':'));
  }
  return argument;
}

void Describe(const CLI::App& app, const std::string& path, std::vector<CommandDoc>* commands) {
  CommandDoc command;
  command.path = path;
  command.description = app.get_description();
  for (const CLI::Option* option : app.get_options()) {
    ArgumentDoc argument = DescribeArgument(app, *option);
    (argument.positional ? command.positionals : command.options).push_back(std::move(argument));
  }
  const auto subcommands = app.get_subcommands(
      [](const CLI::App* sub) { return !sub->get_name().empty() && !sub->get_disabled(); });
  for (const CLI::App* sub : subcommands) {
    command.subcommands.push_back(sub->get_name());
  }
  commands->push_back(std::move(command));
  for (const CLI::App* sub : subcommands) {
    Describe(*sub, path + " " + sub->get_name(), commands);
  }
}

}  // namespace

std::vector<CommandDoc> DescribeCommands(const CLI::App& app) {
  std::vector<CommandDoc> commands;
  Describe(app, app.get_name(), &commands);
  return commands;
}

}  // namespace qxweb_tool
