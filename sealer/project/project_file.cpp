// Project file open, save and new, and the form filled from the record.
// Sealer engine, without a window.
#include "sealer/project/project_file.h"

#include <sys/stat.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "core/format/header_lines.h"
#include "core/platform/file_handle.h"
#include "core/widthlist/width_list.h"
#include "sealer/project/project_header.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

constexpr char kWindowTitle[] = "Tarnwick Web Lite Sealer";
constexpr char kNewFileTitle[] = "New Sealer Control File";
constexpr char kSaveQuestion[] = "Do you want to save the modified Project File?";
// Size of the blocks the temporary file is copied in.
constexpr size_t kProjectBufferSize = 516;

// Reads one line whole, however long, and removes its line end (LF or
// CR LF; a last line without one keeps all of its text). False at end of
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
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
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
  for (const ProjectField& field : ProjectFields()) {
    if (field.key != key) {
      continue;
    }
    if (field.text != nullptr) {
      project.*field.text = CutToWidth(value, field.width);
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

size_t LastSeparator(std::string_view path) {
  return path.find_last_of("/\\");
}

// The temporary twin of |project_path|, in its directory.
std::string TemporaryPathFor(const std::string& project_path) {
  size_t separator = LastSeparator(project_path);
  if (separator == std::string::npos) {
    return kTemporaryProjectName;
  }
  return project_path.substr(0, separator + 1) + kTemporaryProjectName;
}

// Where the file dialog starts for a project without a path.
std::string ProposedProjectPath(const SealerState& state) {
  std::string name;
  if (!state.project.appl_name.empty()) {
    name = state.project.appl_name + "." + std::string(kProjectFileExtension);
  }
  std::string directory = state.settings.project_directory;
  if (directory.empty()) {
    return name;
  }
  if (directory.back() != '/' && directory.back() != '\\') {
    directory += '/';
  }
  return directory + name;
}

bool SaveFailed(FormView& view, std::string_view what, std::string_view path) {
  std::string text = "Unable to create ";
  text += what;
  text += " \"";
  text += path;
  text += "\"";
  BeepAndShow(BeepKind::kSimple,
              {view.Owner(), std::move(text), kSealerCaption, BoxIcon::kNone, BoxButtons::kOk});
  return false;
}

// Copies the written temporary file over the project file. On failure the
// temporary file is kept: it may be the only complete copy left.
bool CopyTemporary(std::FILE* temporary, const std::string& project_path) {
  FilePtr target(std::fopen(project_path.c_str(), "wb"));
  if (!target) {
    return false;
  }
  std::rewind(temporary);
  char buffer[kProjectBufferSize];
  bool ok = true;
  for (;;) {
    size_t got = std::fread(buffer, 1, sizeof buffer, temporary);
    if (got > 0 && std::fwrite(buffer, 1, got, target.get()) != got) {
      ok = false;
      break;
    }
    if (got < sizeof buffer) {
      ok = std::ferror(temporary) == 0;
      break;
    }
  }
  return CloseChecked(target) && ok;
}

void ShowCorrupted(FormView& view, const std::string& path) {
  InfoBox(view.Owner(), "Project file " + path + " corrupted");
}

}  // namespace

bool NewProject(SealerState& state, FormView& view) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  SealerProject& project = state.project;
  project = SealerProject{};
  project.file_version = std::string(kNewProjectVersion);
  project.version = std::string(kNewProjectVersion);
  project.owner = CutToWidth(state.settings.owner, kOwnerWidth);
  project.copyright = CutToWidth(state.settings.copyright, kCopyrightWidth);
  FillForm(state, view, std::nullopt);
  return true;
}

void FillForm(SealerState& state, FormView& view, std::optional<std::string_view> project_path) {
  SealerProject& project = state.project;
  view.EnableStatusTexts(false);
  view.SetFieldText(FormControl::kOwner, project.owner);
  view.SetFieldText(FormControl::kName, project.appl_name);
  view.SetFieldText(FormControl::kInstallTo, project.install_to);
  view.SetFieldText(FormControl::kCommandLine, project.command_line);
  view.SetFieldText(FormControl::kSealFrom, project.seal_from);
  view.SetFieldText(FormControl::kPutTo, project.put_to);
  // A named project keeps its name: the package files are named after it.
  view.EnableControl(FormControl::kName, project.appl_name.empty());
  project.prev_seal_from = project.seal_from;

  std::string title = kWindowTitle;
  title += " - [";
  title += project_path && !project_path->empty() ? *project_path : kNewFileTitle;
  title += "]";
  view.SetWindowTitle(title);

  view.FileList().Clear();
  view.SetFieldText(FormControl::kDirectoryCount, "0");
  view.SetFieldText(FormControl::kFileCount, "0");
  WidthListReset(view.FileList());
  WidthListReset(view.WorkList());
  view.FocusControl(FormControl::kOwner, true);
  // After the field writes, which mark the form as edited.
  state.project_modified = false;
  view.EnableControl(FormControl::kScan, false);
  view.EnableControl(FormControl::kSeal, false);
  view.EnableStatusTexts(true);
}

bool ReadProjectHeader(std::FILE* file, SealerProject& project) {
  std::string project_path = std::move(project.project_path);
  project = SealerProject{};
  project.project_path = std::move(project_path);

  std::string line;
  if (!ReadNonEmptyLine(file, line) || !line.starts_with(kProjectMagic)) {
    return false;
  }
  while (ReadNonEmptyLine(file, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
      if (line.starts_with(kEndOfHeaderLine)) {
        return true;
      }
      break;
    }
    // The value starts past the writer's colon and blank.
    std::string_view rest(line);
    std::string_view value = colon + 2 <= rest.size() ? rest.substr(colon + 2) : "";
    StoreValue(project, rest.substr(0, colon), value);
  }
  ErrorBox("Bad Project File");
  return false;
}

bool OpenProject(SealerState& state, FormView& view, const std::string& path) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file || IsDirectory(file.get())) {
    return false;
  }
  SealerProject& project = state.project;
  if (!ReadProjectHeader(file.get(), project)) {
    file.reset();
    ShowCorrupted(view, path);
    NewProject(state, view);
    return false;
  }
  project.project_path = path;
  FillForm(state, view, path);
  view.SetFieldText(FormControl::kDirectoryCount, std::to_string(project.directory_count));
  view.SetFieldText(FormControl::kFileCount, std::to_string(project.file_count));

  ListBox& list = view.FileList();
  list.SetRedraw(false);
  std::string line;
  while (ReadProjectLine(file.get(), line)) {
    if (!line.empty()) {
      list.Add(line);
      WidthListAdd(list, line);
    }
  }
  list.SetRedraw(true);
  // A list cut short by a read error must not be taken for the whole list:
  // the next save would drop the rest.
  if (std::ferror(file.get()) != 0) {
    file.reset();
    ShowCorrupted(view, path);
    NewProject(state, view);
    return false;
  }
  if (list.Count() > 0) {
    list.Select(0);
  }
  return true;
}

bool SaveProject(SealerState& state, FormView& view, bool ask_first, bool save_as) {
  // Collecting the form would change the record a running seal works from.
  if (RefuseWhileSealing(state)) {
    return false;
  }
  if (ask_first) {
    BoxAnswer answer = AskBox(view.Owner(), kSaveQuestion, BoxButtons::kYesNoCancel);
    if (answer == BoxAnswer::kNo) {
      return true;
    }
    if (answer != BoxAnswer::kYes) {
      return false;
    }
  }
  SealerProject& project = state.project;
  CollectForm(project, view, false);

  bool choose = save_as || project.project_path.empty();
  if (choose) {
    std::string path =
        project.project_path.empty() ? ProposedProjectPath(state) : project.project_path;
    if (!view.ChooseProjectFile(path)) {
      // The next Save asks for a name again.
      project.project_path.clear();
      return false;
    }
    project.project_path = path;
  }
  const std::string& project_path = project.project_path;
  // A project file that carries the temporary name would be copied onto
  // itself after being emptied: write it directly.
  size_t separator = LastSeparator(project_path);
  std::string_view base_name =
      std::string_view(project_path).substr(separator == std::string::npos ? 0 : separator + 1);
  bool direct = choose || base_name == kTemporaryProjectName;
  std::string target = direct ? project_path : TemporaryPathFor(project_path);

  FilePtr out(std::fopen(target.c_str(), "w+b"));
  if (!out) {
    return SaveFailed(view, "temporary file", target);
  }
  HeaderLineWriter writer(out.get(), nullptr);
  WriteHeaderLines(writer, project, false);
  ListBox& list = view.FileList();
  for (int i = 0; i < list.Count(); ++i) {
    writer.WriteLine(list.Text(i), false);
  }
  bool written = writer.ok() && std::fflush(out.get()) == 0;
  if (direct) {
    if (!CloseChecked(out) || !written) {
      return SaveFailed(view, "temporary file", target);
    }
  } else {
    if (!written) {
      out.reset();
      std::remove(target.c_str());
      return SaveFailed(view, "temporary file", target);
    }
    if (!CopyTemporary(out.get(), project_path)) {
      return SaveFailed(view, "Project file", project_path);
    }
    out.reset();
    std::remove(target.c_str());
  }
  state.project_modified = false;
  return true;
}

}  // namespace qx
