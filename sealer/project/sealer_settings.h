#pragma once

// The sealer's settings file: default owner and copyright, project
// directory, signing key and the recent-projects list. Sealer engine, without a window.

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/user_interface.h"
#include "sealer/project/sealer_state.h"

namespace qx {

inline constexpr char kSettingsFileName[] = "qxsealer-lite.ini";
inline constexpr char kSettingsSection[] = "General";
// The key of the secret key file seals are signed with.
inline constexpr char kSigningKeySetting[] = "SigningKey";
// Whether seals write the install page ("Yes" or "No"), and the URL its
// link names the header under; a base URL alone asks for the page too,
// as qxweb's --base-url does, unless InstallPage says No.
inline constexpr char kInstallPageSetting[] = "InstallPage";
inline constexpr char kInstallPageBaseUrlSetting[] = "InstallPageBaseUrl";
// The keys of the main window's size, in pixels, as it was when it closed.
inline constexpr char kWindowWidthSetting[] = "WindowWidth";
inline constexpr char kWindowHeightSetting[] = "WindowHeight";

// The settings file in the per-user configuration directory; empty when
// there is none.
std::string SettingsFilePath();

// Reads the defaults, the signing key file ("SigningKey", which the window's
// File > Signing Key sets and removes, or the person edits), the install
// page's settings, the window's size and the recent list; a missing file gives empty values, and a
// size that is missing or not positive reads as 0.
void ReadSettings(SealerSettings& settings);
// Writes the defaults, the window's size when it is known and every recent
// path held (not the signing key, which WriteSigningKeySetting writes at
// once when it changes).
void WriteSettings(const SealerSettings& settings, WindowHandle owner = nullptr);
// Writes |path| as the signing key, or removes the setting when |path| is
// empty, and on success keeps it in |settings|. On failure (a path of 256
// bytes or more, which would be read back cut short, or the box of
// WriteSetting) |settings| keep the key they had.
bool WriteSigningKeySetting(SealerSettings& settings, std::string_view path,
                            WindowHandle owner = nullptr);
// One write of the settings file (a null |value| removes the key, a null
// |key| the section). On failure shows " Unable to update SECTION ..." over
// |owner| and returns false.
bool WriteSetting(std::string_view section, std::optional<std::string_view> key,
                  std::optional<std::string_view> value, WindowHandle owner = nullptr);
// Puts |path| at the top of the recent list. Paths match exactly, as the
// file system compares them.
void AddRecentProject(SealerSettings& settings, std::string_view path,
                      WindowHandle owner = nullptr);

}  // namespace qx
