// qxweb new, scan and seal: the sealer's engine asked with values, the
// console as its observer.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"
#include "sealer/project/install_page.h"
#include "sealer/project/project_store.h"
#include "sealer/project/seal_boxes.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/sealer_settings.h"
#include "sealer/project/source_scan.h"
#include "tools/qxweb/commands.h"
#include "tools/qxweb/console_observer.h"
#include "tools/qxweb/key_passphrase.h"

namespace qxweb_tool {

namespace {

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

// Opens |path| into the state and |project|; false after a message.
bool OpenInto(qx::SealerState& state, qx::Project& project, const std::string& path) {
  qx::ReadSettings(state.settings);
  if (qx::LoadProject(state, path, project)) {
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
  ConsoleObserver console(false, false);
  qx::ScopedUserInterface scope(console);
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
    // A line break would end its key line early in the project file.
    if (std::any_of(limit.text.begin(), limit.text.end(), qx::IsControlCharacter)) {
      std::fprintf(stderr, "qxweb: %s holds a line break or another control character\n",
                   limit.what);
      return kExitUsage;
    }
  }

  qx::SealerState state;
  qx::ReadSettings(state.settings);
  qx::StartProject(state);
  qx::SealerProject record = state.project;
  record.owner = options.owner.value_or(record.owner);
  record.appl_name = options.name;
  record.command_line = options.command_line;
  record.install_to = options.install_to;
  record.seal_from = AbsolutePath(options.seal_from);
  record.put_to = AbsolutePath(options.put_to);
  record.project_path = project_path;
  // The form's checks of the fields, in the form's order.
  for (const qx::Result<void>& checked :
       {qx::CheckNameValue(record.appl_name), qx::CheckInstallToValue(record.install_to),
        qx::CheckApplNameValue(record.appl_name)}) {
    if (!checked.ok()) {
      console.ShowError(checked.error());
      return kExitFailed;
    }
  }
  if (!qx::CreateProject(state, record)) {
    return kExitFailed;
  }
  std::printf("%s: new project %s\n", project_path.c_str(), options.name.c_str());
  return kExitOk;
}

// A field the engine refuses, when empty, with a beep and the focus alone:
// in the window the focus shows which one, here it has to be said.
struct RequiredField {
  std::string qx::SealerProject::*field;
  const char* what;
  const char* key;
};

constexpr RequiredField kApplNameRequired{&qx::SealerProject::appl_name, "application name",
                                          "ApplName"};
constexpr RequiredField kSealFromRequired{&qx::SealerProject::seal_from, "seal-from directory",
                                          "SealFrom"};
constexpr RequiredField kPutToRequired{&qx::SealerProject::put_to, "put-to directory", "PutTo"};

// False, after naming the first empty one, when a field of |fields| is empty.
bool HasFields(const qx::Project& project, const std::string& path,
               std::initializer_list<RequiredField> fields) {
  for (const RequiredField& field : fields) {
    if ((project.record.*field.field).empty()) {
      std::fprintf(stderr, "qxweb: %s has no %s (%s)\n", path.c_str(), field.what, field.key);
      return false;
    }
  }
  return true;
}

struct ScanOptions {
  std::string project;
  bool fresh = false;
};

// Scans |project| with Scan and takes the new list into it and |state|'s
// record, as the Scan command takes it into the form; false after a message.
bool ScanInto(qx::SealerState& state, qx::Project& project, ConsoleObserver& console) {
  qx::Result<qx::ScanOutcome> scanned = qx::Scan(project, console);
  if (!scanned.ok()) {
    console.ShowError(scanned.error());
    return false;
  }
  qx::ScanOutcome& outcome = scanned.value();
  qx::SealerProject& record = project.record;
  record.prev_seal_from = record.seal_from;
  record.file_count = outcome.file_count;
  record.directory_count = outcome.directory_count;
  project.file_list = std::move(outcome.file_list);
  state.project = record;
  if (!outcome.left_out.empty()) {
    console.Notice(qx::Error{qx::kSealNotice, qx::LeftOutMessage(outcome.left_out), {}});
  }
  return true;
}

int RunScan(const ScanOptions& options) {
  ConsoleObserver console(false, false);
  qx::ScopedUserInterface scope(console);
  qx::SealerState state;
  qx::Project project;
  const std::string path = AbsolutePath(options.project);
  if (!OpenInto(state, project, path) ||
      !HasFields(project, path, {kSealFromRequired, kPutToRequired})) {
    return kExitFailed;
  }
  if (options.fresh) {
    // The list is built as for another seal-from directory: without the
    // old list and its comment lines.
    project.record.prev_seal_from.clear();
  }
  if (!ScanInto(state, project, console) || !qx::StoreProject(state, project)) {
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
  std::string sign;  // the secret key file, else the settings' one
  bool unsigned_seal = false;
  bool install_page = false;
  std::optional<std::string> base_url;  // the install page's, else the settings' one
  bool no_install_page = false;
  qx::SealOptions seal;
};

// Whether and how the seal writes the install page: the flags, else the
// settings, as for the signing key. False after a message.
bool ChooseInstallPage(const SealOptions& options, const qx::SealerSettings& settings,
                       qx::SealOptions& seal) {
  seal.install_page = !options.no_install_page &&
                      (options.install_page || options.base_url || settings.install_page);
  if (!seal.install_page) {
    return true;
  }
  const bool from_flag = options.base_url.has_value();
  seal.install_page_base_url = from_flag ? *options.base_url : settings.install_page_base_url;
  if (seal.install_page_base_url.empty()) {
    if (from_flag) {
      std::fprintf(stderr, "qxweb: --base-url needs a URL\n");
      return false;
    }
    return true;
  }
  qx::Result<std::string> checked = qx::CheckInstallPageBaseUrl(seal.install_page_base_url);
  if (!checked.ok()) {
    if (from_flag) {
      std::fprintf(stderr, "qxweb: --base-url: %s\n", checked.error().message.c_str());
    } else {
      std::fprintf(stderr, "qxweb: %s in %s: %s\n", qx::kInstallPageBaseUrlSetting,
                   qx::SettingsFilePath().c_str(), checked.error().message.c_str());
    }
    return false;
  }
  seal.install_page_base_url = std::move(checked).value();
  return true;
}

int RunSeal(const SealOptions& options) {
  ConsoleObserver console(options.verbose, options.create_put_to);
  qx::ScopedUserInterface scope(console);
  qx::SealerState state;
  qx::SealOptions seal = options.seal;
  qx::Project project;
  const std::string path = AbsolutePath(options.project);
  if (!OpenInto(state, project, path)) {
    return kExitFailed;
  }
  if (!ChooseInstallPage(options, state.settings, seal)) {
    return options.base_url ? kExitUsage : kExitFailed;
  }
  // The key is loaded, and its passphrase asked, before anything is written.
  const std::string key_path =
      !options.sign.empty() ? options.sign
                            : (options.unsigned_seal ? std::string() : state.settings.signing_key);
  if (!key_path.empty()) {
    seal.signing_key = LoadSecretKeyFile("seal", key_path);
    if (seal.signing_key.empty()) {
      return kExitFailed;
    }
  }
  seal.drop_signature = options.unsigned_seal;
  const bool complete =
      options.scan
          ? HasFields(project, path, {kApplNameRequired, kSealFromRequired, kPutToRequired})
          : HasFields(project, path, {kApplNameRequired, kPutToRequired});
  if (!complete) {
    return kExitFailed;
  }
  if (options.scan) {
    if (!ScanInto(state, project, console)) {
      return kExitFailed;
    }
    PrintCounts(state);
  }
  InterruptAsCancel interrupt;
  cancel_requested = 0;
  qx::Result<qx::SealedPackage> sealed = qx::Seal(project, seal, console);
  console.EndLine();
  if (!sealed.ok()) {
    console.ShowError(sealed.error());
    if (cancel_requested != 0) {
      std::fprintf(stderr, "qxweb: seal cancelled; the earlier package is unchanged\n");
      return kExitInterrupted;
    }
    return kExitFailed;
  }
  console.ShowMessageBox(qx::SealCompleteBox(sealed->record.appl_name, nullptr));
  std::printf("%s\n", sealed->header_path.c_str());
  const std::string page =
      qx::JoinNativePath(sealed->record.put_to, qx::InstallPageFileName(sealed->record.appl_name));
  if (seal.install_page) {
    std::printf("%s\n", page.c_str());
  } else if (!options.no_install_page && access(page.c_str(), F_OK) == 0) {
    // A page published once stays published, but it tells the version it
    // was written for.
    std::fprintf(stderr,
                 "qxweb: %s is left as it was and may show an earlier version (--install-page "
                 "writes it anew)\n",
                 page.c_str());
  }
  project.record = sealed->record;
  if (options.save && !qx::StoreProject(state, project)) {
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void AddNewCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand("new", "Create a project file from the form's fields");
  auto options = std::make_shared<NewOptions>();
  cmd->add_option("PROJECT", options->project, "Project file to create (.QXS)")->required();
  cmd->add_option("--name", options->name, "Application name (at most 8 characters)")
      ->type_name("NAME")
      ->required();
  cmd->add_option("--command-line", options->command_line,
                  "Command and options that start the application")
      ->type_name("COMMAND")
      ->required();
  cmd->add_option("--seal-from", options->seal_from, "Directory that holds the application")
      ->type_name("DIR")
      ->required();
  cmd->add_option("--put-to", options->put_to, "Directory that receives the package")
      ->type_name("DIR")
      ->required();
  cmd->add_option("--owner", options->owner,
                  "Owner of the package (default: the settings' default owner)")
      ->type_name("OWNER");
  cmd->add_option("--install-to", options->install_to,
                  "Client installation directory, relative to the cache root")
      ->type_name("PATH");
  cmd->add_flag("--force", options->force, "Replace an existing project file");
  cmd->callback([options, &status] { status = RunNew(*options); });
}

void AddScanCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "scan", "List the seal-from directory into the project's file list and save the project");
  auto options = std::make_shared<ScanOptions>();
  cmd->add_option("PROJECT", options->project, "Project file (.QXS)")->required();
  cmd->add_flag("--fresh", options->fresh,
                "Make a fresh list, dropping the comment lines of the old one (without it a "
                "corrupt old list is recreated, keeping the comments of its sound lines)");
  cmd->callback([options, &status] { status = RunScan(*options); });
}

void AddSealCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "seal",
      "Seal a project into its put-to directory: stored files, package header and landing page "
      "(and the install page when asked). "
      "Ctrl-C stops at the next file and keeps the earlier package");
  auto options = std::make_shared<SealOptions>();
  cmd->add_option("PROJECT", options->project, "Project file (.QXS)")->required();
  cmd->add_flag("--scan", options->scan, "Scan the seal-from directory first");
  cmd->add_flag("--create-put-to", options->create_put_to,
                "Create a missing put-to directory (otherwise the seal stops)");
  cmd->add_flag("--save", options->save, "Save the project afterwards");
  cmd->add_option("-j,--jobs", options->seal.jobs,
                  "Files stored at once, 1 to 1024 (default: one per processor this process may "
                  "use)")
      ->type_name("N")
      ->check(CLI::Validator(CLI::Range(1, 1024)).description(""));
  cmd->add_flag_callback(
      "--full", [options] { options->seal.reuse = false; },
      "Store every file again, even where the earlier package holds it unchanged");
  auto* sign =
      cmd->add_option("--sign", options->sign,
                      std::string("Sign the package with this secret key file: NAME.qxw.sig is "
                                  "published beside the header (default: the settings' "
                                  "SigningKey). The passphrase of an encrypted key comes from $") +
                          kPassphraseVariable + " or the terminal")
          ->type_name("FILE");
  cmd->add_flag("--unsigned", options->unsigned_seal,
                "Seal without a key even where the put-to directory holds a signature of the "
                "package, which is removed (clients that pinned its key refuse the new version)")
      ->excludes(sign);
  auto* install_page = cmd->add_flag(
      "--install-page", options->install_page,
      "Also write NAME-install.html beside the landing page: its Install button hands the "
      "package to qxweb on the visitor's computer (default: the settings' InstallPage)");
  auto* base_url =
      cmd->add_option("--base-url", options->base_url,
                      "The http or https URL of the directory the put-to directory is served as "
                      "(a missing final / is added): the install page then names the header "
                      "there and works without scripts. Implies --install-page (default: the "
                      "settings' InstallPageBaseUrl)")
          ->type_name("URL");
  cmd->add_flag("--no-install-page", options->no_install_page,
                "Write no install page whatever the settings say; one written earlier is left "
                "as it is")
      ->excludes(install_page)
      ->excludes(base_url);
  cmd->add_flag("-v,--verbose", options->verbose,
                "One line per stored file when standard error is not a terminal");
  cmd->callback([options, &status] { status = RunSeal(*options); });
}

}  // namespace qxweb_tool
