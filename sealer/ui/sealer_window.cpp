// The sealer's main window: menus, keys, help, close and end of session.
#include "sealer/ui/sealer_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QTimer>
#include <algorithm>

#include "core/fsutil/directory_tree.h"
#include "core/platform/config_directory.h"
#include "sealer/project/project_file.h"
#include "sealer/project/project_form.h"
#include "sealer/project/sealer_messages.h"
#include "sealer/project/sealer_settings.h"
#include "sealer/ui/main_form.h"
#include "sealer/ui/sealer_dialogs.h"
#include "sealer/ui/sealer_help.h"
#include "sealer/ui/session_keys.h"
#include "sealer/ui/status_texts.h"
#include "widgets/help_key_filter.h"
#include "widgets/help_window.h"
#include "widgets/qt_text.h"
#include "widgets/window_services.h"

namespace qx::ui {

namespace {

constexpr char kWindowTitle[] = "Tarnwick Web Lite Sealer";
constexpr int kFileMenuText = 100;
constexpr int kHelpMenuText = 300;
constexpr qsizetype kFixedFileItems = 7;

// The size the window opens at: the one it had when it last closed (a
// dimension never written takes the smallest), no smaller than |smallest| and
// no larger than the screen's work area.
QSize OpeningSize(const SealerSettings& settings, const QSize& smallest, const QScreen* screen) {
  const QSize largest =
      screen != nullptr ? smallest.expandedTo(screen->availableGeometry().size()) : smallest;
  const auto fit = [](int remembered, int low, int high) {
    return remembered <= 0 ? low : std::clamp(remembered, low, high);
  };
  return QSize(fit(settings.window_width, smallest.width(), largest.width()),
               fit(settings.window_height, smallest.height(), largest.height()));
}

bool IsRecentCommand(int id) {
  return id >= kFirstRecentCommand &&
         id < kFirstRecentCommand + static_cast<int>(kRecentProjectCount);
}

}  // namespace

std::string DefaultProjectDirectory() {
  const std::string data = DataDirectory();
  return data.empty() ? std::string("projects") : data + "projects";
}

SealerWindow::SealerWindow(const std::string& project_path, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                              Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("sealerWindow"));
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  ReadSettings(state_.settings);
  if (state_.settings.project_directory.empty()) {
    state_.settings.project_directory = DefaultProjectDirectory();
    std::string directory = state_.settings.project_directory;
    CreateDirectoryPath(directory);
  }

  help_ = std::make_unique<HelpWindow>(SealerHelpBook());
  BuildMenus();
  BuildAccelerators();

  // The form: the window is never smaller than the form's template, opens
  // at the size it last had and is centred on the screen.
  help_context_ = kFormHelpContext;
  form_ = new MainForm(state_, help_context_, this);
  setCentralWidget(form_);
  const QSize smallest(form_->minimumWidth(),
                       form_->minimumHeight() + menuBar()->sizeHint().height());
  setMinimumSize(smallest);
  QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  resize(OpeningSize(state_.settings, smallest, screen));
  CentreWindow(this, false);
  connect(form_, &MainForm::sealRunningChanged, this, &SealerWindow::SealRunningChanged);
  // A project that cannot be opened says why, and the window starts on a
  // new one.
  if (project_path.empty() || !OpenProject(state_, *form_, project_path)) {
    NewProject(state_, *form_);
  } else {
    AddRecentProject(state_.settings, project_path, Handle());
  }
  form_->EnableStatusTexts(true);
  form_->ShowStatusText(kWelcomeText);

  help_key_filter_ = std::make_unique<HelpKeyFilter>(
      *this, [this](HelpSource source) { ShowContextHelp(source); });
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
    EndSession(manager.allowsInteraction());
    manager.release();
  });
}

SealerWindow::~SealerWindow() = default;

QAction* SealerWindow::AddCommand(QMenu* menu, int id, const QString& label) {
  QAction* action = menu->addAction(label);
  action->setData(id);
  connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  actions_[id] = action;
  return action;
}

QAction* SealerWindow::Action(int id) const {
  const auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

void SealerWindow::BuildMenus() {
  // A tab in a label puts the rest in the menu's key column.
  file_menu_ = menuBar()->addMenu(QStringLiteral("&File"));
  AddCommand(file_menu_, kNewCommand, QStringLiteral("&New"));
  AddCommand(file_menu_, kOpenCommand, QStringLiteral("&Open ..."));
  AddCommand(file_menu_, kSaveCommand, QStringLiteral("&Save"))->setEnabled(false);
  AddCommand(file_menu_, kSaveAsCommand, QStringLiteral("Save &As ..."));
  AddCommand(file_menu_, kSigningKeyCommand, QStringLiteral("Signing &Key ..."));
  file_menu_->addSeparator();
  AddCommand(file_menu_, kExitCommand, QStringLiteral("E&xit\tCtrl+X"));

  help_menu_ = menuBar()->addMenu(QStringLiteral("&Help"));
  AddCommand(help_menu_, kHelpOnProgramCommand, QStringLiteral("Help on Tarnwick Web Lite Sealer"));
  help_menu_->addSeparator();
  AddCommand(help_menu_, kHelpContentsCommand, QStringLiteral("Help &Contents\tF1"));
  AddCommand(help_menu_, kHelpOnHelpCommand, QStringLiteral("&Help On Help"));
  help_menu_->addSeparator();
  AddCommand(help_menu_, kAboutCommand, QStringLiteral("About &Tarnwick Web Lite Sealer ... "));

  connect(file_menu_, &QMenu::aboutToShow, this, &SealerWindow::FileMenuAboutToShow);
  connect(help_menu_, &QMenu::aboutToShow, this, [this] { form_->ShowStatusText(kHelpMenuText); });
  connect(file_menu_, &QMenu::hovered, this, &SealerWindow::ItemHighlighted);
  connect(help_menu_, &QMenu::hovered, this, &SealerWindow::ItemHighlighted);
}

void SealerWindow::BuildAccelerators() {
  struct Accelerator {
    QKeySequence key;
    int command;
  };
  const Accelerator accelerators[] = {
      {QKeySequence(Qt::Key_F2), kOpenCommand},
      {QKeySequence(Qt::Key_F5), kSaveCommand},
      {QKeySequence(Qt::Key_F6), kNewCommand},
      {QKeySequence(Qt::Key_F7), kSaveAsCommand},
      {QKeySequence(Qt::Key_F8), kExitCommand},
      {QKeySequence(Qt::SHIFT | Qt::Key_F1), kAboutCommand},
      {QKeySequence(Qt::CTRL | Qt::Key_F1), kHelpOnProgramCommand},
  };
  for (const Accelerator& a : accelerators) {
    auto* shortcut = new QShortcut(a.key, this);
    connect(shortcut, &QShortcut::activated, this, [this, id = a.command] { RunCommand(id); });
  }
  // The line keys reach the main window only when nothing in the form
  // takes them, and do nothing there; the lists and fields keep them.
  const Accelerator line_keys[] = {
      {QKeySequence(Qt::Key_Up), kLineUpCommand},
      {QKeySequence(Qt::Key_PageUp), kLineUpCommand},
      {QKeySequence(Qt::SHIFT | Qt::Key_Up), kLineUpCommand},
      {QKeySequence(Qt::SHIFT | Qt::Key_PageUp), kLineUpCommand},
      {QKeySequence(Qt::Key_Down), kLineDownCommand},
      {QKeySequence(Qt::Key_PageDown), kLineDownCommand},
      {QKeySequence(Qt::SHIFT | Qt::Key_Down), kLineDownCommand},
      {QKeySequence(Qt::SHIFT | Qt::Key_PageDown), kLineDownCommand},
  };
  for (const Accelerator& a : line_keys) {
    auto* shortcut = new QShortcut(a.key, this, nullptr, nullptr, Qt::WidgetShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, id = a.command] { RunCommand(id); });
  }
  // Escape stops a running seal, as its Cancel button does.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { form_->RequestCancel(); });
}

void SealerWindow::FileMenuAboutToShow() {
  form_->ShowStatusText(kFileMenuText);
  if (!state_.seal_running) {
    UpdateSaveItem();
  }
  if (state_.settings.recent_list_changed) {
    RebuildRecentMenu();
    state_.settings.recent_list_changed = false;
  }
}

// Save is grayed while the project file holds what the form shows.
void SealerWindow::UpdateSaveItem() {
  Action(kSaveCommand)->setEnabled(state_.project.project_path.empty() || state_.project_modified);
}

void SealerWindow::ItemHighlighted(QAction* action) {
  const int id = action->data().toInt();
  if (id == 0) {
    return;
  }
  form_->ShowStatusText(id);
  menu_help_context_ = id < kAboutCommand ? std::optional<int>(id) : std::nullopt;
}

void SealerWindow::RebuildRecentMenu() {
  // The seven fixed items stay; the separator and the recent items after them go.
  const QList<QAction*> items = file_menu_->actions();
  for (qsizetype i = kFixedFileItems; i < items.size(); ++i) {
    actions_.erase(items[i]->data().toInt());
    delete items[i];
  }
  file_menu_->addSeparator();
  for (size_t n = 0; n < kRecentProjectCount; ++n) {
    const std::string& path = state_.settings.recent_projects[n];
    if (path.empty()) {
      break;
    }
    // "&" in a path is shown as itself, not as a mnemonic.
    QString shown = ToQString(path);
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* action = AddCommand(file_menu_, kFirstRecentCommand + static_cast<int>(n),
                                 QStringLiteral("&%1. %2").arg(n + 1).arg(shown));
    action->setEnabled(!state_.seal_running);
  }
}

bool SealerWindow::SaveIfModified() {
  return !state_.project_modified || SaveProject(state_, *form_, true, false);
}

void SealerWindow::OpenInto(const std::string& path) {
  // A project that is not opened is not recent, and offers no scan.
  if (!OpenProject(state_, *form_, path)) {
    return;
  }
  AddRecentProject(state_.settings, state_.project.project_path, Handle());
  form_->EnableControl(FormControl::kScan, true);
  form_->ShowStatusMessage("");  // nothing of the last project's seal stays
}

void SealerWindow::SaveAs() {
  if (!SaveProject(state_, *form_, false, true)) {
    return;
  }
  form_->EnableControl(FormControl::kName, state_.project.appl_name.empty());
  AddRecentProject(state_.settings, state_.project.project_path, Handle());
  setWindowTitle(
      QStringLiteral("%1 - [%2]")
          .arg(QString::fromLatin1(kWindowTitle), ToQString(state_.project.project_path)));
}

void SealerWindow::ChooseSigningKey() {
  const std::string current = state_.settings.signing_key;
  SessionKeys& keys = form_->signing_keys();
  const std::optional<std::string> chosen = ChooseSigningKeyFile(this, current, help_context_);
  if (!chosen) {
    // Cancel keeps the key; stopping to sign is asked, so that a slip keeps signing.
    if (!current.empty() &&
        AskBox(Handle(),
               "Seals are signed with the key " + current +
                   ".\n\nSeal without a signature from now on?",
               BoxButtons::kYesNo) == BoxAnswer::kYes &&
        WriteSigningKeySetting(state_.settings, "", Handle())) {
      keys.Forget();
      form_->ShowStatusMessage("Packages are sealed without a signature.");
    }
    return;
  }
  const SessionKeys::Result loaded = keys.Load(this, *chosen);
  if (loaded.outcome == SessionKeys::Outcome::kCancelled) {
    return;
  }
  if (loaded.outcome == SessionKeys::Outcome::kFailed) {
    std::string text = "Unable to use " + *chosen + " as the signing key: " + loaded.error;
    const std::string_view suffix = kPublicKeySuffix;
    if (chosen->size() > suffix.size() &&
        chosen->compare(chosen->size() - suffix.size(), suffix.size(), suffix) == 0) {
      text += " (it is the public half: choose the file without \"";
      text += suffix;
      text += "\")";
    }
    BeepAndShow(BeepKind::kSimple,
                {Handle(), text + ".", kSealerCaption, BoxIcon::kStop, BoxButtons::kOk});
    return;
  }
  if (!WriteSigningKeySetting(state_.settings, *chosen, Handle())) {
    return;
  }
  const std::string key_id = KeyIdOf(loaded.key);
  form_->ShowStatusMessage("Signing with key " + key_id);
  InfoBox(Handle(),
          "Seals are signed with the key " + *chosen + " from now on.\n\nKey id: " + key_id);
}

void SealerWindow::RunCommand(int id) {
  const bool drops_form = (id >= kNewCommand && id <= kSaveAsCommand) || IsRecentCommand(id);
  // A running seal keeps the key it loaded: the key is chosen between seals.
  if ((drops_form || id == kSigningKeyCommand) && RefuseWhileSealing(state_)) {
    return;
  }
  switch (id) {
    case kNewCommand:
      if (SaveIfModified() && NewProject(state_, *form_)) {
        form_->ShowStatusMessage("");
      }
      break;
    case kOpenCommand: {
      if (!SaveIfModified()) {
        break;
      }
      std::string path = state_.project.project_path;
      if (!ChooseProjectFile(this, false, path, state_.project.appl_name,
                             state_.settings.project_directory, help_context_)) {
        break;  // the project keeps its path
      }
      OpenInto(path);
      break;
    }
    case kSaveCommand:
      if (state_.project_modified && !state_.project.project_path.empty()) {
        SaveProject(state_, *form_, false, false);
      } else {
        SaveAs();
      }
      break;
    case kSaveAsCommand:
      SaveAs();
      break;
    case kSigningKeyCommand:
      ChooseSigningKey();
      break;
    case kExitCommand:
      if (state_.seal_running) {
        close();  // stops the seal first
      } else if (SaveIfModified()) {
        state_.project_modified = false;
        close();
      }
      break;
    case kHelpOnProgramCommand:
      help_->ShowTopic(kProgramHelpTopic);
      break;
    case kHelpContentsCommand:
      help_->ShowContents();
      break;
    case kHelpOnHelpCommand:
      help_->ShowHelpOnHelp();
      break;
    case kAboutCommand: {
      AboutDialog about(this);
      about.setWindowModality(Qt::WindowModal);
      about.exec();
      break;
    }
    default:
      if (IsRecentCommand(id)) {
        // The path is taken before the save question, which may reorder the list.
        const std::string path =
            state_.settings.recent_projects[static_cast<size_t>(id - kFirstRecentCommand)];
        if (!path.empty() && SaveIfModified()) {
          OpenInto(path);
        }
      }
      break;
  }
}

void SealerWindow::ShowContextHelp(HelpSource source) {
  int context = 0;
  if (source == HelpSource::kMenu) {
    if (!menu_help_context_) {
      return;
    }
    context = *menu_help_context_;
    // The menu closes, so that the topic is not hidden behind it.
    while (QWidget* popup = QApplication::activePopupWidget()) {
      popup->close();
    }
  } else {
    context = help_context_;
    const bool file_dialog = help_context_ >= 801 && help_context_ <= 805;
    const QWidget* focus = QApplication::focusWidget();
    if (!file_dialog && focus != nullptr) {
      const QVariant id = focus->property(kControlIdProperty);
      if (id.isValid()) {
        context = id.toInt();
      }
    }
    menu_help_context_ = context;
  }
  help_->ShowTopic(context);
}

void SealerWindow::SealRunningChanged(bool running) {
  for (const auto& [id, action] : actions_) {
    if (id != kExitCommand && id < kHelpOnProgramCommand) {
      action->setEnabled(!running);
    }
  }
  if (!running) {
    UpdateSaveItem();
    if (close_pending_) {
      close_pending_ = false;
      QTimer::singleShot(0, this, &QWidget::close);
    }
  }
}

void SealerWindow::EndSession(bool may_ask) {
  if (state_.project_modified && may_ask && !state_.seal_running) {
    SaveProject(state_, *form_, true, false);
  }
  KeepWindowSize();
  WriteSettings(state_.settings, Handle());
}

void SealerWindow::KeepWindowSize() {
  // A maximised window remembers the size it comes back to.
  const QSize size = isMaximized() || isFullScreen() ? normalGeometry().size() : this->size();
  if (!size.isEmpty()) {
    state_.settings.window_width = size.width();
    state_.settings.window_height = size.height();
  }
}

void SealerWindow::closeEvent(QCloseEvent* event) {
  if (state_.seal_running) {
    // The seal stops at the next file, then the window closes.
    form_->RequestCancel();
    close_pending_ = true;
    event->ignore();
    return;
  }
  if (state_.project_modified) {
    SaveProject(state_, *form_, true, false);  // Cancel closes as No does
  }
  if (!state_.project.project_path.empty()) {
    AddRecentProject(state_.settings, state_.project.project_path, Handle());
  }
  KeepWindowSize();
  WriteSettings(state_.settings, Handle());
  help_->Quit();
  event->accept();
}

}  // namespace qx::ui
