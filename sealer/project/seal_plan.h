#pragma once

// The seal plan: every item a seal run goes through, in the order their
// entries appear in the header, made once before anything is stored. The
// engine runs it; qxweb and the window read it for their progress.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/package_paths.h"
#include "sealer/project/sealer_project.h"

namespace qx {

// What a seal does with one item.
enum class SealItemKind {
  kNamedFile,  // a named file of the project, stored as it is
  kListLine,   // a file line of the list, its file stored compressed
  kComment,    // a comment line of the list, copied into the header
};

struct SealPlanItem {
  SealItemKind kind = SealItemKind::kListLine;
  // The named file's name, or the list line as it stands.
  std::string text;
  // The entry's name: the path relative to the seal-from and put-to
  // directories. Empty for a comment and for a list line that names none.
  std::string name;
  // Where the file is read from and stored to; empty unless |name| is a safe
  // relative name, which the run then refuses when it reaches the item.
  std::string source_path;
  std::string output_path;
  // The source as the plan found it: whether it was there and a regular
  // file, its size (0 unless regular) and its last-write time.
  bool source_found = false;
  bool source_regular = false;
  int64_t bytes = 0;
  timespec source_time{};
};

struct SealPlan {
  std::vector<SealPlanItem> items;
  size_t file_count = 0;    // items that store a file
  int64_t total_bytes = 0;  // their bytes
};

// Where a running seal is, given with each progress step of a stored file.
struct SealProgress {
  size_t index = 0;         // the file's place among the plan's files, from 0
  size_t count = 0;         // the plan's files
  std::string_view name;    // its entry name
  int64_t bytes = 0;        // its source's bytes
  int64_t done_bytes = 0;   // bytes of the files before it
  int64_t total_bytes = 0;  // bytes of all the plan's files
};

// The plan for |project| with the edition's fixed values (so its rules on
// named files already hold) and the lines of its file list: the named files
// in their fixed order, then the list's lines in list order.
SealPlan MakeSealPlan(const SealerProject& project, const std::vector<std::string>& file_list);

// "NAME.htm", the package's landing page in the put-to directory (its
// header is HeaderFileName's).
std::string LandingPageFileName(std::string_view appl_name);

// The relative path a file-list line names: from two characters after its
// first ":" up to the next ";". Nothing for a line without ":".
std::optional<std::string_view> ListLinePath(std::string_view line);

}  // namespace qx
