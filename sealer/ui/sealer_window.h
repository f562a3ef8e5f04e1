#pragma once

// The sealer's main window: the menu bar and its commands, the keys, the
// help requests and F1, the close and end-of-session flows, around the main
// form. Sealer window.

#include <QMainWindow>
#include <QPointer>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/user_interface.h"
#include "sealer/project/sealer_state.h"
#include "widgets/help_key_filter.h"

class QAction;
class QMenu;

namespace qx::ui {

class HelpWindow;
class MainForm;

// The menu and accelerator commands, by id.
enum Command : int {
  kNewCommand = 101,
  kOpenCommand = 102,
  kSaveCommand = 103,
  kSaveAsCommand = 104,
  kExitCommand = 105,
  kSigningKeyCommand = 106,
  kFirstRecentCommand = 151,
  kHelpOnProgramCommand = 301,
  kHelpContentsCommand = 302,
  kHelpOnHelpCommand = 303,
  kAboutCommand = 304,
  kLineUpCommand = 305,
  kLineDownCommand = 306,
};

// The topic of the program as a whole, which Help on the program shows.
inline constexpr int kProgramHelpTopic = 503;

// The project directory a new installation uses:
// $XDG_DATA_HOME/tarnwick/projects, else ~/.local/share/tarnwick/projects.
std::string DefaultProjectDirectory();

class SealerWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Starts on |project_path| (the whole command line; empty for a new
  // project) with the settings read from the settings file.
  explicit SealerWindow(const std::string& project_path, QWidget* parent = nullptr);
  ~SealerWindow() override;

  // Runs menu or accelerator command |id|; an unknown id does nothing.
  void RunCommand(int id);
  // The help request that F1 posts.
  void ShowContextHelp(HelpSource source);
  // The session ends: offers to save and writes the settings; always agrees.
  void EndSession(bool may_ask);

  WindowHandle Handle() const { return static_cast<const QWidget*>(this); }
  MainForm* form() const { return form_; }
  SealerState& state() { return state_; }
  HelpWindow* help_window() const { return help_.get(); }
  QAction* Action(int id) const;
  QMenu* file_menu() const { return file_menu_; }
  QMenu* help_menu() const { return help_menu_; }
  int help_context() const { return help_context_; }
  std::optional<int> menu_help_context() const { return menu_help_context_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void BuildAccelerators();
  QAction* AddCommand(QMenu* menu, int id, const QString& label);
  void FileMenuAboutToShow();
  void ItemHighlighted(QAction* action);
  void RebuildRecentMenu();
  void UpdateSaveItem();
  void SealRunningChanged(bool running);
  // Puts the window's size into the settings, for the next run to open at.
  void KeepWindowSize();

  // The project-dropping commands' first step: true when the caller may go on.
  bool SaveIfModified();
  void OpenInto(const std::string& path);
  void SaveAs();
  // File > Signing Key: checks and keeps the key chosen, or stops signing.
  void ChooseSigningKey();

  SealerState state_;
  int help_context_ = 0;
  std::optional<int> menu_help_context_;
  MainForm* form_ = nullptr;
  std::unique_ptr<HelpWindow> help_;
  QMenu* file_menu_ = nullptr;
  QMenu* help_menu_ = nullptr;
  std::map<int, QAction*> actions_;
  std::unique_ptr<HelpKeyFilter> help_key_filter_;
  bool close_pending_ = false;
};

}  // namespace qx::ui
