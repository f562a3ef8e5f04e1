// The shared key lines of project files and package headers. Sealer engine, without a window.
#include "sealer/project/project_header.h"

#include <string>

namespace qx {

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
      out.WriteLine(KeyLine(field.key, value, HeaderWriter::kSealer), false);
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
