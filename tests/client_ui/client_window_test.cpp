// The client's window driven as its user drives it, over a cache that the
// built qxweb fills and reads: the list and its details, the order, marks
// and removals through the client's checked removal, launches, an update
// from a local web server, the cache root, help, and the lock let go
// between commands.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "client_ui/client_help.h"
#include "client_ui/client_window.h"
#include "client_ui/update_run.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"
#include "tests/support/web_server.h"
#include "widgets/help_window.h"
#include "widgets/list_box_widget.h"
#include "widgets/qt_text.h"

using qx::BoxAnswer;
using qx::ui::ClientWindow;
using qx_test::ReadFile;
using qx_test::RunCommand;
using qx_test::ShellQuote;

Q_DECLARE_METATYPE(BoxAnswer)

namespace {

// Writes its arguments and where it ran, and exits.
constexpr const char* kProbe =
    "#!/bin/sh\n"
    "{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > ran.txt\n"
    "exit 0\n";

}  // namespace

class ClientWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void listShowsWhatQxwebShows_data();
  void listShowsWhatQxwebShows();
  void reorderSavesTheOrder_data();
  void reorderSavesTheOrder();
  void reorderAfterAnotherCommandReloads_data();
  void reorderAfterAnotherCommandReloads();
  void markedApplicationsAreAskedAbout_data();
  void markedApplicationsAreAskedAbout();
  void removeAsksFirst_data();
  void removeAsksFirst();
  void launchStartsAndReaps();
  void updateFromTheWebShowsProgress();
  void cancelStopsTheProgressShown();
  void cacheRoot_data();
  void cacheRoot();
  void installFromUrlHandsTheUrlOver_data();
  void installFromUrlHandsTheUrlOver();
  void helpTopics_data();
  void helpTopics();
  void helpFromTheMenu();
  void commandsWaitForAnotherCommandsLock();

 private:
  // Runs qxweb with the test's configuration; its standard output, or a
  // failure recorded.
  std::string Qxweb(const std::string& arguments);
  // Seals the package |name| (installed to apps\NAME); its put-to directory.
  std::string MakePackage(const std::string& name, const std::string& extra_file = {},
                          const std::string& extra_bytes = {});
  void Install(const std::string& name);
  void OpenWindow();
  // The names "qxweb cache list" prints, in its order.
  QStringList ListedByQxweb();
  QStringList WindowLines();
  void Select(const std::string& name);
  // Whether another command could take the client's lock now.
  bool LockFree();
  void SaveScreenshot(QWidget* widget, const char* name);

  std::unique_ptr<qx_test::TempDir> home_;
  std::unique_ptr<qx_test::TempDir> work_;
  std::string config_;
  std::string data_;
  qx::ScriptedUserInterface ui_;
  std::unique_ptr<qx::ScopedUserInterface> ui_scope_;
  std::unique_ptr<ClientWindow> window_;
  std::vector<std::optional<QString>> text_answers_;
  QStringList text_questions_;
};

std::string ClientWindowTest::Qxweb(const std::string& arguments) {
  const auto result =
      RunCommand("XDG_CONFIG_HOME=" + ShellQuote(config_) + " XDG_DATA_HOME=" + ShellQuote(data_) +
                 " " + ShellQuote(qx_test::QxwebPath()) + " " + arguments + " </dev/null");
  if (result.status != 0) {
    qWarning("qxweb %s failed: %s%s", arguments.c_str(), result.out.c_str(), result.err.c_str());
  }
  return result.out;
}

std::string ClientWindowTest::MakePackage(const std::string& name, const std::string& extra_file,
                                          const std::string& extra_bytes) {
  const std::string source = *work_ / (name + "-src");
  qx_test::WriteFile(source + "/bin/probe", kProbe);
  qx_test::WriteFile(source + "/data/notes.txt", qx_test::TextBytes(30000, name.size()));
  if (!extra_file.empty()) {
    qx_test::WriteFile(source + "/" + extra_file, extra_bytes);
  }
  const std::string project = *work_ / (name + ".QXS");
  const std::string out = *work_ / (name + "-out");
  if (!qx_test::FileExists(project)) {
    Qxweb("new " + ShellQuote(project) + " --name " + name +
          " --command-line 'bin/probe one' --install-to apps --seal-from " + ShellQuote(source) +
          " --put-to " + ShellQuote(out));
  }
  Qxweb("seal --scan --create-put-to " + ShellQuote(project));
  return out;
}

void ClientWindowTest::Install(const std::string& name) {
  const std::string out = *work_ / (name + "-out");
  QVERIFY2(qx_test::FileExists(out + "/" + name + ".qxw"), name.c_str());
  QVERIFY(Qxweb("cache install " + ShellQuote(out + "/" + name + ".qxw")).find("installed") !=
          std::string::npos);
}

void ClientWindowTest::initTestCase() {
  home_ = std::make_unique<qx_test::TempDir>();
  work_ = std::make_unique<qx_test::TempDir>();
  config_ = *home_ / "config";
  data_ = *home_ / "data";
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data_));
  ui_scope_ = std::make_unique<qx::ScopedUserInterface>(ui_);
  for (const char* name : {"Alpha", "Beta", "Gamma"}) {
    MakePackage(name);
  }
}

void ClientWindowTest::init() {
  // Every case starts on an empty cache.
  QDir(QString::fromStdString(config_)).removeRecursively();
  QDir(QString::fromStdString(data_)).removeRecursively();
  ui_.Clear();
  ui_.SetDefaultAnswer(BoxAnswer::kOk);
  text_answers_.clear();
  text_questions_.clear();
}

void ClientWindowTest::cleanup() {
  if (window_ != nullptr) {
    window_->close();
    window_.reset();
  }
}

void ClientWindowTest::OpenWindow() {
  window_ = std::make_unique<ClientWindow>();
  window_->ask_text = [this](const QString& title, const QString&, const QString&) {
    text_questions_ << title;
    // An empty queue, like an empty entry in it, cancels.
    const bool cancelled = text_answers_.empty() || !text_answers_.front().has_value();
    const QString answer = cancelled ? QString() : *text_answers_.front();
    if (!text_answers_.empty()) {
      text_answers_.erase(text_answers_.begin());
    }
    return cancelled ? std::nullopt : std::make_optional(answer);
  };
  window_->show();
  QApplication::setActiveWindow(window_.get());
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

QStringList ClientWindowTest::ListedByQxweb() {
  QStringList names;
  std::istringstream lines(Qxweb("cache list"));
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    names << QString::fromStdString(line.substr(0, line.find(' ')));
  }
  return names;
}

QStringList ClientWindowTest::WindowLines() {
  QStringList lines;
  for (int i = 0; i < window_->list()->Count(); ++i) {
    lines << QString::fromStdString(window_->list()->Text(i));
  }
  return lines;
}

void ClientWindowTest::Select(const std::string& name) {
  const QStringList lines = WindowLines();
  const int row = static_cast<int>(lines.indexOf(QString::fromStdString(name)));
  QVERIFY2(row >= 0, name.c_str());
  window_->list()->setCurrentRow(row);
}

bool ClientWindowTest::LockFree() {
  const std::string path = config_ + "/tarnwick/qxweb.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return false;
  }
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

void ClientWindowTest::SaveScreenshot(QWidget* widget, const char* name) {
  const QString directory = qEnvironmentVariable("QX_SCREENSHOT_DIR");
  if (directory.isEmpty()) {
    return;
  }
  QDir().mkpath(directory);
  QVERIFY(widget->grab().save(directory + "/" + name + ".png"));
}

// Every detail the window shows is what "qxweb cache show" prints of the
// same application.
void ClientWindowTest::listShowsWhatQxwebShows_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("launched");
  QTest::newRow("stored") << "apps\\Beta" << false;
  QTest::newRow("expanded after a launch") << "apps\\Alpha" << true;
}

void ClientWindowTest::listShowsWhatQxwebShows() {
  QFETCH(QString, name);
  QFETCH(bool, launched);
  Install("Alpha");
  Install("Beta");
  if (launched) {
    Qxweb("cache launch " + ShellQuote(name.toStdString()));
  }
  OpenWindow();
  QCOMPARE(WindowLines(), ListedByQxweb());
  QCOMPARE(WindowLines(), QStringList({"apps\\Alpha", "apps\\Beta"}));
  QVERIFY(LockFree());
  Select(name.toStdString());
  std::istringstream show(Qxweb("cache show " + ShellQuote(name.toStdString())));
  std::map<std::string, std::string> shown;
  std::string line;
  while (std::getline(show, line)) {
    const size_t colon = line.find(':');
    shown[line.substr(0, colon)] = line.substr(std::min(line.size(), size_t{14}));
  }
  QCOMPARE(window_->Detail("Name"), name);
  QCOMPARE(window_->Detail("Version").toStdString(), shown["Version"]);
  QCOMPARE(window_->Detail("Form").toStdString(), shown["Form"]);
  QCOMPARE(window_->Detail("Form"), launched ? QString("expanded") : QString("stored"));
  QCOMPARE(window_->Detail("Signer").toStdString(), shown["Signer"]);
  QCOMPARE(window_->Detail("Folder").toStdString(), shown["Directory"]);
  QCOMPARE(window_->Detail("Registered").toStdString(), shown["Registered"]);
  const std::string stored = shown["Stored"].substr(0, shown["Stored"].find(' '));
  const std::string expanded = shown["Expanded"].substr(0, shown["Expanded"].find(' '));
  const QString size = window_->Detail("Size");
  const QString stored_text = QLocale::c().toString(std::stoll(stored));
  const QString expanded_text = QLocale::c().toString(std::stoll(expanded));
  QVERIFY2(size.contains("(" + stored_text + " bytes) stored"), qPrintable(size));
  QVERIFY2(size.contains("(" + expanded_text + " bytes) expanded"), qPrintable(size));
  QVERIFY(window_->Detail("Source").startsWith("none"));
  // Installed from a directory, it has no URL to be updated from.
  QVERIFY(!window_->Button("updateButton")->isEnabled());
  QVERIFY(window_->Button("launchButton")->isEnabled());
  QVERIFY(window_->RootText().endsWith("/tarnwick/cache"));
  if (!launched) {
    SaveScreenshot(window_.get(), "client-window");
  }
}

// Moves go into qxweb.ini at once, and qxweb lists in the order saved.
void ClientWindowTest::reorderSavesTheOrder_data() {
  QTest::addColumn<QString>("selected");
  QTest::addColumn<QString>("moves");  // u: up, d: down
  QTest::addColumn<QStringList>("order");
  QTest::newRow("first down") << "apps\\Alpha"
                              << "d" << QStringList{"apps\\Beta", "apps\\Alpha", "apps\\Gamma"};
  QTest::newRow("last to the top")
      << "apps\\Gamma"
      << "uu" << QStringList{"apps\\Gamma", "apps\\Alpha", "apps\\Beta"};
  QTest::newRow("past the end stays")
      << "apps\\Beta"
      << "ddd" << QStringList{"apps\\Alpha", "apps\\Gamma", "apps\\Beta"};
  QTest::newRow("down and back") << "apps\\Alpha"
                                 << "du" << QStringList{"apps\\Alpha", "apps\\Beta", "apps\\Gamma"};
}

void ClientWindowTest::reorderSavesTheOrder() {
  QFETCH(QString, selected);
  QFETCH(QString, moves);
  QFETCH(QStringList, order);
  Install("Alpha");
  Install("Beta");
  Install("Gamma");
  OpenWindow();
  Select(selected.toStdString());
  for (const QChar move : moves) {
    QPushButton* button = window_->Button(move == 'u' ? "upButton" : "downButton");
    if (button->isEnabled()) {
      QTest::mouseClick(button, Qt::LeftButton);
    }
  }
  QCOMPARE(WindowLines(), order);
  QCOMPARE(QString::fromStdString(window_->SelectedName()), selected);
  QCOMPARE(ListedByQxweb(), order);
  QVERIFY(LockFree());
  // A new window reads the order saved.
  window_.reset();
  OpenWindow();
  QCOMPARE(WindowLines(), order);
}

// When another command installed or removed an application since the list
// was read, a move reads the list again and saves nothing.
void ClientWindowTest::reorderAfterAnotherCommandReloads_data() {
  QTest::addColumn<QString>("command");
  QTest::addColumn<QStringList>("order");
  QTest::newRow("installed") << "cache install " +
                                    QString::fromStdString(*work_ / "Gamma-out/Gamma.qxw")
                             << QStringList{"apps\\Alpha", "apps\\Beta", "apps\\Gamma"};
  QTest::newRow("removed") << "cache remove Alpha" << QStringList{"apps\\Beta"};
}

void ClientWindowTest::reorderAfterAnotherCommandReloads() {
  QFETCH(QString, command);
  QFETCH(QStringList, order);
  Install("Alpha");
  Install("Beta");
  OpenWindow();
  Select("apps\\Alpha");
  Qxweb(command.toStdString());
  QTest::mouseClick(window_->Button("downButton"), Qt::LeftButton);
  QCOMPARE(WindowLines(), order);
  QCOMPARE(ListedByQxweb(), order);
  QVERIFY2(window_->StatusText().contains("changed meanwhile"), qPrintable(window_->StatusText()));
  // The next move, on the list as it now stands, is saved.
  window_->list()->setCurrentRow(0);
  window_->MoveDown();
  if (order.size() > 1) {
    order.swapItemsAt(0, 1);
  }
  QCOMPARE(ListedByQxweb(), order);
}

// A mark set in the window is asked about when the list is read again, and a
// confirmed removal takes the files, the record and the registration, as the
// client's checked removal does.
void ClientWindowTest::markedApplicationsAreAskedAbout_data() {
  QTest::addColumn<BoxAnswer>("answer");
  QTest::addColumn<QStringList>("left");
  QTest::newRow("yes") << BoxAnswer::kYes << QStringList{"apps\\Alpha", "apps\\Gamma"};
  QTest::newRow("no") << BoxAnswer::kNo << QStringList{"apps\\Alpha", "apps\\Beta", "apps\\Gamma"};
}

void ClientWindowTest::markedApplicationsAreAskedAbout() {
  QFETCH(BoxAnswer, answer);
  QFETCH(QStringList, left);
  Install("Alpha");
  Install("Beta");
  Install("Gamma");
  OpenWindow();
  Select("apps\\Beta");
  QTest::mouseClick(window_->Button("markButton"), Qt::LeftButton);
  QVERIFY(Qxweb("cache list").find("marked for deletion") != std::string::npos);
  QCOMPARE(window_->Detail("Marked"), QString("for removal"));
  QCOMPARE(window_->Button("markButton")->text(), QString("Un&mark"));
  QVERIFY(window_->list()->currentItem()->font().strikeOut());
  QVERIFY(ui_.boxes().empty());
  if (answer == BoxAnswer::kYes) {
    SaveScreenshot(window_.get(), "client-window-marked");
  }

  ui_.QueueAnswer(answer);
  QTest::mouseClick(window_->Button("refreshButton"), Qt::LeftButton);
  QCOMPARE(ui_.boxes().size(), size_t{1});
  QCOMPARE(ui_.boxes()[0].caption, std::string("Application \"apps\\Beta\" marked to be deleted"));
  QCOMPARE(ui_.boxes()[0].buttons, qx::BoxButtons::kYesNo);
  QCOMPARE(WindowLines(), left);
  QCOMPARE(ListedByQxweb(), left);
  const bool removed = answer == BoxAnswer::kYes;
  QCOMPARE(qx_test::FileExists(data_ + "/tarnwick/cache/apps/Beta/bin/probe"), !removed);
  QCOMPARE(ReadFile(config_ + "/tarnwick/registry.ini").find("apps\\Beta") != std::string::npos,
           !removed);
  QVERIFY(Qxweb("cache list").find("marked") == std::string::npos);
  // Asked once: the mark is gone either way.
  window_->Refresh();
  QCOMPARE(ui_.boxes().size(), size_t{1});
  QVERIFY(LockFree());
}

void ClientWindowTest::removeAsksFirst_data() {
  QTest::addColumn<BoxAnswer>("answer");
  QTest::addColumn<QStringList>("left");
  QTest::newRow("yes") << BoxAnswer::kYes << QStringList{"apps\\Beta"};
  QTest::newRow("no") << BoxAnswer::kNo << QStringList{"apps\\Alpha", "apps\\Beta"};
}

void ClientWindowTest::removeAsksFirst() {
  QFETCH(BoxAnswer, answer);
  QFETCH(QStringList, left);
  Install("Alpha");
  Install("Beta");
  OpenWindow();
  Select("apps\\Alpha");
  ui_.QueueAnswer(answer);
  QTest::mouseClick(window_->Button("removeButton"), Qt::LeftButton);
  QCOMPARE(ui_.boxes().size(), size_t{1});
  QVERIFY(ui_.boxes()[0].text.find("apps\\Alpha") != std::string::npos);
  QCOMPARE(WindowLines(), left);
  QCOMPARE(ListedByQxweb(), left);
  const bool removed = answer == BoxAnswer::kYes;
  QCOMPARE(QDir(QString::fromStdString(data_ + "/tarnwick/cache/apps/Alpha")).exists(), !removed);
  QCOMPARE(ReadFile(config_ + "/tarnwick/registry.ini").find("apps\\Alpha") != std::string::npos,
           !removed);
  QVERIFY(LockFree());
}

// Launch expands the stored files, starts the program in its directory, and
// waits for it in the background: it leaves no zombie.
void ClientWindowTest::launchStartsAndReaps() {
  Install("Alpha");
  OpenWindow();
  Select("apps\\Alpha");
  QCOMPARE(window_->Detail("Form"), QString("stored"));
  QTest::mouseClick(window_->Button("launchButton"), Qt::LeftButton);
  QVERIFY2(ui_.boxes().empty(), ui_.texts().empty() ? "" : ui_.texts()[0].c_str());
  const std::string package = data_ + "/tarnwick/cache/apps/Alpha";
  QTRY_COMPARE(ReadFile(package + "/ran.txt"), package + "\n[one]\n");
  QCOMPARE(window_->Detail("Form"), QString("expanded"));
  const pid_t pid = window_->last_launched();
  QVERIFY(pid > 0);
  // A child nobody waited for would stay in the process table as a zombie.
  QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), 10000);
  QVERIFY(LockFree());
}

// An update from a web server runs on its own thread: the window goes on
// taking events while the bar moves, and the bar ends full.
void ClientWindowTest::updateFromTheWebShowsProgress() {
  const std::string big = qx_test::RandomBytes(3 << 20, 5);
  const std::string out = MakePackage("Delta", "data/big.bin", big);
  qx_test::WebServer server(*work_ / "web", out);
  QVERIFY2(server.Start(), ReadFile(*work_ / "web/error.log").c_str());
  // Installed from the server's slow path, which the update then uses too.
  QVERIFY(Qxweb("install " + server.Url("/slow/Delta.htm")).find("installed") != std::string::npos);
  MakePackage("Delta", "data/big.bin", qx_test::RandomBytes(3 << 20, 6));
  Install("Alpha");

  OpenWindow();
  Select("apps\\Delta");
  QCOMPARE(window_->Detail("Source"), QString::fromStdString(server.Url("/slow/Delta.htm")));
  QVERIFY(!window_->Button("cancelButton")->isEnabled());
  qint64 most_done = 0;
  QSignalSpy finished(window_.get(), &ClientWindow::updateFinished);
  QTest::mouseClick(window_->Button("updateButton"), Qt::LeftButton);
  QVERIFY(window_->update_running());
  QVERIFY(window_->Button("cancelButton")->isEnabled());
  QVERIFY(!window_->Button("updateButton")->isEnabled());
  // While it runs, the window answers: another row's details come at once.
  int turns = 0;
  int seen_progress = 0;
  QElapsedTimer timer;
  timer.start();
  while (finished.isEmpty() && timer.elapsed() < 60000) {
    QTest::qWait(50);
    ++turns;
    Select(turns % 2 == 0 ? "apps\\Alpha" : "apps\\Delta");
    QCOMPARE(window_->Detail("Name"), QString(turns % 2 == 0 ? "apps\\Alpha" : "apps\\Delta"));
    if (window_->progress()->value() > 0 && window_->update_running()) {
      ++seen_progress;
      most_done = std::max<qint64>(most_done, window_->progress()->value());
    }
  }
  QCOMPARE(finished.size(), 1);
  QVERIFY2(ui_.boxes().empty(), ui_.texts().empty() ? "" : ui_.texts()[0].c_str());
  QVERIFY2(turns >= 20, qPrintable(QString::number(turns)));
  QVERIFY2(seen_progress >= 2, qPrintable(QString::number(seen_progress)));
  QVERIFY(most_done <= window_->progress()->maximum());
  QCOMPARE(window_->progress()->value(), window_->progress()->maximum());
  QVERIFY2(window_->StatusText().contains("was updated: 1 file(s) fetched"),
           qPrintable(window_->StatusText()));
  QVERIFY(!window_->update_running());
  Select("apps\\Delta");
  QVERIFY(window_->Button("updateButton")->isEnabled());
  QVERIFY(!window_->Button("cancelButton")->isEnabled());
  QVERIFY(LockFree());
  // The cache holds the new version: an update now finds it current.
  QVERIFY(Qxweb("update Delta").find("already current") != std::string::npos);
  SaveScreenshot(window_.get(), "client-window-updated");
}

// Cancel is taken once: the bar stays where Cancel found it, and the run
// still ends in the window without a box.
void ClientWindowTest::cancelStopsTheProgressShown() {
  const std::string out = MakePackage("Epsilon", "data/big.bin", qx_test::RandomBytes(3 << 20, 7));
  qx_test::WebServer server(*work_ / "web-cancel", out);
  QVERIFY2(server.Start(), ReadFile(*work_ / "web-cancel/error.log").c_str());
  QVERIFY(Qxweb("install " + server.Url("/slow/Epsilon.htm")).find("installed") !=
          std::string::npos);
  MakePackage("Epsilon", "data/big.bin", qx_test::RandomBytes(3 << 20, 8));
  OpenWindow();
  Select("apps\\Epsilon");
  QSignalSpy finished(window_.get(), &ClientWindow::updateFinished);
  QTest::mouseClick(window_->Button("updateButton"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(window_->progress()->value() > 0 || !finished.isEmpty(), 30000);
  QVERIFY(finished.isEmpty());
  QTest::mouseClick(window_->Button("cancelButton"), Qt::LeftButton);
  const int at_cancel = window_->progress()->value();
  QVERIFY(!window_->Button("cancelButton")->isEnabled());
  QVERIFY2(window_->StatusText().startsWith("Cancelling the update of apps\\Epsilon"),
           qPrintable(window_->StatusText()));
  while (finished.isEmpty() && window_->update_running()) {
    QTest::qWait(50);
    if (!finished.isEmpty()) {
      break;  // the run's end sets the bar by its outcome
    }
    QCOMPARE(window_->progress()->value(), at_cancel);
  }
  QVERIFY(!finished.isEmpty() || finished.wait(60000));
  QVERIFY2(ui_.boxes().empty(), ui_.texts().empty() ? "" : ui_.texts()[0].c_str());
  QVERIFY(!window_->update_running());
  QVERIFY(!window_->Button("cancelButton")->isEnabled());
  QVERIFY(LockFree());
}

// The root moves only while nothing is cached; a refusal is shown in a box
// and changes nothing.
void ClientWindowTest::cacheRoot_data() {
  QTest::addColumn<bool>("listed");
  QTest::addColumn<bool>("accepted");
  QTest::newRow("refused while an application is listed") << true << false;
  QTest::newRow("taken while the cache is empty") << false << true;
}

void ClientWindowTest::cacheRoot() {
  QFETCH(bool, listed);
  QFETCH(bool, accepted);
  if (listed) {
    Install("Alpha");
  }
  OpenWindow();
  const QString before = window_->RootText();
  QCOMPARE(before.toStdString() + "\n", Qxweb("cache root"));
  const QString wanted = QString::fromStdString(*home_ / "other-root");
  text_answers_.push_back(wanted);
  QTest::mouseClick(window_->Button("rootButton"), Qt::LeftButton);
  QCOMPARE(text_questions_, QStringList{"Change Cache Root"});
  QCOMPARE(ui_.boxes().size(), accepted ? size_t{0} : size_t{1});
  if (!accepted) {
    QCOMPARE(ui_.boxes()[0].icon, qx::BoxIcon::kStop);
    QCOMPARE(ui_.boxes()[0].caption, std::string("The cache root was not changed"));
    QVERIFY(!ui_.boxes()[0].text.empty());
  }
  const QString after = accepted ? wanted : before;
  QCOMPARE(window_->RootText(), after);
  QCOMPARE(after.toStdString() + "\n", Qxweb("cache root"));
  QCOMPARE(QFile::exists(wanted + "/CACHEDIR.TAG"), accepted);
  QVERIFY(LockFree());
}

void ClientWindowTest::installFromUrlHandsTheUrlOver_data() {
  QTest::addColumn<std::optional<QString>>("typed");
  QTest::addColumn<QStringList>("handed");
  QTest::newRow("a URL") << std::optional<QString>(" http://example.invalid/Demo.htm ")
                         << QStringList{"http://example.invalid/Demo.htm"};
  QTest::newRow("cancelled") << std::optional<QString>() << QStringList{};
  QTest::newRow("nothing typed") << std::optional<QString>("  ") << QStringList{};
}

void ClientWindowTest::installFromUrlHandsTheUrlOver() {
  QFETCH(std::optional<QString>, typed);
  QFETCH(QStringList, handed);
  OpenWindow();
  QStringList urls;
  window_->install_from_url = [&urls](const QString& url) { urls << url; };
  text_answers_.push_back(typed);
  window_->Action("installAction")->trigger();
  QCOMPARE(text_questions_, QStringList{"Install from URL"});
  QCOMPARE(urls, handed);
}

// F1 over each part of the window opens its topic; every context has one.
void ClientWindowTest::helpTopics_data() {
  QTest::addColumn<QString>("widget");
  QTest::addColumn<int>("topic");
  QTest::newRow("list") << "applicationList" << int{qx::ui::kClientWindowTopic};
  QTest::newRow("launch") << "launchButton" << int{qx::ui::kClientRunTopic};
  QTest::newRow("update") << "updateButton" << int{qx::ui::kClientRunTopic};
  QTest::newRow("move up") << "upButton" << int{qx::ui::kClientOrderTopic};
  QTest::newRow("refresh") << "refreshButton" << int{qx::ui::kClientOrderTopic};
  QTest::newRow("mark") << "markButton" << int{qx::ui::kClientRemovalTopic};
  QTest::newRow("remove") << "removeButton" << int{qx::ui::kClientRemovalTopic};
  QTest::newRow("root") << "rootButton" << int{qx::ui::kClientCacheTopic};
  QTest::newRow("install") << "installButton" << int{qx::ui::kClientCacheTopic};
}

void ClientWindowTest::helpTopics() {
  QFETCH(QString, widget);
  QFETCH(int, topic);
  const qx::ui::HelpBook& book = qx::ui::ClientHelpBook();
  for (int context :
       {qx::ui::kClientWindowTopic, qx::ui::kClientRunTopic, qx::ui::kClientOrderTopic,
        qx::ui::kClientRemovalTopic, qx::ui::kClientCacheTopic, qx::ui::kClientDetailsContext}) {
    QVERIFY2(qx::ui::HasHelpTopic(book, context), qPrintable(QString::number(context)));
  }
  Install("Alpha");
  OpenWindow();
  QWidget* target = window_->findChild<QWidget*>(widget);
  QVERIFY(target != nullptr);
  target->setEnabled(true);
  target->setFocus();
  QTRY_VERIFY(target->hasFocus());
  QTest::keyClick(target, Qt::Key_F1);
  qx::ui::HelpWindow* help = window_->help_window();
  QTRY_VERIFY(help->isVisible());
  QCOMPARE(help->CurrentPage(), qx::ui::HelpTopicPage(book, topic));
  QVERIFY(help->CurrentPage().endsWith(QStringLiteral("/%1.html").arg(topic)));
  QVERIFY(help->windowTitle().startsWith("Tarnwick Web Client Help - "));
  QVERIFY(!help->browser()->toPlainText().isEmpty());
  help->Quit();
}

// F1 over a menu item explains that item.
void ClientWindowTest::helpFromTheMenu() {
  Install("Alpha");
  OpenWindow();
  QMenu* menu = nullptr;
  for (QAction* top : window_->menuBar()->actions()) {
    if (top->text() == "&Application") {
      menu = top->menu();
    }
  }
  QVERIFY(menu != nullptr);
  QTest::keyClick(window_->list(), Qt::Key_A, Qt::AltModifier);
  QTRY_VERIFY(menu->isVisible());
  menu->setActiveAction(window_->Action("removeAction"));
  QTest::keyClick(menu, Qt::Key_F1);
  qx::ui::HelpWindow* help = window_->help_window();
  QTRY_VERIFY(help->isVisible());
  QCOMPARE(help->CurrentPage(),
           qx::ui::HelpTopicPage(qx::ui::ClientHelpBook(), qx::ui::kClientRemovalTopic));
  QTRY_VERIFY(!menu->isVisible());
  help->Quit();
}

// The window takes the client's lock as qxweb does: while another command
// holds it, a command of the window waits for it.
void ClientWindowTest::commandsWaitForAnotherCommandsLock() {
  Install("Alpha");
  OpenWindow();
  Install("Beta");
  const std::string lock = config_ + "/tarnwick/qxweb.lock";
  QVERIFY(RunCommand("flock -x " + ShellQuote(lock) + " sleep 2 >/dev/null 2>&1 &").status == 0);
  QTRY_VERIFY(!LockFree());
  QElapsedTimer waited;
  waited.start();
  QTest::mouseClick(window_->Button("refreshButton"), Qt::LeftButton);
  QVERIFY2(waited.elapsed() >= 1000, qPrintable(QString::number(waited.elapsed())));
  QCOMPARE(WindowLines(), QStringList({"apps\\Alpha", "apps\\Beta"}));
  QVERIFY(LockFree());
}

QTEST_MAIN(ClientWindowTest)
#include "client_window_test.moc"
