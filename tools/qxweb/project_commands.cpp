// qxweb new, scan and seal: the sealer's engine over an in-memory form.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"
#include "core/platform/console_user_interface.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/project_file.h"
#include "sealer/project/seal_engine.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/sealer_settings.h"
#include "sealer/project/source_scan.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

using qx::FormControl;

volatile std::sig_atomic_t cancel_requested = 0;

void OnInterrupt(int) {
  cancel_requested = 1;
}

// Ctrl-C asks the running seal to stop at the next file, as the window's
// Cancel does; a second Ctrl-C ends the program at once. Interrupted system
// calls restart, so the file being stored is finished first.
class InterruptAsCancel {
 public:
  InterruptAsCancel() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptAsCancel() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptAsCancel(const InterruptAsCancel&) = delete;
  InterruptAsCancel& operator=(const InterruptAsCancel&) = delete;

 private:
  struct sigaction previous_ {};
};

// |path| made absolute against the current directory: a project keeps
// absolute directories, so that it seals the same tree wherever it is run.
std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') {
    return path;
  }
  std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
  if (cwd == nullptr) {
    return path;
  }
  std::string absolute(cwd.get());
  if (path != ".") {
    absolute += '/';
    absolute += path.rfind("./", 0) == 0 ? path.substr(2) : path;
  }
  return absolute;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

// Prints "MB" figures with one decimal.
std::string Megabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// The console's form: message boxes go to stderr; the seal's progress is
// one line on a terminal and, with --verbose, a line per file otherwise.
class ConsoleForm : public qx::MemoryFormView, public qx::UserInterface {
 public:
  ConsoleForm(bool verbose, bool create_put_to) : verbose_(verbose) {
    console_.SetOkCancelAnswer(create_put_to ? qx::BoxAnswer::kOk : qx::BoxAnswer::kCancel);
    terminal_ = isatty(STDERR_FILENO) != 0;
  }

  // Lists what the seal will store, in its order, for "file n of m".
  void PrepareProgress(const qx::SealerProject& project) {
    plan_.clear();
    total_bytes_ = 0;
    auto add = [&](std::string_view name) {
      const int64_t bytes =
          qx::IsSafeRelativeName(name) ? FileSize(qx::JoinNativePath(project.seal_from, name)) : 0;
      total_bytes_ += bytes;
      plan_.push_back({std::string(name), bytes});
    };
    // The seal never stores the read-me file of this edition.
    for (auto field : qx::NamedFileFields()) {
      if (field != &qx::SealerProject::readme_file && !(project.*field).empty()) {
        add(project.*field);
      }
    }
    for (int i = 0; i < FileList().Count(); ++i) {
      const std::string line = FileList().Text(i);
      if (line.empty() || line.front() != ';') {
        add(qx::ListLinePath(line).value_or(line));
      }
    }
  }

  // Each "Sealing ..." step starts the next file of the plan.
  bool ProgressStep(std::string_view text) override {
    qx::MemoryFormView::ProgressStep(text);
    if (text.rfind("Sealing ", 0) == 0 && files_started_ < plan_.size()) {
      const Planned& file = plan_[files_started_++];
      done_bytes_ += current_bytes_;
      current_bytes_ = file.bytes;
      Show(file.name);
    } else if (verbose_) {
      EndLine();
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    }
    return cancel_requested != 0;
  }

  // The run is over: the progress line is finished.
  void EndLine() {
    if (line_open_) {
      std::fputc('\n', stderr);
      line_open_ = false;
    }
  }

  void Beep(qx::BeepKind) override {}
  qx::BoxAnswer ShowMessageBox(const qx::MessageBoxRequest& request) override {
    EndLine();
    return console_.ShowMessageBox(request);
  }

 private:
  void Show(const std::string& name) {
    if (terminal_) {
      std::fprintf(stderr, "\rSealing file %zu of %zu, %s of %s: %s\x1b[K", files_started_,
                   plan_.size(), Megabytes(done_bytes_).c_str(), Megabytes(total_bytes_).c_str(),
                   name.c_str());
      line_open_ = true;
    } else if (verbose_) {
      std::fprintf(stderr, "Sealing file %zu of %zu: %s\n", files_started_, plan_.size(),
                   name.c_str());
    }
    std::fflush(stderr);
  }

  qx::ConsoleUserInterface console_{stderr};
  bool verbose_;
  bool terminal_ = false;
  bool line_open_ = false;
  struct Planned {
    std::string name;
    int64_t bytes;
  };
  std::vector<Planned> plan_;
  size_t files_started_ = 0;
  int64_t total_bytes_ = 0;
  int64_t done_bytes_ = 0;
  int64_t current_bytes_ = 0;
};

// Opens |path| into the state and the form; false after a message.
bool OpenInto(qx::SealerState& state, ConsoleForm& form, const std::string& path) {
  qx::ReadSettings(state.settings);
  if (qx::OpenProject(state, form, path)) {
    return true;
  }
  // A project that could not be opened at all shows nothing of its own.
  if (access(path.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "qxweb: cannot open project %s: %s\n", path.c_str(), std::strerror(errno));
  }
  return false;
}

void PrintCounts(const qx::SealerState& state) {
  std::printf("%s: %d files in %d directories\n", state.project.project_path.c_str(),
              state.project.file_count, state.project.directory_count);
  std::fflush(stdout);
}

struct NewOptions {
  std::string project;
  std::string name;
  std::string command_line;
  std::string seal_from;
  std::string put_to;
  std::optional<std::string> owner;
  std::string install_to;
  bool force = false;
};

int RunNew(const NewOptions& options) {
  ConsoleForm form(false, false);
  qx::ScopedUserInterface scope(form);
  const std::string project_path = AbsolutePath(options.project);
  struct stat st {};
  if (!options.force && stat(project_path.c_str(), &st) == 0) {
    std::fprintf(stderr, "qxweb: %s exists (--force replaces it)\n", project_path.c_str());
    return kExitFailed;
  }
  // The form's fields hold no more than this.
  const std::string owner = options.owner.value_or("");
  const struct {
    const char* what;
    const std::string& text;
    size_t limit;
  } limits[] = {{"--name", options.name, qx::kNameFieldLimit},
                {"--command-line", options.command_line, qx::kCommandLineFieldLimit},
                {"--owner", owner, qx::kOwnerFieldLimit},
                {"--install-to", options.install_to, qx::kPathFieldLimit},
                {"--seal-from", options.seal_from, qx::kPathFieldLimit},
                {"--put-to", options.put_to, qx::kPathFieldLimit}};
  for (const auto& limit : limits) {
    if (limit.text.size() > limit.limit) {
      std::fprintf(stderr, "qxweb: %s takes at most %zu characters\n", limit.what, limit.limit);
      return kExitUsage;
    }
  }

  qx::SealerState state;
  qx::ReadSettings(state.settings);
  qx::NewProject(state, form);
  if (options.owner) {
    form.SetFieldText(FormControl::kOwner, *options.owner);
  }
  form.SetFieldText(FormControl::kName, options.name);
  form.SetFieldText(FormControl::kCommandLine, options.command_line);
  form.SetFieldText(FormControl::kInstallTo, options.install_to);
  form.SetFieldText(FormControl::kSealFrom, AbsolutePath(options.seal_from));
  form.SetFieldText(FormControl::kPutTo, AbsolutePath(options.put_to));
  if (!qx::CheckNameField(form) || !qx::CheckInstallToField(form) ||
      !qx::CheckApplName(options.name, form)) {
    return kExitFailed;
  }
  state.project.project_path = project_path;
  if (!qx::SaveProject(state, form, false, false)) {
    return kExitFailed;
  }
  std::printf("%s: new project %s\n", project_path.c_str(), options.name.c_str());
  return kExitOk;
}

int RunScan(const std::string& project) {
  ConsoleForm form(false, false);
  qx::ScopedUserInterface scope(form);
  qx::SealerState state;
  const std::string path = AbsolutePath(project);
  if (!OpenInto(state, form, path) || !qx::ScanCommand(state, form) ||
      !qx::SaveProject(state, form, false, false)) {
    return kExitFailed;
  }
  PrintCounts(state);
  return kExitOk;
}

struct SealOptions {
  std::string project;
  bool scan = false;
  bool create_put_to = false;
  bool save = false;
  bool verbose = false;
};

int RunSeal(const SealOptions& options) {
  ConsoleForm form(options.verbose, options.create_put_to);
  qx::ScopedUserInterface scope(form);
  qx::SealerState state;
  const std::string path = AbsolutePath(options.project);
  if (!OpenInto(state, form, path)) {
    return kExitFailed;
  }
  if (options.scan) {
    if (!qx::ScanCommand(state, form)) {
      return kExitFailed;
    }
    PrintCounts(state);
  }
  form.PrepareProgress(state.project);
  InterruptAsCancel interrupt;
  cancel_requested = 0;
  const bool sealed = qx::SealCommand(state, form);
  form.EndLine();
  if (!sealed) {
    if (cancel_requested != 0) {
      std::fprintf(stderr, "qxweb: seal cancelled; the earlier package header is unchanged\n");
      return kExitInterrupted;
    }
    return kExitFailed;
  }
  const std::string header = qx::JoinNativePath(
      state.project.put_to, state.project.appl_name + "." + std::string(qx::kHeaderExtension));
  std::printf("%s\n", header.c_str());
  if (options.save && !qx::SaveProject(state, form, false, false)) {
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void AddNewCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand("new", "Create a project file from the form's fields");
  auto options = std::make_shared<NewOptions>();
  cmd->add_option("PROJECT", options->project, "Project file to create (.QXS)")->required();
  cmd->add_option("--name", options->name, "Application name (at most 8 characters)")->required();
  cmd->add_option("--command-line", options->command_line,
                  "Command and options that start the application")
      ->required();
  cmd->add_option("--seal-from", options->seal_from, "Directory that holds the application")
      ->required();
  cmd->add_option("--put-to", options->put_to, "Directory that receives the package")->required();
  cmd->add_option("--owner", options->owner,
                  "Owner of the package (default: the settings' default owner)");
  cmd->add_option("--install-to", options->install_to,
                  "Client installation directory, relative to the cache root");
  cmd->add_flag("--force", options->force, "Replace an existing project file");
  cmd->callback([options, &status] { status = RunNew(*options); });
}

void AddScanCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "scan", "List the seal-from directory into the project's file list and save the project");
  auto project = std::make_shared<std::string>();
  cmd->add_option("PROJECT", *project, "Project file (.QXS)")->required();
  cmd->callback([project, &status] { status = RunScan(*project); });
}

void AddSealCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "seal",
      "Seal a project into its put-to directory: stored files, package header and landing page. "
      "Ctrl-C stops at the next file and keeps the earlier header");
  auto options = std::make_shared<SealOptions>();
  cmd->add_option("PROJECT", options->project, "Project file (.QXS)")->required();
  cmd->add_flag("--scan", options->scan, "Scan the seal-from directory first");
  cmd->add_flag("--create-put-to", options->create_put_to,
                "Create a missing put-to directory (otherwise the seal stops)");
  cmd->add_flag("--save", options->save, "Save the project afterwards");
  cmd->add_flag("-v,--verbose", options->verbose,
                "One line per stored file when standard error is not a terminal");
  cmd->callback([options, &status] { status = RunSeal(*options); });
}

}  // namespace qxweb_tool
