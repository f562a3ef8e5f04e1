// Starting a cached application and waiting for it, for "cache launch" and
// "install --launch". Command-line program.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "client/client_cache.h"
#include "core/fsutil/path_text.h"
#include "core/launch/launch.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

// The exit status of a finished child as a shell gives it.
int ExitStatusOf(int wait_status) {
  if (WIFEXITED(wait_status)) {
    return WEXITSTATUS(wait_status);
  }
  return WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : kExitFailed;
}

}  // namespace

std::unique_ptr<qx::ClientCache> OpenCache(const char* command) {
  std::string error;
  std::unique_ptr<qx::ClientCache> cache = qx::ClientCache::Open(
      [shown = std::string(command)] {
        std::fprintf(stderr, "%s: waiting for another qxweb command to finish with the cache\n",
                     shown.c_str());
      },
      &error);
  if (!cache) {
    std::fprintf(stderr, "%s: %s\n", command, error.c_str());
  }
  return cache;
}

int LaunchAndWait(const char* command, qx::ClientCache& cache, const std::string& name,
                  const std::vector<std::string>& arguments) {
  const qx::LaunchOutcome outcome = qx::LaunchCachedApplication(cache, name, arguments);
  // The application may run for hours; other commands need not wait for it.
  cache.Unlock();
  if (!outcome.problems.empty() || outcome.result <= 32) {
    for (const std::string& problem : outcome.problems) {
      std::fprintf(stderr, "%s: %s\n", command, problem.c_str());
    }
    // As a shell reports it: 127 for a program not found, 126 for one that
    // cannot be run.
    const char* reason = outcome.result == qx::kLaunchExpandFailed
                             ? "the files could not be expanded"
                         : outcome.result == qx::kStartNotFound ? "the program was not found"
                         : outcome.result == qx::kStartNothing  ? "there is no command line"
                                                                : "the program cannot be run";
    if (outcome.problems.empty()) {
      std::fprintf(stderr, "%s: %s: not started, %s\n", command, qx::PrintableText(name).c_str(),
                   reason);
    }
    return !outcome.problems.empty() || outcome.result == qx::kLaunchExpandFailed ? kExitFailed
           : outcome.result == qx::kStartNotFound                                 ? 127
                                                                                  : 126;
  }
  // Ctrl-C reaches the application; qxweb waits for it and passes its status on.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction old_interrupt {};
  struct sigaction old_quit {};
  sigaction(SIGINT, &ignore, &old_interrupt);
  sigaction(SIGQUIT, &ignore, &old_quit);
  int wait_status = 0;
  pid_t waited = -1;
  do {
    waited = ::waitpid(outcome.pid, &wait_status, 0);
  } while (waited < 0 && errno == EINTR);
  sigaction(SIGINT, &old_interrupt, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  return waited == outcome.pid ? ExitStatusOf(wait_status) : kExitFailed;
}

}  // namespace qxweb_tool
