// The cache's changes as transactions: copies of the registry and the
// registration taken first, a journal that names the directories, the
// switch, the records, and the way back from any point. Client.
#include "client/cache_transaction.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <map>

#include "client/cache_area.h"
#include "core/cache/cache_registry.h"
#include "core/platform/config_directory.h"
#include "core/platform/file_handle.h"
#include "core/platform/registry_store.h"
#include "core/platform/replacing_file.h"

namespace qx {

namespace {

constexpr std::string_view kJournalName = "qxweb.journal";
constexpr std::string_view kJournalMagic = "qxweb journal 1";
constexpr std::string_view kUndoSuffix = ".undo";
constexpr std::string_view kPrepared = "prepared";
constexpr std::string_view kCommitted = "committed";
constexpr std::string_view kPresent = "present";
constexpr std::string_view kAbsent = "absent";

// The files a change of the records may touch, copied before the switch.
std::array<std::string, 2> RecordFiles() {
  return {CacheFilePath(), RegistryStore().path()};
}

std::string JournalPath() {
  const std::string directory = ConfigDirectory();
  return directory.empty() ? std::string() : directory + std::string(kJournalName);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

// The whole file, or nullopt when it cannot be read; |missing| tells a file
// that is not there.
std::optional<std::string> ReadWhole(const std::string& path, bool* missing) {
  *missing = false;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *missing = errno == ENOENT;
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  for (size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
    bytes.append(buffer, got);
  }
  return std::ferror(file.get()) ? std::nullopt : std::optional<std::string>(std::move(bytes));
}

// Replaces the file at |path| (the file a link there names) with |bytes|,
// synced, in one rename.
bool WriteWhole(const std::string& path, std::string_view bytes) {
  std::string target = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
      return false;
    }
    target = real.get();
  }
  ReplacingFile file(target);
  return file.Open() != nullptr &&
         std::fwrite(bytes.data(), 1, bytes.size(), file.file()) == bytes.size() &&
         file.Commit(true);
}

struct Journal {
  std::string state;
  CacheSwitch change;
  std::string incoming_id;              // device and inode of the staged new version
  std::map<std::string, bool> present;  // record file -> it existed before

  std::string Text() const {
    std::string text = std::string(kJournalMagic) + "\n";
    const auto line = [&text](std::string_view key, std::string_view value) {
      text.append(key).append("=").append(value).append("\n");
    };
    line("state", state);
    line("root", change.root);
    line("package", change.package_directory);
    line("incoming", change.incoming);
    line("aside", change.aside);
    line("incoming-id", incoming_id);
    for (const auto& [file, there] : present) {
      line("file", std::string(there ? kPresent : kAbsent) + " " + file);
    }
    return text;
  }

  bool Parse(std::string_view text) {
    if (text.substr(0, kJournalMagic.size() + 1) != std::string(kJournalMagic) + "\n") {
      return false;
    }
    text.remove_prefix(kJournalMagic.size() + 1);
    std::map<std::string_view, std::string*> fields = {{"state", &state},
                                                       {"root", &change.root},
                                                       {"package", &change.package_directory},
                                                       {"incoming", &change.incoming},
                                                       {"aside", &change.aside},
                                                       {"incoming-id", &incoming_id}};
    while (!text.empty()) {
      const size_t end = text.find('\n');
      if (end == std::string_view::npos) {
        return false;
      }
      const std::string_view line = text.substr(0, end);
      text.remove_prefix(end + 1);
      const size_t equals = line.find('=');
      if (equals == std::string_view::npos) {
        return false;
      }
      const std::string_view key = line.substr(0, equals);
      const std::string_view value = line.substr(equals + 1);
      if (key == "file") {
        const size_t blank = value.find(' ');
        if (blank == std::string_view::npos) {
          return false;
        }
        present[std::string(value.substr(blank + 1))] = value.substr(0, blank) == kPresent;
      } else if (const auto field = fields.find(key); field != fields.end()) {
        field->second->assign(value);
      }
    }
    return state == kPrepared || state == kCommitted;
  }
};

bool WriteJournal(const Journal& journal) {
  const std::string text = journal.Text();
  // A line break in a path would make another journal of it.
  for (const std::string* path : {&journal.change.root, &journal.change.package_directory,
                                  &journal.change.incoming, &journal.change.aside}) {
    if (path->find('\n') != std::string::npos) {
      errno = EINVAL;
      return false;
    }
  }
  return WriteWhole(JournalPath(), text);
}

std::string UndoPath(const std::string& file) {
  return file + std::string(kUndoSuffix);
}

void DropJournal(const Journal& journal) {
  for (const auto& [file, there] : journal.present) {
    ::unlink(UndoPath(file).c_str());
  }
  ::unlink(JournalPath().c_str());
}

// After the change was recorded: the earlier version goes, and so do the
// directories a removal left empty.
void Finish(const Journal& journal) {
  const CacheSwitch& change = journal.change;
  RemoveWithoutFollowing(change.incoming);
  RemoveWithoutFollowing(change.aside);
  if (!Exists(change.package_directory)) {
    PruneEmptyParents(change.root, change.package_directory);
  }
  DropJournal(journal);
}

// Puts the earlier version back, wherever the switch stopped, and the
// records as they were copied. Empty on success, else the reason.
std::string Undo(const Journal& journal) {
  const CacheSwitch& change = journal.change;
  const std::string& directory = change.package_directory;
  const bool new_in_place = !change.incoming.empty() && !journal.incoming_id.empty() &&
                            FileIdOf(directory) == journal.incoming_id;
  bool moved = true;
  if (new_in_place) {
    if (Exists(change.incoming)) {
      // Exchanged: the earlier version waits where the new one was staged.
      moved = ::renameat2(AT_FDCWD, change.incoming.c_str(), AT_FDCWD, directory.c_str(),
                          RENAME_EXCHANGE) == 0;
    } else if (Exists(change.aside)) {
      moved = ::rename(directory.c_str(), change.incoming.c_str()) == 0 &&
              ::rename(change.aside.c_str(), directory.c_str()) == 0;
    } else {
      moved = ::rename(directory.c_str(), change.incoming.c_str()) == 0;
    }
  } else if (!Exists(directory) && Exists(change.aside)) {
    moved = ::rename(change.aside.c_str(), directory.c_str()) == 0;
  }
  if (!moved) {
    return "cannot put the earlier version of " + directory + " back: " + std::strerror(errno);
  }
  RemoveWithoutFollowing(change.incoming);
  RemoveWithoutFollowing(change.aside);
  for (const auto& [file, there] : journal.present) {
    bool missing = false;
    const std::optional<std::string> copy =
        there ? ReadWhole(UndoPath(file), &missing) : std::optional<std::string>();
    const bool restored =
        there ? copy && WriteWhole(file, *copy) : ::unlink(file.c_str()) == 0 || errno == ENOENT;
    if (!restored) {
      return "cannot put " + file + " back as it was: " + std::strerror(errno);
    }
  }
  if (!Exists(directory)) {
    PruneEmptyParents(change.root, directory);
  }
  DropJournal(journal);
  return {};
}

bool Switch(const CacheSwitch& change, bool had_old) {
  const char* directory = change.package_directory.c_str();
  if (change.incoming.empty()) {
    return !had_old || ::rename(directory, change.aside.c_str()) == 0;
  }
  if (!had_old) {
    return ::rename(change.incoming.c_str(), directory) == 0;
  }
  if (::renameat2(AT_FDCWD, change.incoming.c_str(), AT_FDCWD, directory, RENAME_EXCHANGE) == 0) {
    return true;
  }
  // A file system without the exchange: the earlier version moves aside
  // first, and for a moment the place is empty; the journal covers it.
  return (errno == EINVAL || errno == ENOSYS) && ::rename(directory, change.aside.c_str()) == 0 &&
         ::rename(change.incoming.c_str(), directory) == 0;
}

// The process id in a record file's temporary name, "qxweb.ini.~PID-N", or 0.
pid_t WriterOf(std::string_view name, std::string_view base) {
  const std::string prefix = std::string(base) + ".~";
  if (name.substr(0, prefix.size()) != prefix) {
    return 0;
  }
  name.remove_prefix(prefix.size());
  const size_t dash = name.find('-');
  const std::string_view digits = name.substr(0, dash);
  if (dash == std::string_view::npos || digits.empty() ||
      digits.find_first_not_of("0123456789") != std::string_view::npos || digits.size() > 9) {
    return 0;
  }
  return static_cast<pid_t>(std::stol(std::string(digits)));
}

}  // namespace

void RemoveAbandonedRecordFiles() {
  const std::string directory = ConfigDirectory();
  std::vector<std::string> bases;
  for (const std::string& file : RecordFiles()) {
    bases.push_back(file.substr(file.rfind('/') + 1));
  }
  // Written only under the lock, so any left now belongs to nobody; copies
  // without a journal were made by a command killed before it wrote one.
  std::vector<std::string> ours = {"." + std::string(kJournalName) + "."};
  for (const std::string& base : bases) {
    ours.push_back("." + base + std::string(kUndoSuffix) + ".");
  }
  if (!Exists(JournalPath())) {
    for (const std::string& file : RecordFiles()) {
      ::unlink(UndoPath(file).c_str());
    }
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
  for (const dirent* entry = nullptr; dir && (entry = ::readdir(dir.get())) != nullptr;) {
    const std::string_view name = entry->d_name;
    bool abandoned = false;
    for (const std::string& prefix : ours) {
      abandoned = abandoned || name.substr(0, prefix.size()) == prefix;
    }
    for (const std::string& base : bases) {
      const pid_t writer = WriterOf(name, base);
      abandoned = abandoned || (writer > 0 && ::kill(writer, 0) != 0 && errno == ESRCH);
    }
    if (abandoned) {
      ::unlink((directory + std::string(name)).c_str());
    }
  }
}

std::vector<std::string> CommitSwitch(const CacheSwitch& change, const RecordWriter& write_records,
                                      bool* replaced) {
  std::vector<std::string> problems;
  Journal journal;
  journal.state = kPrepared;
  journal.change = change;
  journal.incoming_id = FileIdOf(change.incoming);
  for (const std::string& file : RecordFiles()) {
    bool missing = false;
    const std::optional<std::string> bytes = ReadWhole(file, &missing);
    if (file.empty() || (!bytes && !missing) || (bytes && !WriteWhole(UndoPath(file), *bytes))) {
      problems.push_back("cannot keep a copy of " + file + ": " + std::strerror(errno));
      DropJournal(journal);
      return problems;
    }
    journal.present[file] = bytes.has_value();
  }
  if (JournalPath().empty() || !WriteJournal(journal)) {
    problems.push_back("cannot write the journal " + JournalPath() + ": " + std::strerror(errno));
    DropJournal(journal);
    return problems;
  }
  const bool had_old = Exists(change.package_directory);
  // The way to a new place is made only now, so that a command killed
  // while it makes it leaves a journal whose undo takes it away again.
  std::string no_way;
  if (!change.incoming.empty()) {
    no_way = MakeParentDirectories(change.root, change.package_directory);
  }
  if (!no_way.empty()) {
    problems.push_back(std::move(no_way));
  } else if (!Switch(change, had_old)) {
    problems.push_back("cannot move the package into " + change.package_directory + ": " +
                       std::strerror(errno));
  } else {
    write_records(problems);
  }
  if (problems.empty()) {
    journal.state = kCommitted;
    if (!WriteJournal(journal)) {
      problems.push_back("cannot write the journal " + JournalPath() + ": " + std::strerror(errno));
    }
  }
  if (!problems.empty()) {
    journal.state = kPrepared;
    if (const std::string undone = Undo(journal); !undone.empty()) {
      problems.push_back(undone);
    }
    return problems;
  }
  Finish(journal);
  if (replaced != nullptr) {
    *replaced = had_old;
  }
  return problems;
}

std::string RecoverInterruptedSwitch() {
  const std::string path = JournalPath();
  bool missing = false;
  const std::optional<std::string> text = path.empty() ? std::nullopt : ReadWhole(path, &missing);
  if (!text) {
    return missing || path.empty()
               ? std::string()
               : "cannot read the journal " + path + ": " + std::strerror(errno);
  }
  Journal journal;
  if (!journal.Parse(*text)) {
    return "the journal " + path + " cannot be read; the change it records was left as it is";
  }
  if (journal.state == kCommitted) {
    Finish(journal);
    return {};
  }
  return Undo(journal);
}

}  // namespace qx
