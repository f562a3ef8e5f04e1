// Fuzz target for the sealer's project file: any bytes as a project file in
// a scratch directory, opened into a fresh state and form. A project that
// opens must survive a save: saved over itself, it opens again into the same
// record and file list, and a second save writes the same bytes. A file that
// does not open is told about and left as it was.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/project_file.h"
#include "sealer/project/project_form.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/sealer_state.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;
using qx_fuzz::Require;

std::vector<std::string> ListTexts(qx::ListBox& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.Count(); ++i) {
    texts.push_back(list.Text(i));
  }
  return texts;
}

bool SameRecord(const qx::SealerProject& a, const qx::SealerProject& b) {
  for (const qx::ProjectField& field : qx::ProjectFields()) {
    if (field.text != nullptr ? a.*field.text != b.*field.text
                              : a.*field.number != b.*field.number) {
      std::fprintf(stderr, "project key %.*s differs\n", static_cast<int>(field.key.size()),
                   field.key.data());
      return false;
    }
  }
  return a.project_path == b.project_path;
}

// A project as the program holds it after opening a file.
struct OpenedProject {
  qx::SealerState state;
  qx::MemoryFormView view;
  bool opened = false;
};

void Open(OpenedProject& project, const std::string& path) {
  project.opened = qx::OpenProject(project.state, project.view, path);
}

void Save(OpenedProject& project) {
  Require(qx::SaveProject(project.state, project.view, false, false), "save failed");
  Require(!project.state.project_modified, "saved project still marked modified");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const fs::path directory = qx_fuzz::ScratchDirectory() / "project";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory);
  const std::string path = (directory / "Demo.QXS").string();
  Require(qx_fuzz::WriteBytes(path, bytes), "scratch file");

  qx_fuzz::QuietUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  OpenedProject first;
  Open(first, path);
  if (!first.opened) {
    Require(ui.boxes > 0, "a file that does not open was not told about");
    Require(first.view.FileList().Count() == 0, "a file that does not open filled the list");
    Require(qx_fuzz::ReadBytes(path) == bytes, "a file that does not open was changed");
    return 0;
  }
  Require(first.state.project.project_path == path, "opened project has another path");
  const std::vector<std::string> list = ListTexts(first.view.FileList());
  for (const std::string& line : list) {
    Require(!line.empty(), "empty line in the file list");
  }

  Save(first);
  const std::string saved = qx_fuzz::ReadBytes(path);
  Require(std::distance(fs::directory_iterator(directory), fs::directory_iterator()) == 1,
          "a save left a temporary file behind");

  OpenedProject second;
  Open(second, path);
  Require(second.opened, "a saved project does not open");
  // The file always says "No" for CompanyIdentity, whatever the record held.
  qx::SealerProject expected = first.state.project;
  expected.company_identity = std::string(qx::kNo);
  Require(SameRecord(expected, second.state.project), "a saved project opens into another record");
  Require(ListTexts(second.view.FileList()) == list, "a saved project opens with another list");

  Save(second);
  Require(qx_fuzz::ReadBytes(path) == saved, "a second save wrote other bytes");
  return 0;
}
