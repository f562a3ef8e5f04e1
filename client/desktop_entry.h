#pragma once

// The desktop menu entry of a cached application: a desktop entry file in
// the user's applications directory that starts it through qxweb, its icon
// beside the client's data, and the escaping both levels of an entry's
// values need. Only files that carry the client's marker are ever replaced
// or deleted. Client.

#include <string>
#include <string_view>
#include <vector>

namespace qx {

// The first part of every entry's file name and of its icon's.
inline constexpr std::string_view kDesktopEntryPrefix = "tarnwick-app-";
// The key by which an entry names the cached application it starts; a file
// without it is not the client's own.
inline constexpr std::string_view kDesktopEntryMarkerKey = "X-Tarnwick-Cache-Name";
// General/DesktopEntries=No in qxweb.ini: installs write no menu entries.
inline constexpr std::string_view kDesktopEntriesKey = "DesktopEntries";

// The entry's name without ".desktop" (its icon's too) for the cache name
// |cache_name|: the prefix, then the name with ASCII letters folded to lower
// case (the cache compares names so), lower-case letters and digits kept and
// every other byte written "_xx" in lower-case hex. A name whose text would
// be too long for a file name keeps its first part and ends in "-" and the
// SHA-256 of the folded name.
std::string DesktopEntryId(std::string_view cache_name);

// $XDG_DATA_HOME/applications, else $HOME/.local/share/applications; empty
// when neither variable holds an absolute path.
std::string ApplicationsDirectory();
// Where the entry of |cache_name| goes; empty as ApplicationsDirectory.
std::string DesktopEntryPath(std::string_view cache_name);
// $XDG_DATA_HOME/tarnwick/icons (or under $HOME as above); empty likewise.
std::string DesktopIconDirectory();

// |text| as a string value: "\", line feed, tab and carriage return escaped,
// and a leading space written "\s".
std::string EscapeDesktopString(std::string_view text);
// One argument as the Exec key's quoting writes it: in double quotes, with
// '"', '`', '$' and '\' escaped, when it holds a reserved character; every
// '%' doubled.
std::string QuoteExecArgument(std::string_view argument);
// The Exec value of |arguments| as it stands in the file: the quoted
// arguments joined by spaces, then escaped as a string value.
std::string DesktopExecValue(const std::vector<std::string>& arguments);

// The image formats a menu can show from a file.
enum class IconFormat { kNone, kPng, kXpm };
// The format |bytes| hold by their first bytes; kNone for anything else.
IconFormat IconFormatOf(std::string_view bytes);

// The qxweb program that menu entries start: set by SetClientLauncherPath,
// else qxweb beside this program (the build tree, and PREFIX/bin when
// installed), else the one the installed helper under PREFIX/libexec/qxweb
// belongs to, else the one in the build tree's tools/qxweb for a program one
// level below the build directory. Empty when none is an executable file.
std::string ClientLauncherPath();
// Makes ClientLauncherPath return |path| (an absolute path); empty goes back
// to looking it up.
void SetClientLauncherPath(std::string path);

// Whether qxweb.ini lets installs write menu entries (General/DesktopEntries).
bool DesktopEntriesWanted();

// What an entry says of its application.
struct DesktopEntryFields {
  std::string cache_name;  // the registry name, "InstallTo\ApplName"
  std::string appl_name;
  std::string version;
  std::string owner;
  std::string icon_path;  // the Icon value: an absolute path, or empty for none
};

// The text of the entry that starts |fields.cache_name| with |launcher|.
std::string DesktopEntryText(const DesktopEntryFields& fields, const std::string& launcher);

// Writes the entry of |fields| (its icon copied from |icon_source| when that
// file is an image, no icon otherwise) atomically, making the directories
// when missing; a file at the entry's name that is not the client's own is
// left alone. Returns what could not be done, for the user to be warned of.
std::vector<std::string> WriteDesktopEntry(DesktopEntryFields fields,
                                           const std::string& icon_source);

// Deletes the entry of |cache_name| and its icon when they are the client's
// own. Returns what could not be done, as WriteDesktopEntry does.
std::vector<std::string> RemoveDesktopEntry(std::string_view cache_name);

// Whether the file |path| is an entry the client wrote for |cache_name|.
bool IsOwnDesktopEntry(const std::string& path, std::string_view cache_name);

// Runs update-desktop-database on |directory| when it is on PATH, waiting a
// few seconds at most; nothing when it is missing.
void RefreshDesktopDatabase(const std::string& directory);

}  // namespace qx
