#pragma once

// The sealer's main form: the project's fields, the file list with its
// counts, Scan and Seal, and the status line, over real widgets; the engine
// sees it as its FormView. Sealer window.

#include <QRect>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sealer/project/form_commands.h"
#include "sealer/project/form_view.h"
#include "sealer/project/sealer_state.h"
#include "sealer/ui/session_keys.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;

namespace qx::ui {

class ListBoxWidget;

// The property under which each control of the form keeps its id.
inline constexpr char kControlIdProperty[] = "qxControlId";
inline constexpr int kFormHelpContext = 2000;

// How a control of the form follows the form's growth beyond its template's
// size: each edge moves by this many halves of the growth (0, 1 or 2), so
// that at the template's size every control is where the template puts it.
struct FormStretch {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

// The Put To that browsing to |seal_from| proposes: the path with its last
// component's extension, if any, replaced by ".qxd".
std::string ProposedPutTo(std::string_view seal_from);

class MainForm : public QWidget, public FormView {
  Q_OBJECT

 public:
  // |help_context| is the shell's: the form sets it back after each command.
  MainForm(SealerState& state, int& help_context, QWidget* parent = nullptr);
  ~MainForm() override;

  // FormView.
  std::string FieldText(FormControl id) const override;
  void SetFieldText(FormControl id, std::string_view text) override;
  void EnableControl(FormControl id, bool enabled) override;
  void FocusControl(FormControl id, bool select_all) override;
  ListBox& FileList() override;
  ListBox& WorkList() override;
  void SetWindowTitle(std::string_view title) override;
  void EnableStatusTexts(bool enabled) override { status_texts_enabled_ = enabled; }
  bool ProgressStep(std::string_view text, const SealProgress* progress) override;
  void SealFinished() override;
  bool ChooseProjectFile(std::string& path) override;
  WindowHandle Owner() const override { return static_cast<const QWidget*>(this); }

  // Shows string |id| in the status line (see status_texts.h), unless the
  // status texts are off or |id| is kNoStatusText.
  void ShowStatusText(int id);
  // Shows |text| in the status line, unless the status texts are off.
  void ShowStatusMessage(std::string_view text);
  QString StatusLine() const;

  // The form's commands, as its buttons give them. Scan and Seal ask their
  // questions, then run on a worker thread while the window goes on; the
  // result is shown when the run ends.
  void Browse();
  void Scan();
  void Seal();
  // Cancel of a running seal: the file under way finishes, nothing new starts.
  void RequestCancel();
  // Called on the worker thread at each file's step, after the step is
  // reported and before Cancel is read; for tests that act at a given step.
  void SetWorkerStepHook(std::function<void(size_t index)> hook) {
    worker_step_hook_ = std::move(hook);
  }

  // The key seals are signed with, as the settings name it.
  SessionKeys& signing_keys() { return signing_keys_; }

  QWidget* Control(FormControl id) const;
  QProgressBar* progress_bar() const { return progress_bar_; }
  QPushButton* cancel_button() const { return cancel_button_; }

 signals:
  // A seal starts or ends: the shell disables what the engine refuses meanwhile.
  void sealRunningChanged(bool running);
  // The seal's progress shows file |index| (from 0) of |count|.
  void sealProgress(int index, int count);
  // A run's step, from the worker thread; |index| is -1 for a step that
  // starts no file.
  void runStep(const QString& text, qint64 index, qint64 count, qint64 done_bytes,
               qint64 total_bytes);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Placed {
    QWidget* widget;
    QRect rect;  // at the template's size
    FormStretch stretch;
  };

  void Build();
  void Place(QWidget* widget, const QRect& rect, FormStretch stretch);
  // Puts every control where the form's size wants it.
  void Arrange();
  void FieldLeft(FormControl id);
  void ShowSealing(bool sealing);
  void ShowRunStep(const QString& text, qint64 index, qint64 count, qint64 done_bytes,
                   qint64 total_bytes);
  // A scan or a seal starts or ends: the commands that must wait are refused.
  void BeginRun();
  void EndRun();
  // Runs |run| on the worker thread, then |done| with its outcome here.
  template <typename T>
  void StartRun(FormRequest request, FormOutcome<T> (*run)(const FormRequest&, const RunProgress&),
                std::function<void(FormOutcome<T>)> done);
  // Puts the settings' signing key, if any, into the seal options; false
  // when it cannot be loaded (after a box) or its passphrase is cancelled.
  bool PrepareSigningKey();
  void CommandDone() { help_context_ = kFormHelpContext; }
  QLineEdit* Edit(FormControl id) const;

  SealerState& state_;
  int& help_context_;
  std::map<FormControl, QWidget*> controls_;
  std::vector<Placed> placed_;
  // The bytes each field was last given, for names that are not UTF-8.
  std::map<FormControl, std::pair<QString, std::string>> given_;
  SessionKeys signing_keys_;
  ListBoxWidget* file_list_ = nullptr;
  ListBoxWidget* work_list_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  bool status_texts_enabled_ = false;
  std::atomic<bool> cancel_requested_ = false;
  QThread* worker_ = nullptr;
  std::function<void(size_t)> worker_step_hook_;
  bool sealing_shown_ = false;
  bool checking_field_ = false;
};

}  // namespace qx::ui
