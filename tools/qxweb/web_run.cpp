// The web client's install and update, with the progress on the terminal.
// Command-line program (qxweb-net).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "client/web_install.h"
#include "core/format/install_link.h"
#include "core/fsutil/path_text.h"
#include "core/platform/console_user_interface.h"
#include "tools/qxweb/commands.h"
#include "tools/qxweb/progress_line.h"

namespace qxweb_tool {

namespace {

// "1 file", "3 files".
std::string Files(int count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace

int RunWebCommand(const WebArguments& arguments) {
  const char* command = arguments.update ? "qxweb update" : "qxweb install";
  qx::ConsoleUserInterface ui{stderr};
  qx::ScopedUserInterface scope{ui};
  const auto complain = [command](const std::string& problem) {
    std::fprintf(stderr, "%s: %s\n", command, problem.c_str());
  };
  const std::unique_ptr<qx::ClientCache> cache = OpenCache(command);
  if (!cache) {
    return kExitFailed;
  }
  std::string error;
  std::string name;
  std::string url = arguments.target;
  if (!arguments.update && qx::IsInstallLink(url)) {
    url = qx::SourceOfInstallLink(arguments.target, &error);
    if (url.empty()) {
      complain(error);
      return kExitFailed;
    }
  }
  if (arguments.update) {
    name = qx::FindCachedApplication(arguments.target, &error);
    if (name.empty()) {
      complain(error);
      return kExitFailed;
    }
  }

  qx::WebInstallSettings settings;
  if (!SignerPolicyOf(arguments.signer, &settings.signer, &error)) {
    complain(error);
    return kExitFailed;
  }
  ProgressLine line("Fetching");
  settings.fetch.ca_file = arguments.ca_file;
  settings.fetch.limits = arguments.limits;
  settings.allow_other_host = arguments.allow_other_host;
  settings.callbacks.progress = [&line](const qx::FetchProgress& progress) {
    line.Show({.files_done = progress.files_done,
               .files_total = progress.files_total,
               .bytes_done = progress.bytes_done,
               .bytes_total = progress.bytes_total});
  };
  if (arguments.verbose) {
    settings.callbacks.file_done = [&line](const qx::FileFetch& file) {
      line.Clear();
      std::fprintf(stderr, "Fetched %s (%s)\n",
                   qx::PrintableText(qx::NativeSeparators(file.entry->name)).c_str(),
                   Amount(file.entry->length).c_str());
    };
  }
  const qx::WebInstallOutcome outcome = arguments.update
                                            ? qx::UpdateFromWeb(*cache, name, settings)
                                            : qx::InstallFromWeb(*cache, url, settings);
  line.Clear();
  for (const std::string& problem : outcome.problems) {
    complain(problem);
  }
  const std::string shown = qx::PrintableText(outcome.name.empty() ? url : outcome.name);
  if (!outcome.problems.empty()) {
    complain(shown + ": not installed; the cache is as it was");
    return kExitFailed;
  }
  if (outcome.current) {
    std::printf("%s: already current (%s)\n", shown.c_str(), Files(outcome.kept).c_str());
  } else if (outcome.replaced) {
    std::printf("%s: updated, %s fetched (%s), %d kept, %d removed\n", shown.c_str(),
                Files(outcome.fetched).c_str(), Amount(outcome.bytes_fetched).c_str(), outcome.kept,
                outcome.removed);
  } else {
    std::printf("%s: installed %s (%s fetched) into %s\n", shown.c_str(),
                Files(outcome.files).c_str(), Amount(outcome.bytes_fetched).c_str(),
                outcome.directory.c_str());
  }
  std::printf("%s: %s\n", shown.c_str(), outcome.signer.c_str());
  for (const std::string& note : outcome.notes) {
    complain("warning: " + note);
  }
  std::fflush(stdout);
  if (!arguments.launch) {
    return kExitOk;
  }
  return LaunchAndWait(command, *cache, outcome.name, arguments.launch_arguments);
}

}  // namespace qxweb_tool
