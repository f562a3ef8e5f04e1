#pragma once

// The project record, its fields and widths, and the checks of the values a
// seal takes. Sealer engine, without a window.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/platform/result.h"

namespace qx {

// Widths of the project record's text fields, terminating zero included: a
// field holds one character less. Values read from a project file or the
// form are cut to that.
inline constexpr size_t kOwnerWidth = 128;
inline constexpr size_t kCopyrightWidth = 128;
inline constexpr size_t kApplNameWidth = 256;
inline constexpr size_t kCommandLineWidth = 128;
inline constexpr size_t kVersionWidth = 10;
inline constexpr size_t kDateWidth = 11;
inline constexpr size_t kNamedFileWidth = 256;
inline constexpr size_t kInstallToWidth = 256;
inline constexpr size_t kUpdateOptionWidth = 10;
inline constexpr size_t kCommentWidth = 516;
inline constexpr size_t kDirectoryWidth = 256;
inline constexpr size_t kDeleteWidth = 5;
inline constexpr size_t kFlagWidth = 4;
inline constexpr size_t kLaunchSplashDurationWidth = 8;
inline constexpr size_t kProjectPathWidth = 256;

// Characters the form's fields accept.
inline constexpr size_t kOwnerFieldLimit = 127;
inline constexpr size_t kNameFieldLimit = 8;
inline constexpr size_t kCommandLineFieldLimit = 127;
inline constexpr size_t kPathFieldLimit = 255;

inline constexpr std::string_view kNewProjectVersion = "01.00.00";
inline constexpr std::string_view kProjectFileExtension = "QXS";
inline constexpr std::string_view kEndOfHeaderLine = "*** End Of Header ***";

// The sealer's one project record. Text fields are named after the keys under
// which the project file and the package header keep them.
struct SealerProject {
  std::string owner;
  std::string copyright;
  std::string appl_name;
  std::string command_line;
  std::string version;
  std::string date;
  std::string min_version;
  std::string readme_file;
  std::string registry_file;
  std::string install_to;
  std::string update_option;
  std::string comment;
  std::string file_version;
  std::string put_to;
  std::string seal_from;
  std::string prev_seal_from;  // the seal-from directory the file list was made from
  std::string delete_package;  // key "Delete"
  int32_t file_count = 0;
  int32_t directory_count = 0;
  std::string download_splash;
  std::string launch_splash;
  std::string download_icon;
  std::string launch_icon;
  std::string corrupt_icon;
  std::string download_detail;
  std::string combine_download_launch;
  std::string company_identity;
  std::string launch_splash_duration;
  std::string project_path;
};

// One key of the project file: a text field or one of the two counts.
struct ProjectField {
  std::string_view key;
  std::string SealerProject::*text;  // null for a count
  int32_t SealerProject::*number;    // null for a text
  size_t width;
};

// Every key of the project file in write order: the 22 keys the package
// header shares, then FileVersion, PutTo, SealFrom, FileCount and
// DirectoryCount.
inline constexpr size_t kProjectFieldCount = 27;
inline constexpr size_t kSharedProjectFieldCount = 22;
const std::array<ProjectField, kProjectFieldCount>& ProjectFields();

// The named files in the order the seal stores them.
inline constexpr size_t kNamedFileCount = 7;
const std::array<std::string SealerProject::*, kNamedFileCount>& NamedFileFields();

// |text| cut to what a field of |width| holds.
std::string CutToWidth(std::string_view text, size_t width);

// Today's local date as "MM/DD/YYYY".
std::string TodayDateText();

class SealObserver;

// The checks of the fields a seal takes, in the order the form is read.
enum class SealField { kInstallTo, kApplName, kCommandLine, kSealFrom, kPutTo };

// Checks one field of |project| as a seal does; for kPutTo a missing put-to
// directory is offered for creation through |observer| when |offer_put_to|.
Result<void> CheckSealField(const SealerProject& project, SealField field, SealObserver& observer,
                            bool offer_put_to = true);

// The values this edition's form gives the fields it has no control for.
void CollectFixedValues(SealerProject& project);

// The form's own checks of a value: a Name with a blank, an Install To that
// is absolute, has a drive, ends with a separator or would leave the cache
// directory, and the seal's checks of an application name.
Result<void> CheckNameValue(std::string_view name);
Result<void> CheckInstallToValue(std::string_view text);
Result<void> CheckApplNameValue(std::string_view name);

// The question a seal asks when the put-to directory is missing.
std::string CreatePutToQuestion(std::string_view put_to);
// When |put_to| is not a directory, asks |observer| whether to create it
// and does so on OK.
Result<void> OfferToCreatePutTo(const std::string& put_to, SealObserver& observer);

// Whether an Install To text passes the form's check (empty passes).
bool IsValidInstallTo(std::string_view text);

}  // namespace qx
