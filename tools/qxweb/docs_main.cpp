// qxweb-docs: writes qxweb's manual page and bash completion from the
// command definitions qxweb parses with, so that neither can say other than
// --help. Generator of qxweb's documentation, run by the build.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/qxweb/commands.h"
#include "tools/qxweb/docs_model.h"

namespace {

bool WriteText(const std::filesystem::path& path, const std::string& text) {
  std::error_code error;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), error);
  }
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "qxweb-docs: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qxweb-docs TEMPLATE OUT_MAN OUT_COMPLETION\n");
    return qxweb_tool::kExitUsage;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "qxweb-docs: cannot read %s\n", argv[1]);
    return qxweb_tool::kExitFailed;
  }
  std::ostringstream page_template;
  page_template << in.rdbuf();

  CLI::App app;
  int status = qxweb_tool::kExitOk;
  qxweb_tool::DefineQxweb(app, status, [](const qxweb_tool::WebArguments&) { return 0; });
  const auto commands = qxweb_tool::DescribeCommands(app);

  const std::string page =
      qxweb_tool::ManPage(commands, page_template.str(), "qxweb " QX_PROGRAM_VERSION);
  if (page.empty()) {
    std::fprintf(stderr, "qxweb-docs: %s lacks @VERSION@, @OPTIONS@ or @COMMANDS@\n", argv[1]);
    return qxweb_tool::kExitFailed;
  }
  const bool written =
      WriteText(argv[2], page) && WriteText(argv[3], qxweb_tool::CompletionScript(commands));
  return written ? qxweb_tool::kExitOk : qxweb_tool::kExitFailed;
}
