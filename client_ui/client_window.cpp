// The client's window: list, details, commands, update runs and help.
#include "client_ui/client_window.h"

#include <sys/wait.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <set>
#include <thread>

#include "client/cache_details.h"
#include "client/client_cache.h"
#include "client_ui/client_help.h"
#include "client_ui/update_run.h"
#include "core/cache/cache_registry.h"
#include "core/fsutil/path_text.h"
#include "core/launch/launch.h"
#include "widgets/help_window.h"
#include "widgets/list_box_widget.h"
#include "widgets/qt_text.h"
#include "widgets/window_services.h"

namespace qx::ui {

namespace {

constexpr char kWindowTitle[] = "Tarnwick Web Client";
// The progress bar's steps: bytes are counted in 64 bits, the bar in int.
constexpr int kProgressSteps = 1000;

// The labels of the details pane, in their order.
const char* const kDetailLabels[] = {"Name",   "Version", "Form",   "Size",      "Source",
                                     "Signer", "Marked",  "Folder", "Registered"};

// Waits for a started application on a thread of its own, so that it leaves
// no zombie behind however long it runs.
void ReapWhenEnded(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

QString Printable(std::string_view text) {
  return ToQString(PrintableText(text));
}

QString SizeText(int64_t bytes) {
  const QLocale locale = QLocale::c();
  return QStringLiteral("%1 (%2 bytes)")
      .arg(locale.formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat))
      .arg(locale.toString(static_cast<qlonglong>(bytes)));
}

std::vector<std::string> ListLines(const ListBoxWidget& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) {
    lines.push_back(list.Text(i));
  }
  return lines;
}

// Names compare as the registry compares them: without regard to case.
std::set<std::string> NameSet(const std::vector<std::string>& names) {
  std::set<std::string> set;
  for (const std::string& name : names) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    set.insert(lower);
  }
  return set;
}

std::optional<QString> AskTextInDialog(QWidget* parent, const QString& title, const QString& label,
                                       const QString& proposed) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(parent, title, label, QLineEdit::Normal, proposed, &ok);
  if (!ok) {
    return std::nullopt;
  }
  return text;
}

}  // namespace

ClientWindow::ClientWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("clientWindow"));
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  help_ = std::make_unique<HelpWindow>(ClientHelpBook());
  ask_text = [this](const QString& title, const QString& label, const QString& proposed) {
    return AskTextInDialog(this, title, label, proposed);
  };
  BuildMenus();
  setCentralWidget(BuildCentre());
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("statusText"));
  statusBar()->addWidget(status_, 1);
  resize(760, 480);
  help_key_filter_ = std::make_unique<HelpKeyFilter>(
      *this, [this](HelpSource source) { ShowContextHelp(source); });
  Refresh();
}

ClientWindow::~ClientWindow() = default;

void ClientWindow::BuildMenus() {
  const auto add = [this](QMenu* menu, const char* name, const QString& label, int context,
                          void (ClientWindow::*command)()) {
    QAction* action = menu->addAction(label);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(context);
    connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
    return action;
  };
  QMenu* cache = menuBar()->addMenu(QStringLiteral("&Cache"));
  add(cache, "installAction", QStringLiteral("&Install from URL..."), kClientCacheTopic,
      &ClientWindow::AskInstallFromUrl);
  add(cache, "refreshAction", QStringLiteral("&Refresh"), kClientOrderTopic, &ClientWindow::Refresh)
      ->setShortcut(QKeySequence::Refresh);
  add(cache, "rootAction", QStringLiteral("Change Cache &Root..."), kClientCacheTopic,
      &ClientWindow::AskCacheRoot);
  cache->addSeparator();
  QAction* quit = cache->addAction(QStringLiteral("&Quit"));
  quit->setObjectName(QStringLiteral("quitAction"));
  quit->setShortcut(QKeySequence::Quit);
  quit->setData(kClientWindowTopic);
  connect(quit, &QAction::triggered, this, &QWidget::close);

  QMenu* application = menuBar()->addMenu(QStringLiteral("&Application"));
  add(application, "launchAction", QStringLiteral("&Launch"), kClientRunTopic,
      &ClientWindow::LaunchSelected);
  add(application, "updateAction", QStringLiteral("&Update"), kClientRunTopic,
      &ClientWindow::UpdateSelected);
  add(application, "cancelAction", QStringLiteral("&Cancel Update"), kClientRunTopic,
      &ClientWindow::CancelUpdate);
  application->addSeparator();
  add(application, "markAction", QStringLiteral("&Mark for Removal"), kClientRemovalTopic,
      &ClientWindow::ToggleMarkOfSelected);
  add(application, "removeAction", QStringLiteral("&Remove..."), kClientRemovalTopic,
      &ClientWindow::RemoveSelected);
  application->addSeparator();
  add(application, "upAction", QStringLiteral("Move &Up"), kClientOrderTopic, &ClientWindow::MoveUp)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
  add(application, "downAction", QStringLiteral("Move &Down"), kClientOrderTopic,
      &ClientWindow::MoveDown)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* contents = help->addAction(QStringLiteral("Help &Contents"));
  contents->setObjectName(QStringLiteral("helpContentsAction"));
  connect(contents, &QAction::triggered, help_.get(), &HelpWindow::ShowContents);
  QAction* on_window = help->addAction(QStringLiteral("Help on This &Window"));
  on_window->setObjectName(QStringLiteral("helpWindowAction"));
  connect(on_window, &QAction::triggered, this, [this] { help_->ShowTopic(kClientWindowTopic); });
  QAction* on_help = help->addAction(QStringLiteral("&Using Help"));
  on_help->setObjectName(QStringLiteral("helpOnHelpAction"));
  connect(on_help, &QAction::triggered, help_.get(), &HelpWindow::ShowHelpOnHelp);

  // The item under the mouse or the keys is the one F1 over a menu explains.
  for (QMenu* menu : {cache, application, help}) {
    connect(menu, &QMenu::hovered, this, [this](QAction* action) {
      menu_help_context_ =
          action->data().isValid() ? std::optional<int>(action->data().toInt()) : std::nullopt;
    });
  }
}

QPushButton* ClientWindow::AddButton(const QString& object_name, const QString& label, int context,
                                     void (ClientWindow::*command)()) {
  auto* button = new QPushButton(label);
  button->setObjectName(object_name);
  button->setProperty(kHelpContextProperty, context);
  connect(button, &QPushButton::clicked, this, [this, command] { (this->*command)(); });
  return button;
}

QWidget* ClientWindow::BuildCentre() {
  auto* centre = new QWidget(this);
  centre->setProperty(kHelpContextProperty, kClientWindowTopic);

  list_ = new ListBoxWidget(centre);
  list_->setObjectName(QStringLiteral("applicationList"));
  list_->setProperty(kHelpContextProperty, kClientWindowTopic);
  connect(list_, &QListWidget::currentRowChanged, this, [this] {
    ShowDetails();
    UpdateButtons();
  });
  connect(list_, &QListWidget::itemActivated, this, [this] { LaunchSelected(); });
  auto* order = new QHBoxLayout;
  order->addWidget(AddButton(QStringLiteral("upButton"), QStringLiteral("Move &Up"),
                             kClientOrderTopic, &ClientWindow::MoveUp));
  order->addWidget(AddButton(QStringLiteral("downButton"), QStringLiteral("Move &Down"),
                             kClientOrderTopic, &ClientWindow::MoveDown));
  order->addWidget(AddButton(QStringLiteral("refreshButton"), QStringLiteral("Re&fresh"),
                             kClientOrderTopic, &ClientWindow::Refresh));
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QStringLiteral("Cached applications:"), centre));
  left->addWidget(list_, 1);
  left->addLayout(order);

  auto* details_box = new QGroupBox(QStringLiteral("Details"), centre);
  details_box->setObjectName(QStringLiteral("detailsPane"));
  details_box->setProperty(kHelpContextProperty, kClientDetailsContext);
  auto* form = new QFormLayout(details_box);
  for (const char* label : kDetailLabels) {
    auto* value = new QLabel(details_box);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setWordWrap(true);
    value->setProperty(kHelpContextProperty, kClientDetailsContext);
    details_[QString::fromLatin1(label)] = value;
    form->addRow(QString::fromLatin1(label) + QLatin1Char(':'), value);
  }

  auto* run = new QHBoxLayout;
  run->addWidget(AddButton(QStringLiteral("launchButton"), QStringLiteral("&Launch"),
                           kClientRunTopic, &ClientWindow::LaunchSelected));
  run->addWidget(AddButton(QStringLiteral("updateButton"), QStringLiteral("U&pdate"),
                           kClientRunTopic, &ClientWindow::UpdateSelected));
  run->addWidget(AddButton(QStringLiteral("cancelButton"), QStringLiteral("&Cancel"),
                           kClientRunTopic, &ClientWindow::CancelUpdate));
  auto* removal = new QHBoxLayout;
  removal->addWidget(AddButton(QStringLiteral("markButton"), QStringLiteral("&Mark for Removal"),
                               kClientRemovalTopic, &ClientWindow::ToggleMarkOfSelected));
  removal->addWidget(AddButton(QStringLiteral("removeButton"), QStringLiteral("&Remove..."),
                               kClientRemovalTopic, &ClientWindow::RemoveSelected));
  progress_ = new QProgressBar(centre);
  progress_->setObjectName(QStringLiteral("updateProgress"));
  progress_->setRange(0, kProgressSteps);
  progress_->setValue(0);
  progress_->setFormat(QString());
  progress_->setProperty(kHelpContextProperty, kClientRunTopic);

  auto* right = new QVBoxLayout;
  right->addWidget(details_box, 1);
  right->addLayout(run);
  right->addWidget(progress_);
  right->addLayout(removal);

  auto* top = new QHBoxLayout;
  top->addLayout(left, 1);
  top->addLayout(right, 1);

  root_label_ = new QLabel(centre);
  root_label_->setObjectName(QStringLiteral("rootLabel"));
  root_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  root_label_->setProperty(kHelpContextProperty, kClientCacheTopic);
  auto* cache_row = new QHBoxLayout;
  cache_row->addWidget(new QLabel(QStringLiteral("Cache root:"), centre));
  cache_row->addWidget(root_label_, 1);
  cache_row->addWidget(AddButton(QStringLiteral("rootButton"), QStringLiteral("C&hange..."),
                                 kClientCacheTopic, &ClientWindow::AskCacheRoot));
  cache_row->addWidget(AddButton(QStringLiteral("installButton"),
                                 QStringLiteral("&Install from URL..."), kClientCacheTopic,
                                 &ClientWindow::AskInstallFromUrl));

  auto* layout = new QVBoxLayout(centre);
  layout->addLayout(top, 1);
  layout->addLayout(cache_row);
  return centre;
}

bool ClientWindow::WithCache(const std::function<void(ClientCache&)>& body) {
  if (held_ != nullptr) {
    body(*held_);
    return true;
  }
  std::string error;
  const std::unique_ptr<ClientCache> cache = ClientCache::Open(
      [this] {
        SetStatus(QStringLiteral("Waiting for another qxweb command to finish with the cache..."));
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      },
      &error);
  if (!cache) {
    ShowProblems("The cache cannot be used", {error});
    return false;
  }
  const BusyScope busy;
  held_ = cache.get();
  root_label_->setText(ToQString(cache->root()));
  root_label_->setToolTip(ToQString(cache->root_problem()));
  body(*cache);
  held_ = nullptr;
  return true;
}

void ClientWindow::Refresh() {
  WithCache([this](ClientCache& cache) { LoadList(cache); });
}

void ClientWindow::LoadList(ClientCache& cache) {
  const std::string selected = SelectedName();
  // Marked applications go through the client's own checked removal before
  // the list is loaded, so that the list's loading finds none left to ask
  // about.
  std::vector<std::string> problems;
  SweepCachedApplications(
      cache,
      [this](const std::string& name) {
        MessageBoxRequest question;
        question.owner = Handle();
        question.text = "Do you want to delete the application?";
        question.caption = "Application \"" + PrintableText(name) + "\" marked to be deleted";
        question.icon = BoxIcon::kQuestion;
        question.buttons = BoxButtons::kYesNo;
        return BeepAndShow(BeepKind::kSimple, question) == BoxAnswer::kYes;
      },
      problems);
  ShowProblems("Removing marked applications", problems);

  list_->blockSignals(true);
  list_->Clear();
  state_ = CacheState{};
  LoadApplicationList(list_, &state_);
  // Marked applications are struck through; a mark declined above is gone.
  for (int i = 0; i < list_->Count(); ++i) {
    CachedApplication application;
    ReadApplication(list_->Text(i), &application);
    QFont font = list_->item(i)->font();
    font.setStrikeOut(application.delete_mark == kYes);
    list_->item(i)->setFont(font);
    if (list_->Text(i) == selected) {
      list_->Select(i);
    }
  }
  list_->blockSignals(false);
  if (!cache.root_problem().empty()) {
    SetStatus(Printable(cache.root_problem()));
  } else {
    SetStatus(list_->Count() == 0
                  ? QStringLiteral("No applications are cached.")
                  : QStringLiteral("%1 application(s) cached.").arg(list_->Count()));
  }
  ShowDetails();
  UpdateButtons();
}

void ClientWindow::MoveSelected(int rows) {
  const int from = list_->currentRow();
  const int to = from + rows;
  if (from < 0 || to < 0 || to >= list_->count()) {
    return;
  }
  WithCache([&](ClientCache& cache) {
    // Another command may have installed or removed something since the
    // list was read: the order shown is then not the cache's to save.
    if (NameSet(ListedApplicationNames()) != NameSet(ListLines(*list_))) {
      LoadList(cache);
      SetStatus(QStringLiteral(
          "The cache changed meanwhile: the list was read again and the order not saved."));
      return;
    }
    list_->blockSignals(true);
    QListWidgetItem* item = list_->takeItem(from);
    list_->insertItem(to, item);
    list_->setCurrentRow(to);
    list_->blockSignals(false);
    SaveApplicationOrder(list_, &state_);
    SetStatus(QStringLiteral("The order was saved."));
  });
  UpdateButtons();
}

std::string ClientWindow::SelectedName() const {
  const int row = list_->currentRow();
  return row < 0 ? std::string() : list_->Text(row);
}

void ClientWindow::ShowDetails() {
  const std::string name = SelectedName();
  has_source_ = false;
  if (name.empty()) {
    for (auto& [label, value] : details_) {
      value->clear();
    }
    return;
  }
  WithCache([&](ClientCache& cache) {
    const CachedApplicationDetails details = ReadCachedApplicationDetails(cache, name);
    const CachedApplication& record = details.record;
    details_[QStringLiteral("Name")]->setText(Printable(name));
    details_[QStringLiteral("Version")]->setText(Printable(record.version));
    details_[QStringLiteral("Form")]->setText(QString::fromLatin1(FormText(details)));
    details_[QStringLiteral("Size")]->setText(
        QStringLiteral("%1 stored, %2 expanded")
            .arg(SizeText(record.compressed_size), SizeText(record.uncompressed_size)));
    details_[QStringLiteral("Source")]->setText(
        details.source_url.empty() ? QStringLiteral("none (installed from a directory)")
                                   : Printable(details.source_url));
    has_source_ = !details.source_url.empty();
    details_[QStringLiteral("Signer")]->setText(Printable(details.signer));
    details_[QStringLiteral("Marked")]->setText(details.marked ? QStringLiteral("for removal")
                                                               : QStringLiteral("no"));
    details_[QStringLiteral("Folder")]->setText(Printable(details.directory));
    details_[QStringLiteral("Registered")]->setText(Printable(details.registered));
  });
}

QString ClientWindow::Detail(const QString& label) const {
  const auto found = details_.find(label);
  return found == details_.end() ? QString() : found->second->text();
}

QString ClientWindow::StatusText() const {
  return status_->text();
}

QString ClientWindow::RootText() const {
  return root_label_->text();
}

QPushButton* ClientWindow::Button(const QString& object_name) const {
  return findChild<QPushButton*>(object_name);
}

QAction* ClientWindow::Action(const QString& object_name) const {
  return findChild<QAction*>(object_name);
}

bool ClientWindow::update_running() const {
  return update_ != nullptr && update_->running();
}

void ClientWindow::UpdateButtons() {
  const bool selected = list_->currentRow() >= 0;
  const bool updating = update_ != nullptr;
  const int row = list_->currentRow();
  const bool marked = Detail(QStringLiteral("Marked")) == QStringLiteral("for removal");
  const auto enable = [this](const char* name, bool on) {
    if (QPushButton* button = Button(QString::fromLatin1(name) + QStringLiteral("Button"))) {
      button->setEnabled(on);
    }
    if (QAction* action = Action(QString::fromLatin1(name) + QStringLiteral("Action"))) {
      action->setEnabled(on);
    }
  };
  enable("launch", selected);
  // Only what came from a web server has a URL to be updated from.
  enable("update", selected && !updating && has_source_);
  enable("cancel", updating && !update_->cancelled());
  enable("mark", selected && !updating);
  enable("remove", selected && !updating);
  enable("up", selected && row > 0);
  enable("down", selected && row + 1 < list_->count());
  enable("root", !updating);
  enable("install", !updating);
  const QString mark_label =
      marked ? QStringLiteral("Un&mark") : QStringLiteral("&Mark for Removal");
  Button(QStringLiteral("markButton"))->setText(mark_label);
  Action(QStringLiteral("markAction"))->setText(mark_label);
}

void ClientWindow::SetStatus(const QString& text) {
  status_->setText(text);
}

void ClientWindow::ShowProblems(const std::string& caption,
                                const std::vector<std::string>& problems) {
  if (problems.empty()) {
    return;
  }
  std::string text;
  for (const std::string& problem : problems) {
    text += (text.empty() ? "" : "\n") + PrintableText(problem);
  }
  MessageBoxRequest box;
  box.owner = Handle();
  box.text = text;
  box.caption = caption;
  box.icon = BoxIcon::kStop;
  BeepAndShow(BeepKind::kSimple, box);
}

void ClientWindow::LaunchSelected() {
  const std::string name = SelectedName();
  if (name.empty()) {
    return;
  }
  WithCache([&](ClientCache& cache) {
    const LaunchOutcome outcome = LaunchCachedApplication(cache, name, {});
    if (outcome.pid > 0) {
      last_launched_ = outcome.pid;
      ReapWhenEnded(outcome.pid);
    }
    if (!outcome.problems.empty()) {
      ShowProblems(PrintableText(name) + " was not started", outcome.problems);
    } else if (outcome.result <= 32) {
      const char* reason = outcome.result == kLaunchExpandFailed ? "its files could not be expanded"
                           : outcome.result == kStartNotFound    ? "its program was not found"
                           : outcome.result == kStartNothing     ? "it has no command line"
                                                                 : "its program cannot be run";
      ShowProblems(PrintableText(name) + " was not started", {reason});
    } else {
      SetStatus(QStringLiteral("%1 started.").arg(Printable(name)));
    }
  });
  ShowDetails();
}

void ClientWindow::ToggleMarkOfSelected() {
  const std::string name = SelectedName();
  if (name.empty()) {
    return;
  }
  WithCache([&](ClientCache&) {
    CachedApplication application;
    ReadApplication(name, &application);
    const bool mark = application.delete_mark != kYes;
    if (WriteDeleteCacheSetting(name, mark ? kYes : kNo) == 1) {
      QFont font = list_->currentItem()->font();
      font.setStrikeOut(mark);
      list_->currentItem()->setFont(font);
      SetStatus(mark ? QStringLiteral("%1 is marked for removal: it goes at the next refresh, "
                                      "after a question.")
                           .arg(Printable(name))
                     : QStringLiteral("%1 is no longer marked.").arg(Printable(name)));
    }
  });
  ShowDetails();
  UpdateButtons();
}

void ClientWindow::RemoveSelected() {
  const std::string name = SelectedName();
  if (name.empty()) {
    return;
  }
  MessageBoxRequest question;
  question.owner = Handle();
  question.text = "Remove " + PrintableText(name) +
                  " from the cache: its files, its record and its registration?";
  question.caption = "Remove Application";
  question.icon = BoxIcon::kQuestion;
  question.buttons = BoxButtons::kYesNo;
  if (BeepAndShow(BeepKind::kSimple, question) != BoxAnswer::kYes) {
    return;
  }
  WithCache([&](ClientCache& cache) {
    const std::vector<std::string> problems = RemoveCachedApplication(cache, name);
    ShowProblems(PrintableText(name) + " was not removed", problems);
    LoadList(cache);
    if (problems.empty()) {
      SetStatus(QStringLiteral("%1 was removed.").arg(Printable(name)));
    }
  });
}

void ClientWindow::AskInstallFromUrl() {
  const std::optional<QString> url =
      ask_text(QStringLiteral("Install from URL"),
               QStringLiteral("The URL of the package's landing page or header, or a qxweb: link:"),
               QString());
  if (!url || url->trimmed().isEmpty() || !install_from_url) {
    return;
  }
  install_from_url(url->trimmed());
  Refresh();
}

void ClientWindow::AskCacheRoot() {
  const std::optional<QString> directory =
      ask_text(QStringLiteral("Change Cache Root"),
               QStringLiteral("The new cache root (an absolute path; taken only while no "
                              "application is cached):"),
               root_label_->text());
  if (!directory || directory->trimmed().isEmpty()) {
    return;
  }
  WithCache([&](ClientCache& cache) {
    const std::string refusal = cache.ChangeRoot(ToStdString(directory->trimmed()));
    if (!refusal.empty()) {
      ShowProblems("The cache root was not changed", {refusal});
      return;
    }
    root_label_->setText(ToQString(cache.root()));
    LoadList(cache);
    SetStatus(QStringLiteral("The cache root is now %1.").arg(root_label_->text()));
  });
}

void ClientWindow::UpdateSelected() {
  const std::string name = SelectedName();
  if (name.empty() || update_ != nullptr) {
    return;
  }
  update_ = std::make_unique<UpdateRun>(name);
  connect(update_.get(), &UpdateRun::progressed, this, &ClientWindow::UpdateProgressed);
  connect(update_.get(), &UpdateRun::waiting, this, [this] {
    SetStatus(QStringLiteral("Waiting for another qxweb command to finish with the cache..."));
  });
  connect(update_.get(), &UpdateRun::finished, this, &ClientWindow::UpdateEnded);
  progress_->setValue(0);
  progress_->setFormat(QStringLiteral("%p%"));
  SetStatus(QStringLiteral("Updating %1...").arg(Printable(name)));
  update_->Start();
  UpdateButtons();
}

void ClientWindow::CancelUpdate() {
  if (update_ == nullptr) {
    return;
  }
  update_->Cancel();
  SetStatus(QStringLiteral("Cancelling the update of %1...").arg(Printable(update_->name())));
  UpdateButtons();
}

void ClientWindow::UpdateProgressed(qint64 bytes_done, qint64 bytes_total, int files_done,
                                    int files_total) {
  if (update_ == nullptr || update_->cancelled()) {
    return;
  }
  const int value =
      bytes_total > 0 ? static_cast<int>(bytes_done * kProgressSteps / bytes_total) : 0;
  progress_->setValue(std::clamp(value, 0, kProgressSteps));
  progress_->setFormat(QStringLiteral("%1 of %2 files, %p%").arg(files_done).arg(files_total));
}

void ClientWindow::UpdateEnded() {
  // The run is deleted once its signal has returned, not from inside it.
  std::unique_ptr<UpdateRun> run = std::move(update_);
  const auto later = qScopeGuard([&run] { run.release()->deleteLater(); });
  run->deferred().Replay(CurrentUserInterface());
  const WebInstallOutcome& outcome = run->outcome();
  const QString name = Printable(run->name());
  if (!outcome.problems.empty()) {
    progress_->setValue(0);
    progress_->setFormat(QString());
    if (run->cancelled()) {
      SetStatus(
          QStringLiteral("The update of %1 was cancelled; the cache is as it was.").arg(name));
    } else {
      ShowProblems(run->name() + " was not updated; the cache is as it was", outcome.problems);
      SetStatus(QStringLiteral("%1 was not updated.").arg(name));
    }
  } else {
    progress_->setValue(kProgressSteps);
    if (outcome.current) {
      progress_->setFormat(QStringLiteral("already current"));
      SetStatus(
          QStringLiteral("%1 is already current (%2 files checked).").arg(name).arg(outcome.kept));
    } else {
      progress_->setFormat(QStringLiteral("%1 file(s) fetched, 100%").arg(outcome.fetched));
      SetStatus(QStringLiteral("%1 was updated: %2 file(s) fetched, %3 kept, %4 removed.")
                    .arg(name)
                    .arg(outcome.fetched)
                    .arg(outcome.kept)
                    .arg(outcome.removed));
    }
  }
  const QString status = StatusText();
  Refresh();
  SetStatus(status);
  emit updateFinished();
}

void ClientWindow::ShowContextHelp(HelpSource source) {
  int context = kClientWindowTopic;
  if (source == HelpSource::kMenu) {
    if (!menu_help_context_) {
      return;
    }
    context = *menu_help_context_;
    while (QWidget* popup = QApplication::activePopupWidget()) {
      popup->close();
    }
  } else {
    for (const QWidget* widget = QApplication::focusWidget(); widget != nullptr;
         widget = widget->parentWidget()) {
      const QVariant id = widget->property(kHelpContextProperty);
      if (id.isValid()) {
        context = id.toInt();
        break;
      }
    }
  }
  help_->ShowTopic(context);
}

void ClientWindow::closeEvent(QCloseEvent* event) {
  // A running update is asked to stop; the window waits for it, so that the
  // cache is never left to a thread nobody watches.
  if (update_ != nullptr) {
    update_->Cancel();
    update_.reset();
  }
  help_->Quit();
  event->accept();
}

}  // namespace qx::ui
