#pragma once

// The registry's application list as a list box shows it: loading it (with
// the removal of applications marked for deletion), saving the user's order,
// sweeping marked entries, and where a listed application's files lie.
// Cache layer.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/cache/cache_registry.h"
#include "core/platform/list_box.h"
#include "core/platform/user_interface.h"
#include "qxwebcore_export.h"

namespace qx {

// Capacity of CacheState's texts, terminating zero included.
inline constexpr size_t kCacheStateTextSize = 256;
// Longest prompt SweepMarkedApplications shows.
inline constexpr size_t kMaxSweepPrompt = 255;

// Results of LoadApplicationList.
inline constexpr int kApplicationListFilled = 0;
inline constexpr int kApplicationListEmpty = 1;
inline constexpr int kApplicationListNotPrepared = -1;

// What the list operations fill: the cache root and temporary directory as
// stored, ApplCount, and the name selected in the list box.
struct CacheState {
  std::string root;
  std::string temp_dir;
  int count = 0;
  std::string selected;
};

// Reads the root and temporary directory (falling back to TEMP, TMP, /tmp),
// repairs the list, and lists every application in |list_box|, asking first
// about each one marked for deletion: a confirmed one loses its directory
// and its entry, a declined one its mark. Returns kApplicationListEmpty when
// nothing is listed (the list box untouched), kApplicationListNotPrepared
// when no width table could be attached, else kApplicationListFilled with
// the first line selected.
QXWEBCORE_EXPORT int LoadApplicationList(ListBox* list_box, CacheState* state);

// Writes the list box's lines as the list, in their order, and deletes the
// list keys beyond them up to the count of the last load. Returns 1.
QXWEBCORE_EXPORT int SaveApplicationOrder(ListBox* list_box, CacheState* state);

// Asks, in boxes owned by |owner|, about each application marked for
// deletion; |prompt_format| is shown with the name in place of its first
// "%s" ("%%" shows "%", nothing else is interpreted), cut at kMaxSweepPrompt
// characters. A confirmed entry leaves the list (its files stay), a declined
// one loses its mark. Returns 1.
QXWEBCORE_EXPORT int SweepMarkedApplications(WindowHandle owner, std::string_view prompt_format,
                                             std::string_view caption);

// The temporary directory when the registry names none: $TEMP, else $TMP,
// else /tmp.
QXWEBCORE_EXPORT std::string TempDirFromEnvironment();

// The directory of a listed application: |root| joined with |name|
// ("InstallTo\ApplName", either separator, one leading separator allowed).
// Empty when |root| is empty or |name| is not a safe relative name.
QXWEBCORE_EXPORT std::string CachedApplicationDirectory(std::string_view root,
                                                        std::string_view name);

}  // namespace qx
