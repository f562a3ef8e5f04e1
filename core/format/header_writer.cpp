// The library's header writer: a PackageHeader record as header text, in the
// form the reader beside it reads back; a record read from a header is
// written back along the lines it was read from. Format layer.
#include "core/format/header_writer.h"

#include <array>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

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

std::string KeyForm(const HeaderValues& values, const HeaderKeyInfo& info) {
  return KeyLine(info.name, KeyValueText(values, info), HeaderWriter::kLibrary);
}

std::string MagicForm(const HeaderValues& values) {
  return LibraryMagicLine(values.format_version.major, values.format_version.minor);
}

// A format 1 header carries RegistryFile only when the sealer wrote it; its
// digest covers the line, so a header read here keeps it.
bool LeavesOutRegistryFile(const HeaderValues& values) {
  return values.format_version.major <= 1 && values.registry_file.empty() &&
         !values.registry_file_line;
}

bool IsCommentEntry(const FileEntry& entry) {
  return entry.comment || entry.state == kEntryStateComment;
}

bool IsCommentEntry(const HeaderEntry& entry) {
  return entry.comment;
}

// Client states 3 and 4 are never written.
bool IsLeftOut(const FileEntry& entry) {
  return entry.state == 3 || entry.state == 4;
}

// A client's entry or one as the header gave it.
template <typename Entry>
std::array<std::string, 3> EntryForm(const Entry& entry) {
  EntryFields fields;
  const std::string name = entry.name.substr(0, kMaxEntryName);
  const std::string digest = entry.digest.substr(0, kMaxEntryDigest);
  fields.name = name;
  fields.hours = entry.hours;
  fields.minutes = entry.minutes;
  fields.seconds = entry.seconds;
  fields.month = entry.month;
  fields.day = entry.day;
  fields.year = entry.year;
  fields.version = entry.version;
  fields.length = entry.length;
  fields.size = entry.size;
  fields.digest = digest;
  return LibraryEntryLines(fields);
}

// Writes |entry| in the writer's form; nothing for states 3 and 4.
void WriteEntry(HeaderLineWriter& writer, const FileEntry& entry) {
  if (IsLeftOut(entry)) {
    return;
  }
  if (IsCommentEntry(entry)) {
    writer.WriteLine(CommentLine(entry.neutral_name.substr(0, kMaxEntryName)), false);
    return;
  }
  for (const std::string& line : EntryForm(entry)) {
    writer.WriteLine(line, false);
  }
}

// A record made without a header to follow: every key line in the write
// order, then the entries.
void WriteWholeForm(HeaderLineWriter& writer, const PackageHeader& record) {
  const HeaderValues& values = record.values;
  writer.WriteLine(MagicForm(values), false);
  writer.WriteCommentBlock(HeaderWriter::kLibrary);
  for (const HeaderKeyInfo& info : kHeaderKeys) {
    if (info.key == HeaderKey::kRegistryFile && LeavesOutRegistryFile(values)) {
      continue;
    }
    writer.WriteLine(KeyForm(values, info), false);
  }
  for (const auto& entry : record.entries) {
    WriteEntry(writer, *entry);
  }
  writer.WriteLine(TrailerLine(values.header_digest.substr(0, kMaxHeaderDigest)), false);
}

// Whether the lines as read (without trailing blanks) give the header
// digest what |form| gives it.
template <size_t N>
bool DigestsAlike(const std::vector<std::string>& read, const std::array<std::string, N>& form) {
  if (read.size() != N) {
    return false;
  }
  for (size_t i = 0; i < N; ++i) {
    if (DigestedText(form[i]) != read[i]) {
      return false;
    }
  }
  return true;
}

// What the source text's lines tell about the whole of it.
struct SourceSurvey {
  std::array<bool, kHeaderKeyCount> has_key{};
  int trailers = 0;
};

// Writes a record back along the lines of the header it was read from, each
// in its place, so that the header digest (never computed here) still
// covers what it covered:
// - a line that gives the record a value in the writer's form when the value
//   changed since it was read, or when that form digests as the line did;
//   otherwise as read (a header in another form keeps its own spelling);
// - the lines the record keeps nothing of as read: digested lines the
//   reader does not know, file entries it had no room for, and comments
//   the count pass counted, so that a second reading counts the same;
// - the comment block and blank lines dropped, the writer's comment block
//   after the magic line, and the trailer with the record's digest in the
//   place of the one the reader took.
class SourceFollower {
 public:
  SourceFollower(HeaderLineWriter& writer, const PackageHeader& record, const ParsedHeader& read,
                 const SourceSurvey& survey)
      : writer_(writer), record_(record), read_(read), survey_(survey) {}

  void Take(const HeaderLine& item) {
    if (!started_) {
      Start(item.role == HeaderLineRole::kMagic ? &item : nullptr);
    }
    switch (item.role) {
      case HeaderLineRole::kMagic:
      case HeaderLineRole::kBlank:
        return;
      case HeaderLineRole::kKey:
        TakeKey(item);
        return;
      case HeaderLineRole::kComment:
        if (item.entry >= 0) {
          TakeEntry(item);
        } else if (item.counted) {
          WriteAsRead(item.text);
        }
        return;
      case HeaderLineRole::kEntry:
        if (item.entry >= 0) {
          TakeEntry(item);
        } else {
          WriteAsRead(item.text);
        }
        return;
      case HeaderLineRole::kTrailer:
        if (++trailers_seen_ == survey_.trailers) {
          WriteTrailer();
        }
        return;
      case HeaderLineRole::kOther:
        WriteAsRead(item.text);
        return;
    }
  }

  void Finish() {
    if (!started_) {
      Start(nullptr);
    }
    WriteAddedEntries();
    if (!trailer_written_) {
      WriteTrailer();
    }
  }

 private:
  // The magic line, the comment block, and the key lines the header did not
  // have but the record now has a value for. They come before every line
  // of the header, where no file entry can continue into them.
  void Start(const HeaderLine* magic) {
    started_ = true;
    const std::array<std::string, 1> form = {MagicForm(record_.values)};
    if (magic != nullptr) {
      Choose(form, {MagicForm(read_.values)}, magic->text);
    } else {
      writer_.WriteLine(form[0], false);
    }
    writer_.WriteCommentBlock(HeaderWriter::kLibrary);
    for (const HeaderKeyInfo& info : kHeaderKeys) {
      if (survey_.has_key[static_cast<size_t>(info.key)] ||
          (info.key == HeaderKey::kRegistryFile && LeavesOutRegistryFile(record_.values))) {
        continue;
      }
      const std::string now = KeyForm(record_.values, info);
      if (now != KeyForm(read_.values, info)) {
        writer_.WriteLine(now, false);
      }
    }
  }

  void TakeKey(const HeaderLine& item) {
    const HeaderKeyInfo& info = *item.key;
    if (info.key == HeaderKey::kRegistryFile && LeavesOutRegistryFile(record_.values)) {
      return;
    }
    const std::array<std::string, 1> now = {KeyForm(record_.values, info)};
    if (!info.digested) {
      writer_.WriteLine(now[0], false);
      return;
    }
    // A key read twice has the later value: both lines stay as read while
    // that value does.
    Choose(now, {KeyForm(read_.values, info)}, item.text);
  }

  void TakeEntry(const HeaderLine& item) {
    const auto index = static_cast<size_t>(item.entry);
    if (index < record_.entries.size()) {
      const FileEntry& entry = *record_.entries[index];
      if (IsLeftOut(entry) || IsCommentEntry(entry)) {
        WriteEntry(writer_, entry);
      } else if (index < read_.entries.size() && !IsCommentEntry(read_.entries[index])) {
        Choose(EntryForm(entry), EntryForm(read_.entries[index]), item.text);
      } else {
        WriteEntry(writer_, entry);
      }
    }
    // Entries the record has beyond those read follow the last one read.
    if (index + 1 == read_.entries.size()) {
      WriteAddedEntries();
    }
  }

  template <size_t N>
  void Choose(const std::array<std::string, N>& now, const std::array<std::string, N>& when_read,
              const std::vector<std::string>& read) {
    if (now != when_read || DigestsAlike(read, now)) {
      for (const std::string& line : now) {
        writer_.WriteLine(line, false);
      }
    } else {
      WriteAsRead(read);
    }
  }

  void WriteAsRead(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      writer_.WriteLine(line, false);
    }
  }

  void WriteAddedEntries() {
    if (added_written_) {
      return;
    }
    added_written_ = true;
    for (size_t i = read_.entries.size(); i < record_.entries.size(); ++i) {
      WriteEntry(writer_, *record_.entries[i]);
    }
  }

  void WriteTrailer() {
    trailer_written_ = true;
    writer_.WriteLine(TrailerLine(record_.values.header_digest.substr(0, kMaxHeaderDigest)), false);
  }

  HeaderLineWriter& writer_;
  const PackageHeader& record_;
  const ParsedHeader& read_;
  const SourceSurvey& survey_;
  bool started_ = false;
  bool added_written_ = false;
  bool trailer_written_ = false;
  int trailers_seen_ = 0;
};

// Writes |record| along the lines of |read|, the header it was read from.
void WriteAlong(HeaderLineWriter& writer, const PackageHeader& record, const ParsedHeader& read) {
  SourceSurvey survey;
  for (const HeaderLine& item : read.lines) {
    if (item.role == HeaderLineRole::kKey) {
      survey.has_key[static_cast<size_t>(item.key->key)] = true;
    } else if (item.role == HeaderLineRole::kTrailer) {
      ++survey.trailers;
    }
  }
  SourceFollower follower(writer, record, read, survey);
  for (const HeaderLine& item : read.lines) {
    follower.Take(item);
  }
  follower.Finish();
}

// Writes |record| along its source text. kHeaderOk when written;
// kHeaderFailed, with nothing written, when the text parses as no header.
int WriteAlongSource(HeaderLineWriter& writer, const PackageHeader& record) {
  const Result<ParsedHeader> read = ParseHeader(record.source_text);
  if (!read) {
    return kHeaderFailed;
  }
  WriteAlong(writer, record, *read);
  return kHeaderOk;
}

}  // namespace

int WriteHeaderText(std::FILE* file, const PackageHeader& record) {
  if (file == nullptr) {
    return kHeaderFailed;
  }
  try {
    HeaderLineWriter writer(file, nullptr);
    if (record.source_text.empty() || WriteAlongSource(writer, record) != kHeaderOk) {
      WriteWholeForm(writer, record);
    }
    return writer.ok() ? kHeaderOk : kHeaderFailed;
  } catch (const std::bad_alloc&) {
    return kHeaderFailed;
  }
}

int WriteHeaderText(std::FILE* file, const ParsedHeader& header) {
  if (file == nullptr) {
    return kHeaderFailed;
  }
  try {
    // The header's own values, along its own lines.
    PackageHeader record;
    record.values = header.values;
    record.entries.reserve(header.entries.size());
    for (const HeaderEntry& entry : header.entries) {
      record.entries.push_back(std::make_unique<FileEntry>());
      AssignHeaderEntry(entry, record.entries.back().get());
    }
    HeaderLineWriter writer(file, nullptr);
    WriteAlong(writer, record, header);
    return writer.ok() ? kHeaderOk : kHeaderFailed;
  } catch (const std::bad_alloc&) {
    return kHeaderFailed;
  }
}

}  // namespace qx
