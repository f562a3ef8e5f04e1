#pragma once

// Directory trees: making a path level by level, testing for a directory, and
// listing, sizing and removing trees without following links. File-system
// utility layer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

// Directories and trees. A "\" in a path text counts as a separator just like
// "/" and reaches the file system as "/". Walking a tree never follows a
// symbolic link found inside it: a link is listed, counted and removed as the
// link itself, so nothing outside the tree is ever touched.
namespace qx {

// Result of ListDirectoryTree and GetDirectoryTreeSize when a listing failed.
inline constexpr int kTreeFailed = -1;
inline constexpr int kTreeOk = 0;
// The code RemoveDirectoryTree passes to its callback.
inline constexpr int kTreeCallbackCode = 0;

// Called with kTreeCallbackCode and the path of each sub-directory before
// RemoveDirectoryTree empties it; returns true to go on, false to stop.
using TreeCallback = std::function<bool(int code, std::string_view path)>;

// Creates every missing directory along |path|, level by level. On failure
// returns false and leaves |path| cut before the separator that follows the
// directory that could not be made, so it names that directory.
QXWEBCORE_EXPORT bool CreateDirectoryPath(std::string& path);

// True when |path| is a directory that can be listed.
QXWEBCORE_EXPORT bool DirectoryExists(std::string_view path);

// Flushes the file system that holds |directory|, so that files written
// there are on disk before they are renamed into place.
void SyncFileSystem(const std::string& directory);

// |path| as the file system names it: absolute, every link and "." or ".."
// resolved. Empty, with errno set, when a part of it does not exist or
// cannot be looked at.
QXWEBCORE_EXPORT std::string ResolvedPath(std::string_view path);

// True when |inner| is the directory |outer| or lies inside it, as the file
// system sees them: "d/.", "d//" and a link to d are all d. A part of |inner|
// that does not exist yet counts where its nearest existing ancestor is.
// False when |outer| is not an existing directory.
QXWEBCORE_EXPORT bool IsSameOrInsideDirectory(std::string_view inner, std::string_view outer);

// Appends the tree under |directory| to |list| at |offset|, one zero-ended
// text per entry: a file's name; for a sub-directory "{" and its name, the
// texts of its contents, then "}" and its name. |list| grows as needed and
// |offset| ends behind the last text. Adds one to |subdirectory_count| per
// sub-directory and every file's size to |total_size|. Returns the number of
// files in the tree, or kTreeFailed when a directory of the tree could not be
// listed completely.
QXWEBCORE_EXPORT int ListDirectoryTree(std::string_view directory, std::string& list,
                                       size_t& offset, int& subdirectory_count,
                                       uint64_t& total_size);

// Adds the size of every file in the tree under |directory| to |total_size|.
// A directory that cannot be opened adds nothing. Returns kTreeOk, or
// kTreeFailed when a listing broke off (the walk stops there).
QXWEBCORE_EXPORT int GetDirectoryTreeSize(std::string_view directory, uint64_t& total_size);

// Deletes everything in |directory|, and the directory itself when
// |remove_self| is set. |callback| (may be empty) is asked before each
// sub-directory is entered. Returns false at the first entry that cannot be
// removed or when the callback stops it; the rest of the tree stays.
QXWEBCORE_EXPORT bool RemoveDirectoryTree(std::string_view directory, const TreeCallback& callback,
                                          bool remove_self);

// A TreeCallback that lets the window system deliver pending events during a
// long removal; always goes on.
QXWEBCORE_EXPORT bool YieldToWindowSystem(int code, std::string_view path);

}  // namespace qx
