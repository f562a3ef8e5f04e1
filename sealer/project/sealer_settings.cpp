// The sealer's settings file and recent-projects list. Sealer engine, without a window.
#include "sealer/project/sealer_settings.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "core/platform/config_directory.h"
#include "core/platform/private_profile.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

constexpr char kOwnerKey[] = "Owner";
constexpr char kCopyRightKey[] = "CopyRight";
constexpr char kProjectDirectoryKey[] = "Project Directory";
// Values are read as into fixed 256-byte buffers.
constexpr size_t kSettingBufferSize = 256;

// "LastControl.1" with the slot's digit as its last character.
std::string RecentKey(size_t slot) {
  std::string key = "LastControl.1";
  key.back() = static_cast<char>('1' + slot);
  return key;
}

// A size in pixels: 0 when the key is missing or holds no positive number.
int ReadSize(const std::string& path, std::string_view key) {
  return path.empty() ? 0 : std::max(0, ReadProfileInt(path, kSettingsSection, key, 0));
}

std::string ReadSetting(const std::string& path, std::string_view key) {
  std::string value;
  if (!path.empty()) {
    ReadProfileString(path, kSettingsSection, key, "", kSettingBufferSize, value);
  }
  return value;
}

// "Yes" in any case.
bool IsYes(std::string_view value) {
  return value.size() == 3 && std::tolower(static_cast<unsigned char>(value[0])) == 'y' &&
         std::tolower(static_cast<unsigned char>(value[1])) == 'e' &&
         std::tolower(static_cast<unsigned char>(value[2])) == 's';
}

// Whether a settings file can hold a section named |name|: one with "]", a
// line break or a NUL was never written, so there is nothing to remove.
bool CanNameSection(std::string_view name) {
  return !name.empty() &&
         name.find_first_of(std::string_view("]\r\n\0", 4)) == std::string_view::npos;
}

}  // namespace

std::string SettingsFilePath() {
  return ConfigFilePath(kSettingsFileName);
}

void ReadSettings(SealerSettings& settings) {
  const std::string path = SettingsFilePath();
  settings.owner = ReadSetting(path, kOwnerKey);
  settings.copyright = ReadSetting(path, kCopyRightKey);
  settings.project_directory = ReadSetting(path, kProjectDirectoryKey);
  settings.signing_key = ReadSetting(path, kSigningKeySetting);
  // A base URL alone asks for the page, as --base-url does.
  const std::string install_page = ReadSetting(path, kInstallPageSetting);
  settings.install_page_base_url = ReadSetting(path, kInstallPageBaseUrlSetting);
  settings.install_page =
      install_page.empty() ? !settings.install_page_base_url.empty() : IsYes(install_page);
  settings.window_width = ReadSize(path, kWindowWidthSetting);
  settings.window_height = ReadSize(path, kWindowHeightSetting);
  settings.recent_projects = {};
  bool any = false;
  // The used slots stay a prefix: the first missing key ends the list.
  for (size_t slot = 0; slot < kRecentProjectCount; ++slot) {
    settings.recent_projects[slot] = ReadSetting(path, RecentKey(slot));
    if (settings.recent_projects[slot].empty()) {
      break;
    }
    any = true;
  }
  settings.recent_list_changed = any;
}

void WriteSettings(const SealerSettings& settings, WindowHandle owner) {
  WriteSetting(kSettingsSection, kOwnerKey, settings.owner, owner);
  WriteSetting(kSettingsSection, kCopyRightKey, settings.copyright, owner);
  WriteSetting(kSettingsSection, kProjectDirectoryKey, settings.project_directory, owner);
  // A size never measured leaves the one written by the last window.
  if (settings.window_width > 0 && settings.window_height > 0) {
    WriteSetting(kSettingsSection, kWindowWidthSetting, std::to_string(settings.window_width),
                 owner);
    WriteSetting(kSettingsSection, kWindowHeightSetting, std::to_string(settings.window_height),
                 owner);
  }
  for (size_t slot = 0; slot < kRecentProjectCount; ++slot) {
    if (settings.recent_projects[slot].empty()) {
      break;
    }
    WriteSetting(kSettingsSection, RecentKey(slot), settings.recent_projects[slot], owner);
  }
}

bool WriteSigningKeySetting(SealerSettings& settings, std::string_view path, WindowHandle owner) {
  if (path.size() >= kSettingBufferSize) {
    // It would be read back cut short.
    BeepAndShow(BeepKind::kDefault,
                {owner,
                 std::string(path) + " is too long for the settings file (at most " +
                     std::to_string(kSettingBufferSize - 1) + " bytes)",
                 kSealerCaption, BoxIcon::kNone, BoxButtons::kOk});
    return false;
  }
  const std::optional<std::string_view> value =
      path.empty() ? std::nullopt : std::optional<std::string_view>(path);
  if (!WriteSetting(kSettingsSection, kSigningKeySetting, value, owner)) {
    return false;
  }
  settings.signing_key = std::string(path);
  return true;
}

bool WriteSetting(std::string_view section, std::optional<std::string_view> key,
                  std::optional<std::string_view> value, WindowHandle owner) {
  const std::string path = SettingsFilePath();
  if (!path.empty() && WriteProfileString(path, section, key, value)) {
    return true;
  }
  std::string text = " Unable to update SECTION \"";
  text += section;
  text += "\" ENTRY \"";
  text += key.value_or("");
  text += "\"";
  BeepAndShow(BeepKind::kDefault,
              {owner, std::move(text), kSealerCaption, BoxIcon::kNone, BoxButtons::kOk});
  return false;
}

void AddRecentProject(SealerSettings& settings, std::string_view path, WindowHandle owner) {
  if (path.empty()) {
    return;
  }
  auto& slots = settings.recent_projects;
  // Paths compare as the file system does: exactly.
  auto found = std::find(slots.begin(), slots.end(), path);
  if (found == slots.begin()) {
    return;
  }
  if (found != slots.end()) {
    std::rotate(slots.begin(), found, found + 1);
  } else {
    std::string& last = slots.back();
    if (CanNameSection(last)) {
      // Drops whatever the settings file keeps under the path that falls off.
      WriteSetting(last, std::nullopt, std::nullopt, owner);
    }
    std::rotate(slots.begin(), slots.end() - 1, slots.end());
    slots.front() = std::string(path);
  }
  settings.recent_list_changed = true;
}

}  // namespace qx
