#pragma once

// The main form as the engine sees it: field texts, focus, the two list
// boxes, progress with Cancel. Sealer engine, without a window.

#include <string>
#include <string_view>

#include "core/platform/list_box.h"
#include "core/platform/user_interface.h"

namespace qx {

struct SealProgress;

// The controls of the sealer's main form, by their ids.
enum class FormControl : int {
  kOwner = 2051,
  kName = 2053,
  kCommandLine = 2054,
  kInstallTo = 2055,
  kPutTo = 2063,
  kSealFrom = 2064,
  kBrowse = 2066,
  kStatus = 2079,
  kDirectoryCount = 3054,
  kFileCount = 3055,
  kFileList = 3056,
  kSeal = 3061,
  kScan = 3066,
  kWorkList = 3100,
};

// The main form as the engine sees it. The window implements it over its
// widgets; MemoryFormView keeps it in memory for tests.
class FormView {
 public:
  virtual ~FormView();

  // The whole text of a field or label.
  virtual std::string FieldText(FormControl id) const = 0;
  virtual void SetFieldText(FormControl id, std::string_view text) = 0;
  virtual void EnableControl(FormControl id, bool enabled) = 0;
  // Gives |id| the keyboard focus, with all its text selected when asked.
  virtual void FocusControl(FormControl id, bool select_all) = 0;
  // The visible file list and the hidden work list of the scan.
  virtual ListBox& FileList() = 0;
  virtual ListBox& WorkList() = 0;
  virtual void SetWindowTitle(std::string_view title) = 0;
  // Status texts are off while the form is being filled.
  virtual void EnableStatusTexts(bool enabled) = 0;
  // Shows |text| as the seal's progress, then delivers at most one pending
  // event. |progress| tells where the run is when the step starts a file and
  // is null otherwise. True when Cancel was asked for.
  virtual bool ProgressStep(std::string_view text, const SealProgress* progress) = 0;
  // A seal has written its package, before the completion box: the
  // progress, if shown, is full and goes away.
  virtual void SealFinished() {}
  // Asks for the path to save the project under, starting from |path|, and
  // stores the choice there. False when cancelled.
  virtual bool ChooseProjectFile(std::string& path) = 0;
  // The owner of boxes shown over the form.
  virtual WindowHandle Owner() const = 0;
};

}  // namespace qx
