// The library's header writer: a PackageHeader record as header text, in the
// form the reader beside it reads back. Format layer.
#include "core/format/header_writer.h"

#include <string>

#include "core/format/header_lines.h"

namespace qx {

namespace {

// The text of a key line as the library writer gives it.
std::string KeyValueText(const HeaderValues& values, const HeaderKeyInfo& info) {
  switch (info.kind) {
    case HeaderValueKind::kText:
      return HeaderTextValue(values, info.key).substr(0, info.capacity);
    case HeaderValueKind::kVersion:
      return FormatVersionText(info.key == HeaderKey::kVersion ? values.version
                                                               : values.min_version);
    case HeaderValueKind::kDate:
      return FormatDateText(values.month, values.day, values.year);
    case HeaderValueKind::kFlag: {
      bool flag = false;
      switch (info.key) {
        case HeaderKey::kDelete:
          flag = values.delete_package;
          break;
        case HeaderKey::kCompanyIdentity:
          flag = values.company_identity;
          break;
        case HeaderKey::kDownloadDetail:
          flag = values.download_detail;
          break;
        case HeaderKey::kCombineDownloadLaunch:
          flag = values.combine_download_launch;
          break;
        default:
          break;
      }
      return std::string(flag ? kYes : kNo);
    }
    case HeaderValueKind::kUpdateOption:
      return std::string(values.update_required ? kRequired : kOptional);
  }
  return {};
}

}  // namespace

int WriteHeaderText(std::FILE* file, const PackageHeader& record) {
  if (file == nullptr) {
    return kHeaderFailed;
  }
  const HeaderValues& values = record.values;
  HeaderLineWriter writer(file, nullptr);
  writer.WriteLine(LibraryMagicLine(values.format_version.major, values.format_version.minor),
                   false);
  writer.WriteCommentBlock(HeaderWriter::kLibrary);
  for (const HeaderKeyInfo& info : kHeaderKeys) {
    // A format 1 header carries RegistryFile only when the sealer wrote it;
    // its digest covers the line, so a header read here keeps it.
    if (info.key == HeaderKey::kRegistryFile && values.format_version.major <= 1 &&
        values.registry_file.empty() && !values.registry_file_line) {
      continue;
    }
    writer.WriteKeyLine(info.key, KeyValueText(values, info), HeaderWriter::kLibrary);
  }
  for (const auto& entry : record.entries) {
    if (entry->state == 3 || entry->state == 4) {
      continue;
    }
    if (entry->comment || entry->state == kEntryStateComment) {
      writer.WriteLine(CommentLine(entry->neutral_name.substr(0, kMaxEntryName)), false);
      continue;
    }
    EntryFields fields;
    const std::string name = entry->name.substr(0, kMaxEntryName);
    const std::string digest = entry->digest.substr(0, kMaxEntryDigest);
    fields.name = name;
    fields.hours = entry->hours;
    fields.minutes = entry->minutes;
    fields.seconds = entry->seconds;
    fields.month = entry->month;
    fields.day = entry->day;
    fields.year = entry->year;
    fields.version = entry->version;
    fields.length = entry->length;
    fields.size = entry->size;
    fields.digest = digest;
    writer.WriteEntryLines(LibraryEntryLines(fields));
  }
  writer.WriteLine(TrailerLine(values.header_digest.substr(0, kMaxHeaderDigest)), false);
  return writer.ok() ? kHeaderOk : kHeaderFailed;
}

}  // namespace qx
