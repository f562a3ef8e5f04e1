// The scan: the seal-from walk, the merge with the old list and the text
// that names what was left out. Sealer engine, without a window.
#include "sealer/project/source_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "sealer/project/entry_fit.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_messages.h"

namespace qx {
namespace {

// A file line's path starts after "File: ".
constexpr size_t kLinePathStart = 6;
// The left-out box names at most this many entries, then says how many more.
constexpr size_t kLeftOutShown = 20;
constexpr char kRecreateListQuestion[] = "Recreate Tarnwick Web file?";

bool IsCommentLine(std::string_view line) {
  return !line.empty() && line.front() == kCommentMark;
}

// A separator ranks below every byte a listable name can hold, so that a
// directory's entries sort where the directory's name sorts among its
// siblings, as the walk puts them.
unsigned PathRank(char c) {
  return c == '\\' || c == '/' ? 0u : static_cast<unsigned char>(c) + 1u;
}

// What a directory entry is, links resolved as the scan treats them.
enum class EntryKind {
  kFile,
  kDirectory,
  kDirectoryLink,
  kBrokenLink,
  kFifo,
  kSocket,
  kDevice,
  kOther,
  kGone,  // removed since it was listed
};

EntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) {
    return EntryKind::kFile;
  }
  if (S_ISDIR(mode)) {
    return EntryKind::kDirectory;
  }
  if (S_ISFIFO(mode)) {
    return EntryKind::kFifo;
  }
  if (S_ISSOCK(mode)) {
    return EntryKind::kSocket;
  }
  return S_ISCHR(mode) || S_ISBLK(mode) ? EntryKind::kDevice : EntryKind::kOther;
}

EntryKind KindOfEntry(int directory_fd, const dirent& entry) {
  unsigned char type = entry.d_type;
  struct stat info;
  if (type == DT_UNKNOWN) {
    if (fstatat(directory_fd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return EntryKind::kGone;
    }
    if (!S_ISLNK(info.st_mode)) {
      return KindOfMode(info.st_mode);
    }
    type = DT_LNK;
  }
  switch (type) {
    case DT_REG:
      return EntryKind::kFile;
    case DT_DIR:
      return EntryKind::kDirectory;
    case DT_LNK:
      // A link to a file is sealed as that file; the seal opens it by name.
      if (fstatat(directory_fd, entry.d_name, &info, 0) != 0) {
        return EntryKind::kBrokenLink;
      }
      if (S_ISDIR(info.st_mode)) {
        return EntryKind::kDirectoryLink;
      }
      return KindOfMode(info.st_mode);
    case DT_FIFO:
      return EntryKind::kFifo;
    case DT_SOCK:
      return EntryKind::kSocket;
    case DT_CHR:
    case DT_BLK:
      return EntryKind::kDevice;
    default:
      return EntryKind::kOther;
  }
}

std::string JoinRelative(const std::string& relative, std::string_view name) {
  std::string path = relative;
  if (!path.empty()) {
    path += '/';
  }
  path += name;
  return path;
}

void LeaveOut(WalkContext& context, std::string path, LeftOutReason reason) {
  context.left_out.push_back({std::move(path), reason});
}

std::string ReasonText(const LeftOutEntry& entry) {
  switch (entry.reason) {
    case LeftOutReason::kUnsafeName:
      return std::string("unsafe name: ") + NameFaultText(entry.fault);
    case LeftOutReason::kBackslash:
      return "the name holds \\";
    case LeftOutReason::kDirectoryLink:
      return "a link to a directory, not followed";
    case LeftOutReason::kBrokenLink:
      return "a link to nothing";
    case LeftOutReason::kFifo:
      return "a FIFO, not a regular file";
    case LeftOutReason::kSocket:
      return "a socket, not a regular file";
    case LeftOutReason::kDevice:
      return "a device, not a regular file";
    case LeftOutReason::kNotRegular:
      return "not a regular file";
    case LeftOutReason::kNameTooLong:
      return "name too long for the package header (at most " + std::to_string(entry.longest) +
             " bytes)";
  }
  return "";
}

// Leaves out an entry whose path the seal or a client would refuse; false
// for a path that may be listed. The whole path is checked, as the seal and
// the reader check it.
bool LeaveOutUnsafe(WalkContext& context, std::string_view name, const std::string& path,
                    bool directory) {
  // "/" cannot stand in a name here, and "\" would be a separator in a line.
  if (name.find('\\') != std::string_view::npos) {
    context.left_out.push_back({path, LeftOutReason::kBackslash, NameFault::kNone, directory});
    return true;
  }
  const NameFault fault = CheckRelativeName(path);
  if (fault == NameFault::kNone) {
    return false;
  }
  context.left_out.push_back({path, LeftOutReason::kUnsafeName, fault, directory});
  return true;
}

// Leaves out a file whose listed path the package header cannot take
// whole, or a directory whose own path, with the "\" after it, leaves no
// room for a name below it even for an empty file; false for a path that
// fits. Only a path longer than any file's entry takes costs a stat: the
// room left depends on the digits of the file's size.
bool LeaveOutTooLong(WalkContext& context, int directory_fd, std::string_view name,
                     const std::string& path, bool directory) {
  if (path.size() + (directory ? 1 : 0) <= LongestListEntryName()) {
    return false;
  }
  size_t longest = 0;
  if (directory) {
    longest = LongestEntryName(kListEntryVersion, WorstStoredLength(0), 0);
    if (path.size() + 1 < longest) {
      return false;
    }
  } else {
    struct stat info;
    const std::string entry_name(name);
    if (fstatat(directory_fd, entry_name.c_str(), &info, 0) != 0) {
      return false;  // the seal says what became of it
    }
    longest = LongestEntryName(kListEntryVersion, WorstStoredLength(info.st_size), info.st_size);
    if (path.size() <= longest) {
      return false;
    }
  }
  context.left_out.push_back(
      {path, LeftOutReason::kNameTooLong, NameFault::kNone, directory, longest});
  return true;
}

// Why an entry of |kind|, which the scan never opens, is left out.
LeftOutReason UnopenedReason(EntryKind kind) {
  switch (kind) {
    case EntryKind::kDirectoryLink:
      return LeftOutReason::kDirectoryLink;
    case EntryKind::kBrokenLink:
      return LeftOutReason::kBrokenLink;
    case EntryKind::kFifo:
      return LeftOutReason::kFifo;
    case EntryKind::kSocket:
      return LeftOutReason::kSocket;
    case EntryKind::kDevice:
      return LeftOutReason::kDevice;
    default:
      return LeftOutReason::kNotRegular;
  }
}

// A line a merge can read: a comment line, or a file line whose path ends
// in ";".
bool IsSoundLine(std::string_view line) {
  return IsCommentLine(line) || line.find(';', kLinePathStart) != std::string_view::npos;
}

// How the new list is built: from the tree alone, merged with the old list,
// or merged with what is left of the old list without its corrupt lines.
enum class BuildMode { kFresh, kMerge, kRecreate };

// Builds the new list from |tree| in |mode|. False when an old line is
// corrupt (kMerge only).
bool BuildFrom(const std::vector<ScanNode>& tree, const std::vector<std::string>& old_lines,
               BuildMode mode, std::vector<std::string>& work) {
  work.clear();
  std::string prefix;
  if (mode == BuildMode::kFresh) {
    return BuildFileList(tree, prefix, nullptr, work);
  }
  std::vector<std::string> lines = old_lines;
  if (mode == BuildMode::kRecreate) {
    // The comment lines before a corrupt line go with the next entry.
    std::erase_if(lines, [](const std::string& line) { return !IsSoundLine(line); });
  }
  FileListMerge old_list(std::move(lines));
  return BuildFileList(tree, prefix, &old_list, work);
}

}  // namespace

std::string FileLine(std::string_view path) {
  std::string line;
  line.reserve(kLinePathStart + path.size() + 1);
  line += kFileKey;
  line += ": ";
  line += path;
  line += ';';
  return line;
}

int CompareListPaths(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned rank_a = PathRank(a[i]);
    const unsigned rank_b = PathRank(b[i]);
    if (rank_a != rank_b) {
      return rank_a < rank_b ? -1 : 1;
    }
  }
  if (a.size() == b.size()) {
    return 0;
  }
  return a.size() < b.size() ? -1 : 1;
}

MergeResult FileListMerge::Lookup(std::string_view path, std::vector<std::string>& work) {
  for (;;) {
    size_t entry = std::max(top_, comments_end_);
    while (entry < lines_.size() && IsCommentLine(lines_[entry])) {
      ++entry;
    }
    comments_end_ = entry;
    if (entry == lines_.size()) {
      return MergeResult::kNotFound;
    }
    const std::string_view line = lines_[entry];
    if (!IsSoundLine(line)) {
      return MergeResult::kCorrupt;
    }
    const size_t end = line.find(';', kLinePathStart);
    const int order = CompareListPaths(path, line.substr(kLinePathStart, end - kLinePathStart));
    if (order < 0) {
      return MergeResult::kNotFound;
    }
    if (order == 0) {
      // The comment lines before the entry go with it into the new list.
      for (size_t i = top_; i < entry; ++i) {
        work.push_back(std::move(lines_[i]));
      }
      top_ = entry + 1;
      return MergeResult::kFound;
    }
    // The entry's file is gone: drop it with the comment lines before it.
    top_ = entry + 1;
  }
}

bool BuildFileList(const std::vector<ScanNode>& siblings, std::string& prefix, FileListMerge* merge,
                   std::vector<std::string>& work) {
  for (const ScanNode& node : siblings) {
    const size_t mark = prefix.size();
    prefix += node.name;
    bool built = true;
    if (node.directory) {
      prefix += '\\';
      built = BuildFileList(node.children, prefix, merge, work);
    } else if (merge != nullptr && merge->Lookup(prefix, work) == MergeResult::kCorrupt) {
      built = false;
    } else {
      work.push_back(FileLine(prefix));
    }
    prefix.resize(mark);
    if (!built) {
      return false;
    }
  }
  return true;
}

int64_t WalkDirectory(int directory_fd, const std::string& relative,
                      std::vector<ScanNode>& siblings, WalkContext& context) {
  DirPtr dir(fdopendir(directory_fd));
  if (!dir) {
    close(directory_fd);
    context.unreadable = relative;
    return kWalkFailed;
  }
  const bool top = relative.empty();
  int64_t files = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) {
        return kWalkFailed;
      }
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    // Named files are sealed on their own, and only from the top directory.
    // Names compare case-sensitively, as this platform's file system does.
    if (top && std::find(context.named_files.begin(), context.named_files.end(), name) !=
                   context.named_files.end()) {
      continue;
    }
    const EntryKind kind = KindOfEntry(dirfd(dir.get()), *entry);
    if (kind == EntryKind::kGone) {
      continue;
    }
    if (kind != EntryKind::kFile && kind != EntryKind::kDirectory) {
      LeaveOut(context, JoinRelative(relative, name), UnopenedReason(kind));
      continue;
    }
    std::string path = JoinRelative(relative, name);
    const bool directory = kind == EntryKind::kDirectory;
    if (LeaveOutUnsafe(context, name, path, directory) ||
        LeaveOutTooLong(context, dirfd(dir.get()), name, path, directory)) {
      continue;
    }
    if (kind == EntryKind::kFile) {
      siblings.push_back({std::string(name), false, {}});
      ++files;
      continue;
    }
    // O_NOFOLLOW: a directory swapped for a link since it was listed is not entered.
    const int child_fd =
        openat(dirfd(dir.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child_fd < 0) {
      if (errno == ENOENT) {
        continue;  // gone since it was listed
      }
      // Its entries and their comment lines must not drop out of the list.
      context.unreadable = std::move(path);
      return kWalkFailed;
    }
    ScanNode node{std::string(name), true, {}};
    const int64_t below = WalkDirectory(child_fd, path, node.children, context);
    if (below == kWalkFailed) {
      return kWalkFailed;
    }
    if (below > 0) {
      files += below;
      ++context.directory_count;
      siblings.push_back(std::move(node));
    }
  }
  // Sorted once per directory; std::string compares unsigned bytes, so upper
  // case comes before lower case.
  std::sort(siblings.begin(), siblings.end(),
            [](const ScanNode& a, const ScanNode& b) { return a.name < b.name; });
  return files;
}

// The text of the one box that names what the scan left out.
SealAnswers AskScanQuestions(const Project& project, SealObserver& observer) {
  // Only a merge reads the old lines.
  const SealerProject& record = project.record;
  SealAnswers answers;
  if (!record.prev_seal_from.empty() && record.prev_seal_from == record.seal_from &&
      !std::all_of(project.file_list.begin(), project.file_list.end(), IsSoundLine)) {
    answers.recreate_list = observer.Ask(SealQuestion::kRecreateList, kRecreateListQuestion);
  }
  return answers;
}

std::string LeftOutMessage(const std::vector<LeftOutEntry>& left_out) {
  std::string text = "These files were left out of the file list:\n";
  const size_t shown = std::min(left_out.size(), kLeftOutShown);
  for (size_t i = 0; i < shown; ++i) {
    // Control characters would garble the box.
    std::string path = PrintableText(left_out[i].path);
    if (left_out[i].directory) {
      path += '/';
    }
    text += path;
    text += " (";
    text += ReasonText(left_out[i]);
    text += ")\n";
  }
  if (left_out.size() > shown) {
    text += "... and " + std::to_string(left_out.size() - shown) + " more\n";
  }
  text.pop_back();
  return text;
}

Result<ScanOutcome> Scan(const Project& project, SealObserver& observer) {
  const SealerProject& record = project.record;
  if (record.seal_from.empty()) {
    return Error{kSealFieldMissing, {}, "SealFrom"};
  }
  if (record.put_to.empty()) {
    return Error{kSealFieldMissing, {}, "PutTo"};
  }

  // A seal-from directory that cannot be read fails the scan: an empty list
  // in its place would throw away the list and its comment lines.
  const int top_fd = open(record.seal_from.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (top_fd < 0) {
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    return Error{kSealFieldInvalid,
                 missing ? "Directory " + record.seal_from + " does not exist"
                         : "Unable to read directory " + record.seal_from,
                 "SealFrom"};
  }

  WalkContext context;
  for (std::string SealerProject::*field : NamedFileFields()) {
    if (!(record.*field).empty()) {
      context.named_files.push_back(record.*field);
    }
  }
  ScanOutcome outcome;
  std::vector<ScanNode> tree;
  int64_t file_count = 0;
  try {
    file_count = WalkDirectory(top_fd, "", tree, context);
    if (file_count == kWalkFailed) {
      if (context.unreadable) {
        const std::string& relative = *context.unreadable;
        const std::string directory =
            relative.empty() ? record.seal_from : JoinNativePath(record.seal_from, relative);
        return Error{kSealNotice, "Unable to read directory " + directory, directory};
      }
      return SealFailure("Error in getting file list", record.seal_from);
    }
    // Paths on this platform compare case-sensitively.
    const bool merge = !record.prev_seal_from.empty() && record.prev_seal_from == record.seal_from;
    if (!BuildFrom(tree, project.file_list, merge ? BuildMode::kMerge : BuildMode::kFresh,
                   outcome.file_list)) {
      // Either way the list is built whole rather than cut at the corrupt
      // line, so that no file is left out of the seal: Yes keeps the comment
      // lines of the sound entries, No drops them all.
      const bool recreate = observer.Ask(SealQuestion::kRecreateList, kRecreateListQuestion);
      BuildFrom(tree, project.file_list, recreate ? BuildMode::kRecreate : BuildMode::kFresh,
                outcome.file_list);
    }
  } catch (const std::bad_alloc&) {
    return Error{kSealNotice, "Out of memory", {}};
  }
  outcome.file_count =
      static_cast<int32_t>(std::min<int64_t>(file_count, std::numeric_limits<int32_t>::max()));
  outcome.directory_count = context.directory_count;
  outcome.left_out = std::move(context.left_out);
  std::sort(outcome.left_out.begin(), outcome.left_out.end(),
            [](const LeftOutEntry& a, const LeftOutEntry& b) { return a.path < b.path; });
  return outcome;
}

}  // namespace qx
