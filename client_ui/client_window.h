#pragma once

// The client's window: the cached applications in the order the cache keeps
// them, the details of the one selected, and the commands of "qxweb cache"
// and "qxweb update" as buttons and menu items. Every command takes the
// client's lock for its own duration only, so that qxweb commands run while
// the window stands idle. Client window.

#include <sys/types.h>

#include <QMainWindow>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/cache/cache_list.h"
#include "core/platform/user_interface.h"
#include "widgets/help_key_filter.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace qx {
class ClientCache;
}

namespace qx::ui {

class HelpWindow;
class ListBoxWidget;
class UpdateRun;

class ClientWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Asks for a text: (title, label, text proposed) -> the text, or nothing
  // when cancelled.
  using TextQuestion =
      std::function<std::optional<QString>(const QString&, const QString&, const QString&)>;

  // Opens on the cache as it stands: marked applications are asked about
  // first, then the list is loaded.
  explicit ClientWindow(QWidget* parent = nullptr);
  ~ClientWindow() override;

  // The commands, as the buttons and menu items run them.
  void Refresh();
  // Moves the selected application |rows| down (up when negative) and
  // saves the order; reloads instead when another command changed the list.
  void MoveSelected(int rows);
  void MoveUp() { MoveSelected(-1); }
  void MoveDown() { MoveSelected(1); }
  void LaunchSelected();
  void UpdateSelected();
  void CancelUpdate();
  void ToggleMarkOfSelected();
  void RemoveSelected();
  void AskInstallFromUrl();
  void AskCacheRoot();
  void ShowContextHelp(HelpSource source);

  // Installs from the URL the user gave; set by the program.
  std::function<void(const QString& url)> install_from_url;
  // Asks for the URL and the new cache root; a text dialog unless replaced.
  TextQuestion ask_text;

  WindowHandle Handle() const { return static_cast<const QWidget*>(this); }
  ListBoxWidget* list() const { return list_; }
  // The registry name of the selected application; empty when none.
  std::string SelectedName() const;
  // The details shown, by label ("Version", "Form", "Size", "Source",
  // "Signer", ...).
  QString Detail(const QString& label) const;
  QString StatusText() const;
  QString RootText() const;
  QProgressBar* progress() const { return progress_; }
  QPushButton* Button(const QString& object_name) const;
  QAction* Action(const QString& object_name) const;
  HelpWindow* help_window() const { return help_.get(); }
  bool update_running() const;
  // The last program Launch started, for the tests.
  pid_t last_launched() const { return last_launched_; }

 signals:
  void updateFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildCentre();
  QPushButton* AddButton(const QString& object_name, const QString& label, int context,
                         void (ClientWindow::*command)());
  // Runs |body| with the client's cache open (its lock taken) and lets it go
  // afterwards; an enclosing command's cache is used as it is. False, with
  // the reason shown, when the cache cannot be opened.
  bool WithCache(const std::function<void(ClientCache&)>& body);
  // Sweeps the marked applications, asking for each, and lists the rest.
  void LoadList(ClientCache& cache);
  void ShowDetails();
  void UpdateButtons();
  void ShowProblems(const std::string& caption, const std::vector<std::string>& problems);
  void SetStatus(const QString& text);
  void UpdateProgressed(qint64 bytes_done, qint64 bytes_total, int files_done, int files_total);
  void UpdateEnded();

  ListBoxWidget* list_ = nullptr;
  std::map<QString, QLabel*> details_;
  QLabel* root_label_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  std::unique_ptr<HelpWindow> help_;
  std::unique_ptr<HelpKeyFilter> help_key_filter_;
  std::optional<int> menu_help_context_;
  std::unique_ptr<UpdateRun> update_;
  CacheState state_;
  ClientCache* held_ = nullptr;
  pid_t last_launched_ = -1;
  bool has_source_ = false;  // the selected application records a URL
};

}  // namespace qx::ui
