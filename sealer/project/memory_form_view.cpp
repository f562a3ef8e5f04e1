// The main form held in memory. Sealer engine, without a window.
#include "sealer/project/memory_form_view.h"

#include "sealer/project/seal_plan.h"

namespace qx {

FormView::~FormView() = default;

std::string MemoryFormView::FieldText(FormControl id) const {
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

void MemoryFormView::SetFieldText(FormControl id, std::string_view text) {
  texts_[id] = std::string(text);
}

void MemoryFormView::FocusControl(FormControl id, bool select_all) {
  focus_ = id;
  focus_text_selected_ = select_all;
}

bool MemoryFormView::ProgressStep(std::string_view text, const SealProgress* progress) {
  progress_texts_.emplace_back(text);
  if (progress != nullptr) {
    file_steps_.push_back({progress->index, progress->count, std::string(progress->name),
                           progress->bytes, progress->done_bytes, progress->total_bytes});
  }
  return progress_hook_ ? progress_hook_(text) : false;
}

bool MemoryFormView::ChooseProjectFile(std::string& path) {
  if (!next_project_file_) {
    return false;
  }
  path = *next_project_file_;
  return true;
}

bool MemoryFormView::IsEnabled(FormControl id) const {
  auto it = enabled_.find(id);
  return it == enabled_.end() || it->second;
}

}  // namespace qx
