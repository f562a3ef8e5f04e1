// The registry's application list and a list box: loading with the removal
// of marked applications, saving the order, the sweep of marked entries, and
// the directory of an application under the cache root. Cache layer.
#include "core/cache/cache_list.h"

#include <cstdlib>

#include "core/cache/registry_names.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "core/widthlist/width_list.h"

namespace qx {

using namespace detail;  // the registry's names

namespace {

constexpr std::string_view kFallbackTempDir = "/tmp";
constexpr std::string_view kDeleteQuestion = "Do you want to delete the application?";

void KeepAtMost(std::string& text, size_t size) {
  if (text.size() >= size) {
    text.resize(size == 0 ? 0 : size - 1);
  }
}

// The application's directory when removing it stays inside the root: it
// exists and no part of it below the root is a link (a link would make the
// removal empty whatever it points to).
std::string RemovableDirectory(std::string_view root, std::string_view name) {
  const std::string directory = CachedApplicationDirectory(root, name);
  if (directory.empty()) {
    return {};
  }
  const std::string real_root = ResolvedPath(root);
  if (real_root.empty()) {
    return {};
  }
  const std::string expected = CachedApplicationDirectory(real_root, name);
  return ResolvedPath(directory) == expected ? expected : std::string();
}

// |format| with |name| in place of its first "%s" and "%%" as "%"; every
// other character, "%" included, stays as it is, so a caller's text can
// never act as a printf format.
std::string FormatPrompt(std::string_view format, std::string_view name) {
  std::string text;
  bool substituted = false;
  for (size_t i = 0; i < format.size() && text.size() < kMaxSweepPrompt; ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        text += '%';
        ++i;
        continue;
      }
      if (format[i + 1] == 's' && !substituted) {
        text += name;
        substituted = true;
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  if (text.size() > kMaxSweepPrompt) {
    text.resize(kMaxSweepPrompt);
  }
  return text;
}

MessageBoxRequest YesNoQuestion(WindowHandle owner, std::string text, std::string caption) {
  MessageBoxRequest request;
  request.owner = owner;
  request.text = std::move(text);
  request.caption = std::move(caption);
  request.icon = BoxIcon::kQuestion;
  request.buttons = BoxButtons::kYesNo;
  return request;
}

}  // namespace

std::string TempDirFromEnvironment() {
  for (const char* name : {"TEMP", "TMP"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return std::string(kFallbackTempDir);
}

std::string CachedApplicationDirectory(std::string_view root, std::string_view name) {
  if (root.empty()) {
    return {};
  }
  // With an empty install-to path the name is "\ApplName".
  if (!name.empty() && IsPathSeparator(name.front())) {
    name.remove_prefix(1);
  }
  if (!IsSafeRelativeName(name)) {
    return {};
  }
  std::string directory(root);
  if (directory.back() == '\\') {
    directory.back() = '/';
  }
  return JoinNativePath(directory, name);
}

int LoadApplicationList(ListBox* list_box, CacheState* state) {
  if (state == nullptr) {
    return kApplicationListNotPrepared;
  }
  ReadCacheString(kGeneralSection, kRootKey, kCacheStateTextSize, "", state->root);
  ReadCacheString(kGeneralSection, kTempDirKey, kCacheStateTextSize, "", state->temp_dir);
  if (state->temp_dir.empty()) {
    state->temp_dir = TempDirFromEnvironment();
    KeepAtMost(state->temp_dir, kCacheStateTextSize);
  }
  // A damaged list would hide names beyond ApplCount or show empty lines.
  state->count = RepairApplicationList();
  if (state->count == 0) {
    return kApplicationListEmpty;
  }
  if (list_box == nullptr || !WidthListCreate(*list_box)) {
    return kApplicationListNotPrepared;
  }
  std::string name;
  std::string mark;
  for (int index = 1; index <= state->count;) {
    GetApplicationName(index, &name);
    ReadDeleteCacheSetting(name, kCachedDeleteMarkSize, &mark);
    if (mark == kMarkedText) {
      const MessageBoxRequest question =
          YesNoQuestion(nullptr, std::string(kDeleteQuestion),
                        "Application \"" + name + "\" marked to be deleted");
      if (BeepAndShow(BeepKind::kSimple, question) == BoxAnswer::kYes) {
        // An unsafe name leaves the list, but its files are not touched.
        if (const std::string directory = RemovableDirectory(state->root, name);
            !directory.empty()) {
          RemoveDirectoryTree(directory, YieldToWindowSystem, true);
        }
        // On removal the next application moves into this index; when
        // another process changed the entry meanwhile, leave it.
        if (RemoveApplicationEntry(name, index, &state->count) == 0) {
          ++index;
        }
        continue;
      }
      WriteDeleteCacheSetting(name, kUnmarkedText);
    }
    WidthListAdd(*list_box, name);
    list_box->Add(name);
    ++index;
  }
  if (state->count == 0) {
    return kApplicationListEmpty;
  }
  list_box->Select(0);
  state->selected = list_box->Text(0);
  KeepAtMost(state->selected, kCacheStateTextSize);
  return kApplicationListFilled;
}

int SaveApplicationOrder(ListBox* list_box, CacheState* state) {
  if (list_box == nullptr) {
    return 1;
  }
  const int items = list_box->Count();
  for (int index = 0; index < items; ++index) {
    WriteCacheString(kGeneralSection, ListKey(index + 1), list_box->Text(index));
  }
  WriteApplCount(items);
  const int loaded = state == nullptr ? 0 : state->count;
  for (int number = items + 1; number <= loaded; ++number) {
    WriteCacheString(kGeneralSection, ListKey(number), std::nullopt);
  }
  return 1;
}

int SweepMarkedApplications(WindowHandle owner, std::string_view prompt_format,
                            std::string_view caption) {
  // Repaired first for the reason LoadApplicationList is: the renumbering
  // below relies on a whole list.
  int count = RepairApplicationList();
  std::string name;
  std::string mark;
  for (int index = 1; index <= count;) {
    GetApplicationName(index, &name);
    ReadCacheString(name, kDeleteCacheKey, kCachedDeleteMarkSize, kUnmarkedText, mark);
    if (mark == kMarkedText) {
      const MessageBoxRequest question =
          YesNoQuestion(owner, FormatPrompt(prompt_format, name), std::string(caption));
      if (CurrentUserInterface().ShowMessageBox(question) == BoxAnswer::kYes) {
        if (RemoveApplicationEntry(name, index, &count) == 0) {
          ++index;  // changed by another process meanwhile: leave it
        }
        continue;
      }
      WriteDeleteCacheSetting(name, kUnmarkedText);
    }
    ++index;
  }
  return 1;
}

}  // namespace qx
