#pragma once

// The seal-from tree walked into the file list, merged with the list's
// comment lines (Scan). Sealer engine, without a window.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/fsutil/path_text.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// One entry the walk keeps: a file, or a directory that holds at least one
// kept file, directly or below. Children are sorted by the byte values of
// their names, files and directories together.
struct ScanNode {
  std::string name;
  bool directory = false;
  std::vector<ScanNode> children;
};

// Why an entry was left out of the list; each is named to the author.
enum class LeftOutReason {
  kUnsafeName,     // a path the seal or a client would refuse (see |fault|)
  kBackslash,      // "\" in a name, which a file line reads as a separator
  kDirectoryLink,  // links into directories are never followed
  kBrokenLink,     // a link whose target does not exist
  kFifo,           // a FIFO: FIFOs, sockets and devices are never opened
  kSocket,         // a socket
  kDevice,         // a character or block device
  kNotRegular,     // any other entry that is not a regular file
  kNameTooLong,    // a listed path longer than the package header takes
};

struct LeftOutEntry {
  std::string path;  // relative to the seal-from directory, "/" between levels
  LeftOutReason reason;
  NameFault fault = NameFault::kNone;
  bool directory = false;  // left out with everything below it
  size_t longest = 0;      // kNameTooLong: the longest name the entry would take
};

// What one walk gathers besides the tree.
struct WalkContext {
  // Names skipped in the seal-from directory itself (the named files).
  std::vector<std::string> named_files;
  int32_t directory_count = 0;
  std::vector<LeftOutEntry> left_out;
  // The directory (relative, "" for the top) that could not be opened, when
  // that failed the walk.
  std::optional<std::string> unreadable;
};

inline constexpr int kWalkFailed = -1;

// Walks the open directory |directory_fd| (closed on return), which lies at
// |relative| below the seal-from directory ("" for the top), filling
// |siblings| sorted by name. Returns the number of files kept below it, or
// kWalkFailed: a directory that cannot be opened (named in the context's
// |unreadable|) fails the walk rather than lose its entries. Links into
// directories are never followed; FIFOs, sockets and devices are left out;
// a name the seal or a client would refuse, or a path longer than the
// package header takes for the file's size (LongestEntryName), is left
// out, a directory with all below it.
int64_t WalkDirectory(int directory_fd, const std::string& relative,
                      std::vector<ScanNode>& siblings, WalkContext& context);

// The text of a file line for |path| ("\" between levels).
std::string FileLine(std::string_view path);

// Orders relative paths as the walk orders them: level by level, each level
// by the byte values of its name ("\" and "/" both separate levels).
int CompareListPaths(std::string_view a, std::string_view b);

enum class MergeResult { kFound, kNotFound, kCorrupt };

// The old file list during a merge: its lines are consumed from the top as
// the build moves on, so the whole merge is linear in the list's length.
class FileListMerge {
 public:
  explicit FileListMerge(std::vector<std::string> old_lines) : lines_(std::move(old_lines)) {}

  // Looks |path| up among the old lines. Stale entries before it and their
  // comment lines are dropped; when found, the entry is dropped and the
  // comment lines before it move to the end of |work|.
  MergeResult Lookup(std::string_view path, std::vector<std::string>& work);

 private:
  std::vector<std::string> lines_;
  size_t top_ = 0;           // lines before it are consumed
  size_t comments_end_ = 0;  // lines from top_ up to it are comment lines
};

inline MergeResult MergeLookup(FileListMerge& merge, std::string_view path,
                               std::vector<std::string>& work) {
  return merge.Lookup(path, work);
}

// Appends the file lines of |siblings| (paths start with |prefix|) to |work|,
// depth-first. With |merge| each file is looked up first and keeps the
// comment lines before its old line; false when an old line is corrupt.
bool BuildFileList(const std::vector<ScanNode>& siblings, std::string& prefix, FileListMerge* merge,
                   std::vector<std::string>& work);

}  // namespace qx
