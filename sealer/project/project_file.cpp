// The project file read and written as a value; the form's open, save and
// new over that, and the form filled from the record. Sealer engine,
// without a window.
#include "sealer/project/project_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "core/format/header_lines.h"
#include "core/fsutil/directory_tree.h"
#include "core/platform/file_handle.h"
#include "core/platform/replacing_file.h"
#include "core/widthlist/width_list.h"
#include "sealer/project/project_header.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

// Reads one line whole, however long, up to its first CR or its LF (a last
// line without either keeps all of its text). False at end of
// file or on a read error with nothing read.
bool ReadProjectLine(std::FILE* file, std::string& line) {
  line.clear();
  int c = std::getc(file);
  if (c == EOF) {
    return false;
  }
  while (c != EOF && c != '\n') {
    line += static_cast<char>(c);
    c = std::getc(file);
  }
  // A value ends at its first CR, as in a package header: a CR kept inside
  // a value could never be written back.
  const size_t cr = line.find('\r');
  if (cr != std::string::npos) {
    line.resize(cr);
  }
  return true;
}

// The next line that is not empty.
bool ReadNonEmptyLine(std::FILE* file, std::string& line) {
  while (ReadProjectLine(file, line)) {
    if (!line.empty()) {
      return true;
    }
  }
  return false;
}

// A count as a decimal number: optional sign, digits up to the first other
// character, clamped to the field's range; no digits read as 0.
int32_t ParseCount(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
      break;
    }
  }
  value = negative ? -value : value;
  if (value > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

void StoreValue(SealerProject& project, std::string_view key, std::string_view value) {
  const auto& fields = ProjectFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const ProjectField& field = fields[i];
    // The keys a package header shares take their names and widths from the
    // key table.
    const bool shared = i < kSharedProjectFieldCount;
    if ((shared ? kHeaderKeys[i].name : field.key) != key) {
      continue;
    }
    if (field.text != nullptr) {
      project.*field.text = CutToWidth(value, shared ? kHeaderKeys[i].project_width : field.width);
    } else {
      project.*field.number = ParseCount(value);
    }
    return;
  }
}

bool IsDirectory(std::FILE* file) {
  struct stat info {};
  return ::fstat(::fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

Error SaveFailed(std::string_view path) {
  std::string text = "Unable to create Project file \"";
  text += path;
  text += "\"";
  return Error{kProjectNotSaved, std::move(text), std::string(path)};
}

// The key of the first value the reader could not give back: a line break
// would end its line early and read as a broken or a different key line.
const ProjectField* UnwritableField(const SealerProject& project) {
  for (const ProjectField& field : ProjectFields()) {
    if (field.text != nullptr && (project.*field.text).find_first_of("\r\n") != std::string::npos) {
      return &field;
    }
  }
  return nullptr;
}

// The file a save replaces: a link's target, so that the link stays, and
// nothing but a regular file or a name not yet taken. False for a
// directory, a device or a pipe, which a rename would put out of place.
bool SaveTarget(const std::string& project_path, std::string& target) {
  target = project_path;
  struct stat info {};
  if (::lstat(project_path.c_str(), &info) != 0) {
    return errno == ENOENT;
  }
  if (S_ISLNK(info.st_mode)) {
    target = ResolvedPath(project_path);
    if (target.empty()) {
      // A link to nothing yet: the save puts the file in the link's place.
      const bool dangling = errno == ENOENT;
      target = project_path;
      return dangling;
    }
    if (::stat(target.c_str(), &info) != 0) {
      return false;
    }
  }
  return S_ISREG(info.st_mode);
}

Error Corrupted(ProjectFileError code, const std::string& path) {
  return Error{code, "Project file " + path + " corrupted", path};
}

// How the key lines of a project file read.
enum class HeaderRead { kRead, kNoMagic, kBadLine };

// Reads the key lines of a project file up to its end-of-header line into
// |project| (cleared first, all but project_path).
HeaderRead ParseProjectHeader(std::FILE* file, SealerProject& project) {
  std::string project_path = std::move(project.project_path);
  project = SealerProject{};
  project.project_path = std::move(project_path);

  std::string line;
  if (!ReadNonEmptyLine(file, line) || !line.starts_with(kProjectMagic)) {
    return HeaderRead::kNoMagic;
  }
  while (ReadNonEmptyLine(file, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
      if (line.starts_with(kEndOfHeaderLine)) {
        return HeaderRead::kRead;
      }
      break;
    }
    // The value starts past the writer's colon and blank.
    std::string_view rest(line);
    std::string_view value = colon + 2 <= rest.size() ? rest.substr(colon + 2) : "";
    StoreValue(project, rest.substr(0, colon), value);
  }
  return HeaderRead::kBadLine;
}

}  // namespace

SealerProject NewProjectRecord(const SealerSettings& settings) {
  SealerProject project;
  project.file_version = std::string(kNewProjectVersion);
  project.version = std::string(kNewProjectVersion);
  project.owner = CutToWidth(settings.owner, HeaderKeyOf(HeaderKey::kOwner).project_width);
  project.copyright =
      CutToWidth(settings.copyright, HeaderKeyOf(HeaderKey::kCopyright).project_width);
  return project;
}

Result<Project> ReadProjectFile(const std::string& path) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file || IsDirectory(file.get())) {
    const int reason = file ? EISDIR : errno;
    return Error{kProjectNotOpened,
                 "Unable to open Project file \"" + path + "\": " + std::strerror(reason), path};
  }
  Project project;
  switch (ParseProjectHeader(file.get(), project.record)) {
    case HeaderRead::kRead:
      break;
    case HeaderRead::kNoMagic:
      return Corrupted(kProjectCorrupted, path);
    case HeaderRead::kBadLine:
      return Corrupted(kProjectBadHeader, path);
  }
  project.record.project_path = path;
  std::string line;
  while (ReadProjectLine(file.get(), line)) {
    if (!line.empty()) {
      project.file_list.push_back(line);
    }
  }
  // A list cut short by a read error must not be taken for the whole list:
  // the next save would drop the rest.
  if (std::ferror(file.get()) != 0) {
    return Corrupted(kProjectCorrupted, path);
  }
  return project;
}

Result<void> CheckProjectWritable(const SealerProject& record) {
  if (const ProjectField* field = UnwritableField(record)) {
    return Error{
        kProjectNotSaved,
        "Unable to save the Project file: " + std::string(field->key) + " holds a line break",
        record.project_path};
  }
  return {};
}

Result<void> WriteProjectFile(SealerProject& record, const std::vector<std::string>& file_list) {
  if (Result<void> writable = CheckProjectWritable(record); !writable) {
    return writable;
  }
  const std::string& project_path = record.project_path;
  // Each save writes a temporary file of its own beside the project file
  // and renames it over the old one: two saves in one directory never meet,
  // and a save that fails leaves the old file as it was.
  std::string target;
  if (!SaveTarget(project_path, target)) {
    return SaveFailed(project_path);
  }
  ReplacingFile out(target);
  if (out.Open() == nullptr) {
    return SaveFailed(project_path);
  }
  HeaderLineWriter writer(out.file(), nullptr);
  WriteHeaderLines(writer, record, false);
  for (const std::string& line : file_list) {
    writer.WriteLine(line, false);
  }
  if (!writer.ok() || !out.Commit(true)) {
    return SaveFailed(project_path);
  }
  return {};
}

void ShowProjectFileError(const Error& error, WindowHandle owner) {
  switch (error.code) {
    case kProjectNotOpened:
      return;
    case kProjectBadHeader:
      ErrorBox("Bad Project File");
      [[fallthrough]];
    case kProjectCorrupted:
      InfoBox(owner, error.message);
      return;
    default:
      BeepAndShow(BeepKind::kSimple,
                  {owner, error.message, kSealerCaption, BoxIcon::kNone, BoxButtons::kOk});
  }
}

}  // namespace qx
