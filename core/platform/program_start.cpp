// Starting a program without a shell: shell-like word splitting with no
// expansion, the lookup in the working directory and along PATH, and
// posix_spawn with the working directory as a file action. Platform layer.
#include "core/platform/program_start.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace qx {

namespace {

constexpr std::string_view kWordBlanks = " \t\n";
// PATH when the environment has none, as the C library's own lookup assumes.
constexpr const char* kDefaultSearchPath = "/bin:/usr/bin";

int StartErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return kStartNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY:
      return kStartAccessDenied;
    case ENOEXEC:
      return kStartBadFormat;
    default:
      return kStartNoMemory;
  }
}

// |name| relative to |base|, or |name| itself when it is absolute or there is no base.
std::string JoinTo(const std::string& base, const std::string& name) {
  if (base.empty() || name.front() == '/') {
    return name;
  }
  return base.back() == '/' ? base + name : base + "/" + name;
}

// The file to run for |program|, or the start error when there is none.
// Like the C library's lookup, a candidate that exists but cannot be run
// does not end the search; it only turns "not found" into "access denied".
int LocateProgram(const std::string& program, const std::string& working_directory,
                  std::string* path) {
  if (program.find('/') != std::string::npos) {
    *path = JoinTo(working_directory, program);
    return 0;
  }
  std::vector<std::string> candidates = {JoinTo(working_directory, program)};
  const char* search = std::getenv("PATH");
  std::string_view rest = search != nullptr ? search : kDefaultSearchPath;
  for (;;) {
    const size_t colon = rest.find(':');
    const std::string directory(rest.substr(0, colon));
    // An empty entry means the current directory, which is the working
    // directory already tried.
    if (!directory.empty()) {
      candidates.push_back(JoinTo(working_directory, JoinTo(directory, program)));
    }
    if (colon == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(colon + 1);
  }
  bool denied = false;
  for (const std::string& candidate : candidates) {
    struct stat info;
    if (::stat(candidate.c_str(), &info) != 0) {
      denied = denied || errno == EACCES;
      continue;
    }
    if (!S_ISREG(info.st_mode) || ::access(candidate.c_str(), X_OK) != 0) {
      denied = true;
      continue;
    }
    *path = candidate;
    return 0;
  }
  return denied ? kStartAccessDenied : kStartNotFound;
}

// The spawn's file actions and attributes, released on every way out.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool have_actions = false;
  bool have_attributes = false;
  ~SpawnSetup() {
    if (have_actions) {
      posix_spawn_file_actions_destroy(&actions);
    }
    if (have_attributes) {
      posix_spawnattr_destroy(&attributes);
    }
  }
};

// Waits for a child nobody else waits for, so it leaves no zombie.
void ReapInBackground(pid_t child) {
  try {
    std::thread([child] {
      int status = 0;
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until this process ends;
    // it was started all the same.
  }
}

}  // namespace

std::vector<std::string> SplitParameters(std::string_view parameters) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;  // also true for a word made only of empty quotes
  size_t i = 0;
  const size_t end = parameters.size();
  while (i < end) {
    const char c = parameters[i];
    if (kWordBlanks.find(c) != std::string_view::npos) {
      if (in_word) {
        words.push_back(std::move(word));
        word.clear();
        in_word = false;
      }
      ++i;
      continue;
    }
    in_word = true;
    if (c == '\'') {
      size_t close = parameters.find('\'', i + 1);
      if (close == std::string_view::npos) {
        close = end;
      }
      word.append(parameters.substr(i + 1, close - i - 1));
      i = close == end ? end : close + 1;
    } else if (c == '"') {
      for (++i; i < end && parameters[i] != '"'; ++i) {
        if (parameters[i] == '\\' && i + 1 < end &&
            (parameters[i + 1] == '"' || parameters[i + 1] == '\\')) {
          ++i;
        }
        word += parameters[i];
      }
      if (i < end) {
        ++i;  // the closing quote
      }
    } else if (c == '\\' && i + 1 < end &&
               std::string_view(" \t'\"\\").find(parameters[i + 1]) != std::string_view::npos) {
      // Only where it must escape: "data\file" from a package made on a
      // system with backslash paths keeps its separator.
      word += parameters[i + 1];
      i += 2;
    } else {
      word += c;
      ++i;
    }
  }
  if (in_word) {
    words.push_back(std::move(word));
  }
  return words;
}

int StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& working_directory, pid_t* pid) {
  if (program.empty()) {
    return kStartNothing;
  }
  try {
    std::string path;
    if (const int located = LocateProgram(program, working_directory, &path); located != 0) {
      return located;
    }
    // The child changes into the working directory before it runs the
    // program, so a relative path would be taken from the wrong place.
    if (path.front() != '/') {
      const std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
      if (!current) {
        return StartErrorOf(errno);
      }
      path = JoinTo(current.get(), path);
    }
    std::vector<std::string> words;
    words.reserve(arguments.size() + 1);
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
      argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    SpawnSetup setup;
    if (int error = posix_spawn_file_actions_init(&setup.actions); error != 0) {
      return StartErrorOf(error);
    }
    setup.have_actions = true;
    // In the child only: the caller's current directory is shared by all
    // of its threads and stays as it is.
    if (!working_directory.empty()) {
      if (int error =
              posix_spawn_file_actions_addchdir_np(&setup.actions, working_directory.c_str());
          error != 0) {
        return StartErrorOf(error);
      }
    }
    if (int error = posix_spawnattr_init(&setup.attributes); error != 0) {
      return StartErrorOf(error);
    }
    setup.have_attributes = true;
    // A started program begins afresh: signals the caller blocks or
    // ignores (SIGPIPE, say) are not handed on.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = 0;
    if (int error = posix_spawn(&child, path.c_str(), &setup.actions, &setup.attributes,
                                argv.data(), environ);
        error != 0) {
      return StartErrorOf(error);
    }
    if (pid != nullptr) {
      *pid = child;
    } else {
      ReapInBackground(child);
    }
    return kStartedOk;
  } catch (const std::bad_alloc&) {
    return kStartNoMemory;
  }
}

}  // namespace qx
