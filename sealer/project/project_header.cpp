// The shared key lines of project files and package headers. Sealer engine, without a window.
#include "sealer/project/project_header.h"

#include <iterator>
#include <string>
#include <utility>

namespace qx {

namespace {

// The project record's widths of the keys a package header shares are the
// key table's: a width changed on one side only fails the build.
constexpr bool WidthsAreTheKeyTables() {
  constexpr std::pair<HeaderKey, size_t> kWidths[] = {
      {HeaderKey::kOwner, kOwnerWidth},
      {HeaderKey::kCopyright, kCopyrightWidth},
      {HeaderKey::kApplName, kApplNameWidth},
      {HeaderKey::kCommandLine, kCommandLineWidth},
      {HeaderKey::kVersion, kVersionWidth},
      {HeaderKey::kMinVersion, kVersionWidth},
      {HeaderKey::kDate, kDateWidth},
      {HeaderKey::kDelete, kDeleteWidth},
      {HeaderKey::kReadmeFile, kNamedFileWidth},
      {HeaderKey::kRegistryFile, kNamedFileWidth},
      {HeaderKey::kCompanyIdentity, kFlagWidth},
      {HeaderKey::kDownloadSplash, kNamedFileWidth},
      {HeaderKey::kLaunchSplash, kNamedFileWidth},
      {HeaderKey::kDownloadIcon, kNamedFileWidth},
      {HeaderKey::kLaunchIcon, kNamedFileWidth},
      {HeaderKey::kCorruptIcon, kNamedFileWidth},
      {HeaderKey::kDownloadDetail, kFlagWidth},
      {HeaderKey::kCombineDownloadLaunch, kFlagWidth},
      {HeaderKey::kLaunchSplashDuration, kLaunchSplashDurationWidth},
      {HeaderKey::kInstallTo, kInstallToWidth},
      {HeaderKey::kUpdateOption, kUpdateOptionWidth},
      {HeaderKey::kComment, kCommentWidth},
  };
  static_assert(std::size(kWidths) == kHeaderKeyCount);
  for (const auto& [key, width] : kWidths) {
    if (HeaderKeyOf(key).project_width != width) {
      return false;
    }
  }
  return true;
}
static_assert(WidthsAreTheKeyTables());
static_assert(kSharedProjectFieldCount == kHeaderKeyCount);

}  // namespace

bool WriteHeaderLines(HeaderLineWriter& out, SealerProject& project, bool package) {
  project.date = TodayDateText();
  if (project.min_version.empty() || project.update_option == kRequired) {
    project.min_version = project.version;
  }
  std::string magic(package ? kHeaderMagic : kProjectMagic);
  magic += kSealerFormatVersion;
  out.WriteLine(magic, package);
  if (package) {
    out.WriteCommentBlock(HeaderWriter::kSealer);
  }
  const auto& fields = ProjectFields();
  for (size_t i = 0; i < kSharedProjectFieldCount; ++i) {
    const ProjectField& field = fields[i];
    HeaderKey key = kHeaderKeys[i].key;
    std::string_view value = key == HeaderKey::kCompanyIdentity ? kNo : project.*field.text;
    if (package) {
      out.WriteKeyLine(key, value, HeaderWriter::kSealer);
    } else {
      out.WriteLine(KeyLine(kHeaderKeys[i].name, value, HeaderWriter::kSealer), false);
    }
  }
  if (!package) {
    // The sealer's own keys always carry the blank after the colon.
    for (size_t i = kSharedProjectFieldCount; i < kProjectFieldCount; ++i) {
      const ProjectField& field = fields[i];
      std::string line(field.key);
      line += ": ";
      line += field.text != nullptr ? project.*field.text : std::to_string(project.*field.number);
      out.WriteLine(line, false);
    }
    out.WriteLine(kEndOfHeaderLine, false);
  }
  return out.ok();
}

}  // namespace qx
