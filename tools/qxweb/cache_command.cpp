// qxweb cache: the client's cache of applications from the command line.
// Command-line program.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/cache_details.h"
#include "client/client_cache.h"
#include "client/desktop_entry.h"
#include "core/fsutil/path_text.h"
#include "core/platform/console_user_interface.h"
#include "core/platform/user_interface.h"
#include "core/signature/signing_key.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

// Message boxes of the registry and registration code go to stderr.
struct Console {
  qx::ConsoleUserInterface ui{stderr};
  qx::ScopedUserInterface scope{ui};
};

void PrintProblems(const char* command, const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "qxweb cache %s: %s\n", command, problem.c_str());
  }
}

// What went wrong beside a change that stands.
void PrintWarnings(const char* command, const std::vector<std::string>& notes) {
  for (const std::string& note : notes) {
    std::fprintf(stderr, "qxweb cache %s: warning: %s\n", command, note.c_str());
  }
}

// The cache opened for |command|, or an error printed and null.
std::unique_ptr<qx::ClientCache> Open(const char* command) {
  return OpenCache(("qxweb cache " + std::string(command)).c_str());
}

// The listed application the user named, or an error printed; empty then.
std::string Find(const char* command, const std::string& typed) {
  std::string error;
  std::string name = qx::FindCachedApplication(typed, &error);
  if (name.empty()) {
    PrintProblems(command, {error});
  }
  return name;
}

const char* FormOf(const qx::CachedApplication& application) {
  return application.compressed == qx::kYes ? "stored" : "expanded";
}

int RunInstall(const std::string& argument, const SignerOptions& options) {
  std::string error;
  const std::string header = HeaderArgument(argument, &error);
  qx::SignerPolicy policy;
  if (header.empty() || !SignerPolicyOf(options, &policy, &error)) {
    std::fprintf(stderr, "qxweb cache install: %s\n", error.c_str());
    return kExitFailed;
  }
  const std::unique_ptr<qx::ClientCache> cache = Open("install");
  if (!cache) {
    return kExitFailed;
  }
  const qx::InstallOutcome outcome = qx::InstallPackage(*cache, header, policy);
  if (!outcome.problems.empty()) {
    PrintProblems("install", outcome.problems);
    std::fprintf(stderr, "qxweb cache install: %s not installed; the cache is as it was\n",
                 header.c_str());
    return kExitFailed;
  }
  std::printf("%s: %s %d files into %s\n", qx::PrintableText(outcome.name).c_str(),
              outcome.replaced ? "replaced the cached version with" : "installed", outcome.files,
              outcome.directory.c_str());
  std::printf("%s: %s\n", qx::PrintableText(outcome.name).c_str(), outcome.signer.c_str());
  PrintWarnings("install", outcome.notes);
  return kExitOk;
}

int RunList() {
  const std::unique_ptr<qx::ClientCache> cache = Open("list");
  if (!cache) {
    return kExitFailed;
  }
  if (!cache->root_problem().empty()) {
    PrintProblems("list", {cache->root_problem()});
  }
  const std::vector<std::string> names = qx::ListedApplicationNames();
  if (names.empty()) {
    std::printf("no applications cached in %s\n", cache->root().c_str());
    return kExitOk;
  }
  size_t width = 4;
  for (const std::string& name : names) {
    width = std::max(width, name.size());
  }
  const int name_width = static_cast<int>(width);
  std::printf("%-*s  %-9s  %-8s  %12s  %12s\n", name_width, "NAME", "VERSION", "FORM", "STORED",
              "EXPANDED");
  for (const std::string& name : names) {
    qx::CachedApplication application;
    qx::ReadApplication(name, &application);
    std::printf("%-*s  %-9s  %-8s  %12" PRId64 "  %12" PRId64 "%s\n", name_width,
                qx::PrintableText(name).c_str(), qx::PrintableText(application.version).c_str(),
                FormOf(application), application.compressed_size, application.uncompressed_size,
                application.delete_mark == qx::kYes ? "  marked for deletion" : "");
  }
  return kExitOk;
}

int RunShow(const std::string& typed) {
  const std::unique_ptr<qx::ClientCache> cache = Open("show");
  if (!cache) {
    return kExitFailed;
  }
  const std::string name = Find("show", typed);
  if (name.empty()) {
    return kExitFailed;
  }
  const qx::CachedApplicationDetails details = qx::ReadCachedApplicationDetails(*cache, name);
  const qx::CachedApplication& application = details.record;
  const auto line = [](const char* label, const std::string& value) {
    std::printf("%-13s %s\n", label, qx::PrintableText(value).c_str());
  };
  line("Name:", name);
  line("Directory:", details.directory);
  line("Owner:", application.owner);
  line("Copyright:", application.copyright);
  line("Version:", application.version);
  line("Command line:", application.command_line);
  line("Read-me:", application.readme);
  line("Form:", qx::FormText(details));
  line("Stored:", std::to_string(application.compressed_size) + " bytes");
  line("Expanded:", std::to_string(application.uncompressed_size) + " bytes");
  line("Marked:", details.marked ? "yes, for deletion" : "no");
  line("Registered:", details.registered);
  line("Signer:", details.signer);
  const std::string entry = qx::DesktopEntryPath(name);
  line("Menu entry:", !entry.empty() && qx::IsOwnDesktopEntry(entry, name) ? entry : "none");
  return kExitOk;
}

int RunLaunch(const std::string& typed, const std::vector<std::string>& arguments) {
  const std::unique_ptr<qx::ClientCache> cache = Open("launch");
  if (!cache) {
    return kExitFailed;
  }
  const std::string name = Find("launch", typed);
  if (name.empty()) {
    return kExitFailed;
  }
  return LaunchAndWait("qxweb cache launch", *cache, name, arguments);
}

int RunMark(const std::string& typed, bool mark) {
  const char* command = mark ? "mark" : "unmark";
  const std::unique_ptr<qx::ClientCache> cache = Open(command);
  if (!cache) {
    return kExitFailed;
  }
  const std::string name = Find(command, typed);
  if (name.empty()) {
    return kExitFailed;
  }
  if (qx::WriteDeleteCacheSetting(name, mark ? qx::kYes : qx::kNo) != 1) {
    return kExitFailed;
  }
  std::printf("%s: %s\n", qx::PrintableText(name).c_str(),
              mark ? "marked for deletion" : "no longer marked");
  return kExitOk;
}

int RunSweep(bool yes) {
  Console console;
  const std::unique_ptr<qx::ClientCache> cache = Open("sweep");
  if (!cache) {
    return kExitFailed;
  }
  if (!yes && isatty(STDIN_FILENO) == 0) {
    // Nobody to ask: nothing is asked and nothing changes.
    const size_t marked = qx::MarkedApplications().size();
    std::printf("%zu application%s marked for deletion; qxweb cache sweep --yes removes %s\n",
                marked, marked == 1 ? " is" : "s are", marked == 1 ? "it" : "them");
    return kExitOk;
  }
  if (!yes) {
    console.ui.SetPromptInput(stdin);
  }
  const auto confirm = [yes](const std::string& name) {
    if (yes) {
      return true;
    }
    qx::MessageBoxRequest question;
    question.text = "Do you want to delete the application?";
    question.caption = "Application \"" + qx::PrintableText(name) + "\" marked to be deleted";
    question.icon = qx::BoxIcon::kQuestion;
    question.buttons = qx::BoxButtons::kYesNo;
    return qx::BeepAndShow(qx::BeepKind::kSimple, question) == qx::BoxAnswer::kYes;
  };
  std::vector<std::string> problems;
  std::vector<std::string> notes;
  const std::vector<std::string> removed =
      qx::SweepCachedApplications(*cache, confirm, problems, &notes);
  PrintProblems("sweep", problems);
  PrintWarnings("sweep", notes);
  for (const std::string& name : removed) {
    std::printf("%s: removed\n", qx::PrintableText(name).c_str());
  }
  std::printf("%zu application%s removed\n", removed.size(), removed.size() == 1 ? "" : "s");
  return problems.empty() ? kExitOk : kExitFailed;
}

int RunRemove(const std::string& typed) {
  const std::unique_ptr<qx::ClientCache> cache = Open("remove");
  if (!cache) {
    return kExitFailed;
  }
  const std::string name = Find("remove", typed);
  if (name.empty()) {
    return kExitFailed;
  }
  std::vector<std::string> notes;
  const std::vector<std::string> problems = qx::RemoveCachedApplication(*cache, name, &notes);
  if (!problems.empty()) {
    PrintProblems("remove", problems);
    return kExitFailed;
  }
  PrintWarnings("remove", notes);
  std::printf("%s: removed\n", qx::PrintableText(name).c_str());
  return kExitOk;
}

int RunForgetKey(const std::string& typed) {
  const std::unique_ptr<qx::ClientCache> cache = Open("forget-key");
  if (!cache) {
    return kExitFailed;
  }
  // The pin outlives the application, so its name is looked up among the
  // listed ones only when no pin has the name as typed.
  std::string name = typed;
  if (!qx::ReadSignerPin(name)) {
    std::string error;
    name = qx::FindCachedApplication(typed, &error);
  }
  if (name.empty() || !qx::ReadSignerPin(name)) {
    std::fprintf(stderr, "qxweb cache forget-key: no key is pinned for %s\n",
                 qx::PrintableText(typed).c_str());
    return kExitFailed;
  }
  const std::string id = qx::KeyId(qx::ReadSignerPin(name)->public_key);
  if (!qx::WriteSignerPin(name, std::nullopt)) {
    return kExitFailed;
  }
  std::printf("%s: the pin of key %s is gone; the next install takes whatever it is given\n",
              qx::PrintableText(name).c_str(), id.c_str());
  return kExitOk;
}

int RunRoot(const std::string& directory) {
  const std::unique_ptr<qx::ClientCache> cache = Open("root");
  if (!cache) {
    return kExitFailed;
  }
  if (!directory.empty()) {
    const std::string error = cache->ChangeRoot(directory);
    if (!error.empty()) {
      PrintProblems("root", {error});
      return kExitFailed;
    }
  } else if (!cache->root_problem().empty()) {
    PrintProblems("root", {cache->root_problem()});
  }
  std::printf("%s\n", cache->root().c_str());
  return kExitOk;
}

}  // namespace

void AddCacheCommand(CLI::App& app, int& status) {
  auto* cache = app.add_subcommand(
      "cache",
      "The client's cache of applications: install a package, list, show, launch, mark, sweep "
      "and remove applications, show or set the cache root");
  cache->require_subcommand(1);

  // Every command runs with the console's message boxes.
  auto run = [&status](auto body) {
    return [&status, body] {
      Console console;
      status = body();
      std::fflush(stdout);
    };
  };

  auto header = std::make_shared<std::string>();
  auto* install = cache->add_subcommand(
      "install",
      "Verify a package (header digest, every stored file) and take it into the cache under its "
      "InstallTo and ApplName; an earlier version stays whole until the new one is complete");
  install->add_option("HEADER", *header, kHeaderArgumentHelp)->required();
  auto signer = std::make_shared<SignerOptions>();
  AddSignerOptions(install, *signer);
  install->callback(run([header, signer] { return RunInstall(*header, *signer); }));

  cache->add_subcommand("list", "One line per cached application")->callback(run([] {
    return RunList();
  }));

  auto name = std::make_shared<std::string>();
  auto add_named = [&](const char* command, const char* description) {
    auto* sub = cache->add_subcommand(command, description);
    sub->add_option("NAME", *name,
                    "Application: its whole cache name (InstallTo\\ApplName) or its ApplName")
        ->required();
    return sub;
  };
  add_named("show", "Everything the cache records of an application")->callback(run([name] {
    return RunShow(*name);
  }));

  auto arguments = std::make_shared<std::vector<std::string>>();
  auto* launch = add_named(
      "launch",
      "Start an application in its directory with its command line and ARGS (after --), "
      "expanding its files first while they are stored; exits with the application's status");
  launch->add_option("ARGS", *arguments, "Arguments after the command line's own");
  launch->callback(run([name, arguments] { return RunLaunch(*name, *arguments); }));

  add_named("mark", "Mark an application for deletion by the next sweep")->callback(run([name] {
    return RunMark(*name, true);
  }));
  add_named("unmark", "Take the deletion mark off an application")->callback(run([name] {
    return RunMark(*name, false);
  }));
  add_named("remove", "Remove an application: its files, its record and its registration")
      ->callback(run([name] { return RunRemove(*name); }));
  add_named("forget-key",
            "Take away the key an application's signed install pinned (it outlives removal), so "
            "that the next install may come unsigned or from another signer")
      ->callback(run([name] { return RunForgetKey(*name); }));

  auto yes = std::make_shared<bool>(false);
  auto* sweep = cache->add_subcommand(
      "sweep",
      "Remove the applications marked for deletion, asking for each on the terminal; without "
      "a terminal only --yes removes them");
  sweep->add_flag("-y,--yes", *yes, "Answer yes to every question");
  sweep->callback([&status, yes] {
    status = RunSweep(*yes);
    std::fflush(stdout);
  });

  auto directory = std::make_shared<std::string>();
  auto* root = cache->add_subcommand(
      "root", "Show the cache root, or set it to DIR (absolute) while no application is cached");
  root->add_option("DIR", *directory, "New cache root");
  root->callback(run([directory] { return RunRoot(*directory); }));
}

}  // namespace qxweb_tool
