#pragma once

// The main form held in memory, for the tests and for qxweb: fields in a
// table, in-memory list boxes, recorded progress. Sealer engine, without a window.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/list_box.h"
#include "sealer/project/form_view.h"

namespace qx {

// The form held in memory: fields in a table, lists as in-memory list boxes.
// Used by the tests and by the command-line program.
class MemoryFormView : public FormView {
 public:
  // Called by every progress step with its text; returns true to ask for
  // Cancel. Unset: never cancels.
  using ProgressHook = std::function<bool(std::string_view text)>;

  // A progress step of a stored file as it was given.
  struct FileStep {
    size_t index;
    size_t count;
    std::string name;
    int64_t bytes;
    int64_t done_bytes;
    int64_t total_bytes;
    bool operator==(const FileStep&) const = default;
  };

  std::string FieldText(FormControl id) const override;
  void SetFieldText(FormControl id, std::string_view text) override;
  void EnableControl(FormControl id, bool enabled) override { enabled_[id] = enabled; }
  void FocusControl(FormControl id, bool select_all) override;
  ListBox& FileList() override { return file_list_; }
  ListBox& WorkList() override { return work_list_; }
  void SetWindowTitle(std::string_view title) override { title_ = title; }
  void EnableStatusTexts(bool enabled) override { status_texts_enabled_ = enabled; }
  bool ProgressStep(std::string_view text, const SealProgress* progress) override;
  bool ChooseProjectFile(std::string& path) override;
  WindowHandle Owner() const override { return this; }

  void SetProgressHook(ProgressHook hook) { progress_hook_ = std::move(hook); }
  // The answer of the next ChooseProjectFile; nullopt cancels it.
  void SetNextProjectFile(std::optional<std::string> path) { next_project_file_ = std::move(path); }

  // Controls start enabled.
  bool IsEnabled(FormControl id) const;
  std::optional<FormControl> focus() const { return focus_; }
  bool focus_text_selected() const { return focus_text_selected_; }
  const std::string& title() const { return title_; }
  bool status_texts_enabled() const { return status_texts_enabled_; }
  const std::vector<std::string>& progress_texts() const { return progress_texts_; }
  const std::vector<FileStep>& file_steps() const { return file_steps_; }
  MemoryListBox& file_list() { return file_list_; }
  MemoryListBox& work_list() { return work_list_; }

 private:
  std::map<FormControl, std::string> texts_;
  std::map<FormControl, bool> enabled_;
  std::optional<FormControl> focus_;
  bool focus_text_selected_ = false;
  std::string title_;
  bool status_texts_enabled_ = true;
  MemoryListBox file_list_;
  MemoryListBox work_list_;
  std::vector<std::string> progress_texts_;
  std::vector<FileStep> file_steps_;
  ProgressHook progress_hook_;
  std::optional<std::string> next_project_file_;
};

}  // namespace qx
