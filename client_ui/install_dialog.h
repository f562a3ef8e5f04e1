#pragma once

// The install dialog: what a link or the user names is fetched and shown
// (name, version, owner, download size, source and signer) before anything
// is installed; the install runs only on the user's yes, with progress and
// Cancel, and ends with the offer to launch. Client window.

#include <QDialog>
#include <QString>
#include <atomic>
#include <memory>
#include <string>

#include "client/web_install.h"
#include "core/platform/user_interface.h"

class QDialogButtonBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

namespace qx::ui {

class InstallDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Stage { kReading, kAsking, kInstalling, kInstalled, kLaunching, kFailed };

  // Starts reading the package at |source| (http or https) at once.
  explicit InstallDialog(const QString& source, QWidget* parent = nullptr);
  // Waits for a run still on its way after cancelling it.
  ~InstallDialog() override;

  Stage stage() const { return stage_; }
  // The registry name of the application installed; empty until then.
  const std::string& installed_name() const { return installed_name_; }
  // The text the dialog shows now, for the tests.
  QString message() const;
  QPushButton* install_button() const { return install_; }
  QPushButton* launch_button() const { return launch_; }
  QPushButton* cancel_button() const { return cancel_; }
  QProgressBar* progress_bar() const { return progress_; }

 signals:
  void stageChanged(qx::ui::InstallDialog::Stage stage);

 protected:
  void reject() override;

 private:
  void Enter(Stage stage, const QString& text);
  void ShowPreview();
  void Install();
  void Launch();
  void OnProgress(qint64 done, qint64 total, int files_done, int files_total);
  // Runs |work| on a thread of its own and |done| back on the window's.
  void Run(std::function<void()> work, std::function<void()> done);
  // Answers the dialog from QXWEB_CLIENT_TEST_ANSWERS ("install", "launch",
  // "cancel", comma-separated, one per question), for tests that start the
  // program the way a browser does.
  void AnswerForTest();

  QString source_;
  Stage stage_ = Stage::kReading;
  QLabel* text_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* install_ = nullptr;
  QPushButton* launch_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QThread* worker_ = nullptr;
  std::atomic<bool> cancelled_ = false;
  DeferredUserInterface deferred_;
  WebPreview preview_;
  WebInstallOutcome outcome_;
  std::string launch_problem_;
  std::string installed_name_;
};

// The dialog for |typed|, shown modal over |parent|: a "qxweb:?source=URL"
// link or an http or https URL. A link that is not one is refused in a
// message box. Returns the program's exit status: 0 when the application
// was installed, 1 when not, 2 for a refused link.
int RunInstallDialog(const QString& typed, QWidget* parent = nullptr);

}  // namespace qx::ui
