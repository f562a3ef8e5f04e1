// The project record's fields, the checks of a seal's values and the
// collection of the form. Sealer engine, without a window.
#include "sealer/project/sealer_project.h"

#include <ctime>

#include "core/format/header_lines.h"
#include "core/format/header_reader.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "sealer/project/form_view.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

using P = SealerProject;

ProjectField Text(std::string_view key, std::string P::*field, size_t width) {
  return {key, field, nullptr, width};
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

const std::array<ProjectField, kProjectFieldCount>& ProjectFields() {
  static const std::array<ProjectField, kProjectFieldCount> fields = {{
      Text("Owner", &P::owner, kOwnerWidth),
      Text("Copyright", &P::copyright, kCopyrightWidth),
      Text("ApplName", &P::appl_name, kApplNameWidth),
      Text("CommandLine", &P::command_line, kCommandLineWidth),
      Text("Version", &P::version, kVersionWidth),
      Text("MinVersion", &P::min_version, kVersionWidth),
      Text("Date", &P::date, kDateWidth),
      Text("Delete", &P::delete_package, kDeleteWidth),
      Text("ReadmeFile", &P::readme_file, kNamedFileWidth),
      Text("RegistryFile", &P::registry_file, kNamedFileWidth),
      Text("CompanyIdentity", &P::company_identity, kFlagWidth),
      Text("DownloadSplash", &P::download_splash, kNamedFileWidth),
      Text("LaunchSplash", &P::launch_splash, kNamedFileWidth),
      Text("DownloadIcon", &P::download_icon, kNamedFileWidth),
      Text("LaunchIcon", &P::launch_icon, kNamedFileWidth),
      Text("CorruptIcon", &P::corrupt_icon, kNamedFileWidth),
      Text("DownloadDetail", &P::download_detail, kFlagWidth),
      Text("CombineDownloadLaunch", &P::combine_download_launch, kFlagWidth),
      Text("LaunchSplashDuration", &P::launch_splash_duration, kLaunchSplashDurationWidth),
      Text("InstallTo", &P::install_to, kInstallToWidth),
      Text("UpdateOption", &P::update_option, kUpdateOptionWidth),
      Text("Comment", &P::comment, kCommentWidth),
      Text("FileVersion", &P::file_version, kVersionWidth),
      Text("PutTo", &P::put_to, kDirectoryWidth),
      Text("SealFrom", &P::seal_from, kDirectoryWidth),
      {"FileCount", nullptr, &P::file_count, 0},
      {"DirectoryCount", nullptr, &P::directory_count, 0},
  }};
  return fields;
}

const std::array<std::string SealerProject::*, kNamedFileCount>& NamedFileFields() {
  static const std::array<std::string P::*, kNamedFileCount> fields = {
      &P::readme_file,   &P::registry_file, &P::download_splash, &P::launch_splash,
      &P::download_icon, &P::launch_icon,   &P::corrupt_icon};
  return fields;
}

std::string CutToWidth(std::string_view text, size_t width) {
  return std::string(text.substr(0, width == 0 ? 0 : width - 1));
}

std::string TodayDateText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FormatDateText(local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
}

bool IsValidInstallTo(std::string_view text) {
  if (text.empty()) {
    return true;
  }
  if (IsSeparator(text.front()) || IsSeparator(text.back()) ||
      (text.size() > 1 && text[1] == ':')) {
    return false;
  }
  // The client refuses a package whose install-to directory would leave its
  // cache, so the sealer refuses it first.
  return IsSafeRelativeName(text);
}

Result<void> CheckApplNameValue(std::string_view name) {
  auto refused = [](std::string text) {
    return Error{kSealFieldInvalid, std::move(text), "ApplName"};
  };
  if (name.empty()) {
    return refused("Application name is missing");
  }
  // The name becomes file names in the put-to directory: no extension and
  // no directory part.
  if (name.find_first_of("\\/") != std::string_view::npos) {
    return refused("Application name should have no path separator (\\ or /)");
  }
  if (name.find('.') != std::string_view::npos) {
    return refused("Application name should have no file extension");
  }
  // The client makes a directory of it and reads it back from the header.
  if (!IsSafeApplicationName(name)) {
    return refused(std::string("Invalid application name: it holds ") +
                   NameFaultText(CheckRelativeName(name)));
  }
  return {};
}

Result<void> CheckNameValue(std::string_view name) {
  if (name.find(' ') == std::string_view::npos) {
    return {};
  }
  return Error{kSealFieldInvalid, "Invalid application Name (no space(s) allow).", "ApplName"};
}

Result<void> CheckInstallToValue(std::string_view text) {
  if (IsValidInstallTo(text)) {
    return {};
  }
  return Error{kSealFieldInvalid,
               "Invalid Install To entry. Specify a relative directory path to control where the "
               "application is delivered on the client.",
               "InstallTo"};
}

std::string CreatePutToQuestion(std::string_view put_to) {
  return "Directory " + std::string(put_to) + " does not exist, create it?";
}

Result<void> OfferToCreatePutTo(const std::string& put_to, SealObserver& observer) {
  if (DirectoryExists(put_to)) {
    return {};
  }
  if (!observer.Ask(SealQuestion::kCreatePutTo, CreatePutToQuestion(put_to))) {
    return Error{kSealDeclined, {}, "PutTo"};
  }
  std::string path = put_to;
  if (!CreateDirectoryPath(path)) {
    return SealFailure("Unable to create " + put_to + " directory", put_to);
  }
  return {};
}

void CollectFixedValues(SealerProject& project) {
  // This edition's form has no read-me field; Copyright and Comment get
  // fixed values instead. Comment is the record's name from before the Name
  // field is read: the seal stores the field first, so a sealed package's
  // comment is its name.
  project.readme_file.clear();
  project.file_version = "1.0.00";
  project.copyright = "copyright";
  project.comment = project.appl_name;
  project.update_option = std::string(kRequired);
  project.delete_package = std::string(kYes);
  project.download_detail = std::string(kYes);
  project.combine_download_launch = std::string(kYes);
}

Result<void> CheckSealField(const SealerProject& project, SealField field, SealObserver& observer,
                            bool offer_put_to) {
  switch (field) {
    case SealField::kInstallTo:
      if (!IsValidInstallTo(project.install_to)) {
        return Error{kSealFieldInvalid, "Invalid InstallTo directory", "InstallTo"};
      }
      return {};
    case SealField::kApplName:
      return CheckApplNameValue(project.appl_name);
    case SealField::kCommandLine:
      if (project.command_line.empty()) {
        return Error{kSealFieldInvalid, "Command Line was not entered", "CommandLine"};
      }
      return {};
    case SealField::kSealFrom:
      if (project.seal_from.empty()) {
        return Error{kSealFieldInvalid, "sealFrom directory was not entered", "SealFrom"};
      }
      if (!DirectoryExists(project.seal_from)) {
        return Error{kSealFieldInvalid, "Directory " + project.seal_from + " does not exist",
                     "SealFrom"};
      }
      return {};
    case SealField::kPutTo:
      break;
  }
  if (project.put_to.empty()) {
    return Error{kSealFieldInvalid, "putTo directory is was not entered", "PutTo"};
  }
  // Compared as the file system sees them, so that "src/.", "src//" or a
  // link to src cannot pass for another directory: every stored file would
  // be written over its own source, or among the sources.
  if (IsSameOrInsideDirectory(project.put_to, project.seal_from) ||
      IsSameOrInsideDirectory(project.seal_from, project.put_to)) {
    const bool same = IsSameOrInsideDirectory(project.put_to, project.seal_from) &&
                      IsSameOrInsideDirectory(project.seal_from, project.put_to);
    return Error{kSealFieldConflict,
                 same ? std::string("SealFrom and PutTo are the same directory")
                      : "SealFrom and PutTo must not lie inside one another: " + project.seal_from +
                            ", " + project.put_to,
                 "SealFrom"};
  }
  // A relative put-to directory would land wherever the program was started.
  if (!IsSeparator(project.put_to.front())) {
    return SealFailure("Must provide absolute path in putTo field");
  }
  if (!offer_put_to) {
    return {};
  }
  return OfferToCreatePutTo(project.put_to, observer);
}

Result<void> CheckSealFields(const SealerProject& record, SealObserver& observer) {
  for (SealField field : {SealField::kInstallTo, SealField::kApplName, SealField::kCommandLine,
                          SealField::kSealFrom, SealField::kPutTo}) {
    if (Result<void> checked = CheckSealField(record, field, observer, false); !checked) {
      return checked;
    }
  }
  return {};
}

}  // namespace qx
