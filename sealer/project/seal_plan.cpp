// The seal plan made from a project and the lines of its file list.
#include "sealer/project/seal_plan.h"

#include <sys/stat.h>

#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"

namespace qx {

namespace {

void FindSource(SealPlanItem& item) {
  struct stat info {};
  if (::stat(item.source_path.c_str(), &info) != 0) {
    return;
  }
  item.source_found = true;
  item.source_regular = S_ISREG(info.st_mode);
  item.bytes = item.source_regular ? static_cast<int64_t>(info.st_size) : 0;
  item.source_time = info.st_mtim;
}

}  // namespace

std::string LandingPageFileName(std::string_view appl_name) {
  return std::string(appl_name) + ".htm";
}

std::optional<std::string_view> ListLinePath(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  // The path follows the key's colon and blank and ends at the next ";".
  std::string_view rest = line.size() > colon + 2 ? line.substr(colon + 2) : std::string_view();
  return rest.substr(0, rest.find(kCommentMark));
}

SealPlan MakeSealPlan(const SealerProject& project, const std::vector<std::string>& file_list) {
  SealPlan plan;
  auto add = [&](SealItemKind kind, std::string text, std::string_view name) {
    SealPlanItem item;
    item.kind = kind;
    item.text = std::move(text);
    item.name = name;
    if (kind != SealItemKind::kComment) {
      if (IsSafeRelativeName(item.name)) {
        item.source_path = JoinNativePath(project.seal_from, item.name);
        item.output_path = JoinNativePath(project.put_to, item.name);
        FindSource(item);
      }
      ++plan.file_count;
      plan.total_bytes += item.bytes;
    }
    plan.items.push_back(std::move(item));
  };
  for (std::string SealerProject::*field : NamedFileFields()) {
    const std::string& name = project.*field;
    if (!name.empty()) {
      add(SealItemKind::kNamedFile, name, name);
    }
  }
  plan.items.reserve(plan.items.size() + file_list.size());
  for (const std::string& line : file_list) {
    if (!line.empty() && line.front() == kCommentMark) {
      add(SealItemKind::kComment, line, {});
      continue;
    }
    const std::string name(ListLinePath(line).value_or(std::string_view()));
    add(SealItemKind::kListLine, line, name);
  }
  return plan;
}

}  // namespace qx
