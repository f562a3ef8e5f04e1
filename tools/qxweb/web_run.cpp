// The web client's install and update, with the progress on the terminal.
// Command-line program (qxweb-net).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "client/web_install.h"
#include "core/fsutil/path_text.h"
#include "core/platform/console_user_interface.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

using Clock = std::chrono::steady_clock;

// One line on a terminal: files and bytes done of the total, and the rate.
class ProgressLine {
 public:
  ProgressLine() : terminal_(isatty(STDERR_FILENO) != 0), start_(Clock::now()) {}
  ~ProgressLine() { Clear(); }

  void Show(const qx::FetchProgress& progress) {
    if (!terminal_ || progress.files_total == 0) {
      return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const int percent = progress.bytes_total > 0
                            ? static_cast<int>(100 * progress.bytes_done / progress.bytes_total)
                            : 100;
    std::string rate;
    if (seconds >= 0.5) {
      rate = ", " + Megabytes(static_cast<int64_t>(progress.bytes_done / seconds)) + "/s";
    }
    std::fprintf(stderr, "\rFetched %d of %d files, %s of %s (%d%%)%s\x1b[K", progress.files_done,
                 progress.files_total, Megabytes(progress.bytes_done).c_str(),
                 Megabytes(progress.bytes_total).c_str(), percent, rate.c_str());
    std::fflush(stderr);
    open_ = true;
  }

  void Clear() {
    if (open_) {
      std::fputs("\r\x1b[K", stderr);
      std::fflush(stderr);
      open_ = false;
    }
  }

 private:
  bool terminal_;
  bool open_ = false;
  Clock::time_point start_;
};

// "1 file", "3 files".
std::string Files(int count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

// A byte count as people read it: "812 bytes", "4.2 kB", "151.0 MB".
std::string Amount(int64_t bytes) {
  if (bytes < 1024) {
    return std::to_string(bytes) + " bytes";
  }
  if (bytes < 1024 * 1024) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1024.0);
    return text;
  }
  return Megabytes(bytes);
}

}  // namespace

int RunWebCommand(const WebArguments& arguments) {
  const char* command = arguments.update ? "qxweb update" : "qxweb install";
  qx::ConsoleUserInterface ui{stderr};
  qx::ScopedUserInterface scope{ui};
  const auto complain = [command](const std::string& problem) {
    std::fprintf(stderr, "%s: %s\n", command, problem.c_str());
  };
  std::string error;
  const std::string root = qx::PrepareClientCache(&error);
  if (root.empty()) {
    complain(error);
    return kExitFailed;
  }
  std::string name;
  if (arguments.update) {
    name = qx::FindCachedApplication(arguments.target, &error);
    if (name.empty()) {
      complain(error);
      return kExitFailed;
    }
  }

  ProgressLine line;
  qx::WebInstallSettings settings;
  settings.fetch.ca_file = arguments.ca_file;
  settings.callbacks.progress = [&line](const qx::FetchProgress& progress) { line.Show(progress); };
  if (arguments.verbose) {
    settings.callbacks.file_done = [&line](const qx::FileFetch& file) {
      line.Clear();
      std::fprintf(stderr, "Fetched %s (%s)\n",
                   qx::PrintableText(qx::NativeSeparators(file.entry->name)).c_str(),
                   Amount(file.entry->length).c_str());
    };
  }
  const qx::WebInstallOutcome outcome = arguments.update
                                            ? qx::UpdateFromWeb(root, name, settings)
                                            : qx::InstallFromWeb(root, arguments.target, settings);
  line.Clear();
  for (const std::string& problem : outcome.problems) {
    complain(problem);
  }
  const std::string shown =
      qx::PrintableText(outcome.name.empty() ? arguments.target : outcome.name);
  if (!outcome.problems.empty()) {
    complain(shown + (outcome.replaced ? ": installed, but not recorded whole"
                                       : ": not installed; the cache is as it was"));
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
  std::fflush(stdout);
  if (!arguments.launch) {
    return kExitOk;
  }
  return LaunchAndWait(command, root, outcome.name, arguments.launch_arguments);
}

}  // namespace qxweb_tool
