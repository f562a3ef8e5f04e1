// The sealer's window driven as its user drives it: menus and keys, the
// form's fields and buttons, the dialogs, help, a whole seal and the close.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QTest>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/private_profile.h"
#include "core/signature/package_signature.h"
#include "core/signature/signing_key.h"
#include "sealer/project/sealer_settings.h"
#include "sealer/ui/main_form.h"
#include "sealer/ui/sealer_dialogs.h"
#include "sealer/ui/sealer_help.h"
#include "sealer/ui/sealer_window.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"
#include "widgets/help_window.h"
#include "widgets/list_box_widget.h"
#include "widgets/qt_text.h"
#include "widgets/qt_user_interface.h"
#include "widgets/window_services.h"

using qx::BoxAnswer;
using qx::FormControl;
using qx::ui::FileDialogRequest;
using qx::ui::SealerWindow;
using qx_test::RunCommand;
using qx_test::ShellQuote;

Q_DECLARE_METATYPE(FormControl)
Q_DECLARE_METATYPE(BoxAnswer)
Q_DECLARE_METATYPE(qx::BoxButtons)
Q_DECLARE_METATYPE(qx::BoxIcon)
Q_DECLARE_METATYPE(std::optional<std::string>)

namespace {

std::string Qxweb(const std::string& arguments) {
  const auto result = RunCommand(ShellQuote(qx_test::QxwebPath()) + " " + arguments + " 2>&1");
  return result.status == 0 ? std::string()
                            : result.out + "(exit " + std::to_string(result.status) + ")";
}

// Runs |action| on the next modal window as soon as it is up.
void OnNextModal(std::function<void(QWidget*)> action) {
  QTimer::singleShot(0, [action = std::move(action)]() mutable {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      action(modal);
    } else {
      OnNextModal(std::move(action));
    }
  });
}

// Every file under |root| by relative path, with its bytes.
std::map<QString, QByteArray> TreeBytes(const QString& root) {
  std::map<QString, QByteArray> files;
  QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    files[QDir(root).relativeFilePath(path)] = file.readAll();
  }
  return files;
}

}  // namespace

class SealerWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void menusAndInitialStates();
  void accelerators_data();
  void accelerators();
  void fieldLimitsAndLeaveChecks_data();
  void fieldLimitsAndLeaveChecks();
  void refusedInputBeeps_data();
  void refusedInputBeeps();
  void formResizes_data();
  void formResizes();
  void windowSizeRemembered_data();
  void windowSizeRemembered();
  void saveAsStartsInAnExistingDirectory_data();
  void saveAsStartsInAnExistingDirectory();
  void browseProposesPutTo_data();
  void browseProposesPutTo();
  void saveEnableRule();
  void recentProjects();
  void openFailures_data();
  void openFailures();
  void helpTopics_data();
  void helpTopics();
  void helpWindowTitleAndClose_data();
  void helpWindowTitleAndClose();
  void newScanSealSave();
  void cancelDuringSeal_data();
  void cancelDuringSeal();
  void signingKey_data();
  void signingKey();
  void passphraseDialog_data();
  void passphraseDialog();
  void closeWithUnsavedChanges_data();
  void closeWithUnsavedChanges();
  void messageBoxes_data();
  void messageBoxes();
  void everyContextHasATopic();
  void busyCursorNests();

 private:
  void OpenWindow(const std::string& project_path = {});
  qx::ui::MainForm& Form() { return *window_->form(); }
  QLineEdit* Edit(FormControl id) { return qobject_cast<QLineEdit*>(Form().Control(id)); }
  QPushButton* Button(FormControl id) { return qobject_cast<QPushButton*>(Form().Control(id)); }
  QWidget* Control(int id) { return Form().Control(static_cast<FormControl>(id)); }
  // The window's smallest size: the form's template under the menu bar.
  QSize SmallestWindow() { return window_->minimumSize(); }
  void Type(FormControl id, const QString& text);
  // Clicks Scan or Seal and waits until the run it starts has ended.
  void ClickAndWait(FormControl id);
  // A project made by qxweb over a small source tree; its path.
  std::string MakeProject(const std::string& name, bool sealed);
  // Opens the File menu by its key, runs |check| on it, closes it.
  void WithFileMenu(const std::function<void(QMenu*)>& check);
  void SaveScreenshot(QWidget* widget, const char* name);
  std::string Setting(const char* key);

  std::unique_ptr<qx_test::TempDir> home_;
  std::unique_ptr<qx_test::TempDir> work_;
  qx::ScriptedUserInterface ui_;
  std::unique_ptr<qx::ScopedUserInterface> ui_scope_;
  std::vector<FileDialogRequest> dialogs_;
  std::vector<std::optional<QString>> answers_;
  // Passphrases the passphrase dialog is answered with ("<cancel>" cancels,
  // and so does an empty queue), and the key files it was shown for.
  QStringList passphrases_;
  QStringList passphrase_asked_;
  qx::ui::PassphraseHook passphrase_hook_;
  qx::ui::FileDialogHook file_dialog_hook_;
  std::unique_ptr<SealerWindow> window_;
};

void SealerWindowTest::initTestCase() {
  home_ = std::make_unique<qx_test::TempDir>();
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(*home_ / "config"));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(*home_ / "data"));
  ui_scope_ = std::make_unique<qx::ScopedUserInterface>(ui_);
  file_dialog_hook_ = [this](const FileDialogRequest& request) -> std::optional<QString> {
    dialogs_.push_back(request);
    if (answers_.empty()) {
      return std::nullopt;
    }
    std::optional<QString> answer = answers_.front();
    answers_.erase(answers_.begin());
    return answer;
  };
  qx::ui::SetFileDialogHook(file_dialog_hook_);
  passphrase_hook_ = [this](const QString& key_path) -> std::optional<QString> {
    passphrase_asked_.push_back(key_path);
    if (passphrases_.isEmpty() || passphrases_.front() == "<cancel>") {
      if (!passphrases_.isEmpty()) {
        passphrases_.pop_front();
      }
      return std::nullopt;
    }
    return passphrases_.takeFirst();
  };
  qx::ui::SetPassphraseHook(passphrase_hook_);
}

void SealerWindowTest::init() {
  work_ = std::make_unique<qx_test::TempDir>();
  QDir(QString::fromStdString(*home_ / "config")).removeRecursively();
  ui_.Clear();
  ui_.SetDefaultAnswer(BoxAnswer::kOk);
  dialogs_.clear();
  answers_.clear();
  passphrases_.clear();
  passphrase_asked_.clear();
}

void SealerWindowTest::cleanup() {
  if (window_ != nullptr) {
    ui_.SetDefaultAnswer(BoxAnswer::kNo);
    window_->close();
    window_.reset();
  }
  work_.reset();
}

void SealerWindowTest::OpenWindow(const std::string& project_path) {
  window_ = std::make_unique<SealerWindow>(project_path);
  window_->show();
  QApplication::setActiveWindow(window_.get());
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void SealerWindowTest::Type(FormControl id, const QString& text) {
  QLineEdit* edit = Edit(id);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

std::string SealerWindowTest::MakeProject(const std::string& name, bool sealed) {
  const std::string source = *work_ / (name + "-src");
  qx_test::WriteFile(source + "/bin/run.sh", "#!/bin/sh\necho " + name + "\n");
  qx_test::WriteFile(source + "/data/notes.txt", qx_test::TextBytes(20000, 7));
  qx_test::WriteFile(source + "/data/blob.bin", qx_test::RandomBytes(50000, 11));
  const std::string project = *work_ / (name + ".QXS");
  std::string failed =
      Qxweb("new " + ShellQuote(project) + " --name " + name +
            " --command-line bin/run.sh --install-to apps --seal-from " + ShellQuote(source) +
            " --put-to " + ShellQuote(*work_ / (name + "-out")));
  if (failed.empty() && sealed) {
    failed = Qxweb("seal --scan --create-put-to --save " + ShellQuote(project));
  }
  if (!failed.empty()) {
    qWarning("qxweb failed: %s", failed.c_str());
    return {};
  }
  return project;
}

void SealerWindowTest::WithFileMenu(const std::function<void(QMenu*)>& check) {
  QMenu* menu = window_->file_menu();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::AltModifier);
  QTRY_VERIFY(menu->isVisible());
  check(menu);
  if (menu->isVisible()) {
    QTest::keyClick(menu, Qt::Key_Escape);
    QTest::keyClick(window_->menuBar(), Qt::Key_Escape);
  }
}

void SealerWindowTest::SaveScreenshot(QWidget* widget, const char* name) {
  const QString directory = qEnvironmentVariable("QX_SCREENSHOT_DIR");
  if (directory.isEmpty()) {
    return;
  }
  QDir().mkpath(directory);
  QVERIFY(widget->grab().save(directory + "/" + name + ".png"));
}

void SealerWindowTest::ClickAndWait(FormControl id) {
  QTest::mouseClick(Button(id), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!window_->state().seal_running, 30000);
}

std::string SealerWindowTest::Setting(const char* key) {
  std::string value;
  qx::ReadProfileString(qx::SettingsFilePath(), qx::kSettingsSection, key, "", 1024, value);
  return value;
}

void SealerWindowTest::menusAndInitialStates() {
  OpenWindow();
  QCOMPARE(window_->windowTitle(),
           QStringLiteral("Tarnwick Web Lite Sealer - [New Sealer Control File]"));
  QCOMPARE(Form().StatusLine(), QStringLiteral("Welcome to Tarnwick Web Lite Sealer"));
  const struct {
    int id;
    const char* label;
    bool enabled;
  } items[] = {
      {101, "&New", true},
      {102, "&Open ...", true},
      {103, "&Save", false},
      {104, "Save &As ...", true},
      {106, "Signing &Key ...", true},
      {105, "E&xit\tCtrl+X", true},
      {301, "Help on Tarnwick Web Lite Sealer", true},
      {302, "Help &Contents\tF1", true},
      {303, "&Help On Help", true},
      {304, "About &Tarnwick Web Lite Sealer ... ", true},
  };
  for (const auto& item : items) {
    QAction* action = window_->Action(item.id);
    QVERIFY2(action != nullptr, qPrintable(QString::number(item.id)));
    QCOMPARE(action->text(), QString::fromLatin1(item.label));
    QCOMPARE(action->isEnabled(), item.enabled);
  }
  QCOMPARE(window_->menuBar()->actions().size(), 2);
  QCOMPARE(window_->menuBar()->actions()[0]->text(), QStringLiteral("&File"));
  QCOMPARE(window_->menuBar()->actions()[1]->text(), QStringLiteral("&Help"));
  QVERIFY(!Button(FormControl::kScan)->isEnabled());
  QVERIFY(!Button(FormControl::kSeal)->isEnabled());
  QVERIFY(Edit(FormControl::kName)->isEnabled());
  QCOMPARE(QApplication::focusWidget(), Edit(FormControl::kOwner));
  SaveScreenshot(window_.get(), "main-window-empty");

  // Highlighting an item shows its text; a popup's title shows its own.
  WithFileMenu([this](QMenu* menu) {
    QCOMPARE(Form().StatusLine(), QStringLiteral("Create new control file"));
    QTest::keyClick(menu, Qt::Key_Down);
    QCOMPARE(Form().StatusLine(), QStringLiteral("Open an existing control file"));
    QCOMPARE(window_->menu_help_context(), std::optional<int>(102));
    // Up from New rounds to Exit, then reaches the item above the separator.
    for (int up = 0; up < 3; ++up) {
      QTest::keyClick(menu, Qt::Key_Up);
    }
    QCOMPARE(Form().StatusLine(),
             QStringLiteral("Choose the key that signs sealed packages, or stop signing"));
    QCOMPARE(window_->menu_help_context(), std::optional<int>(106));
    SaveScreenshot(menu, "file-menu");
  });
  QStringList file_items;
  for (QAction* action : window_->file_menu()->actions()) {
    file_items << (action->isSeparator() ? QStringLiteral("-") : action->text());
  }
  QCOMPARE(file_items, QStringList({"&New", "&Open ...", "&Save", "Save &As ...",
                                    "Signing &Key ...", "-", "E&xit\tCtrl+X"}));
}

void SealerWindowTest::accelerators_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<QString>("expected");
  QTest::newRow("F2 open") << int(Qt::Key_F2) << 0 << "dialog:Open Project File";
  QTest::newRow("F5 save, no path yet") << int(Qt::Key_F5) << 0 << "dialog:Save Project File As";
  QTest::newRow("F7 save as") << int(Qt::Key_F7) << 0 << "dialog:Save Project File As";
  QTest::newRow("F6 new") << int(Qt::Key_F6) << 0 << "new";
  QTest::newRow("F8 exit") << int(Qt::Key_F8) << 0 << "closed";
  QTest::newRow("Shift+F1 about") << int(Qt::Key_F1) << int(Qt::ShiftModifier) << "about";
  QTest::newRow("Ctrl+F1 help on the program")
      << int(Qt::Key_F1) << int(Qt::ControlModifier) << "help:qrc:/help/503.html";
  QTest::newRow("Up does nothing") << int(Qt::Key_Up) << 0 << "nothing";
}

void SealerWindowTest::accelerators() {
  QFETCH(int, key);
  QFETCH(int, modifiers);
  QFETCH(QString, expected);
  OpenWindow();
  Type(FormControl::kOwner, QStringLiteral("Ann"));
  ui_.SetDefaultAnswer(BoxAnswer::kNo);  // the save question: go on without saving
  QString about;
  if (expected == "about") {
    OnNextModal([this, &about](QWidget* modal) {
      if (auto* box = qobject_cast<qx::ui::AboutDialog*>(modal)) {
        about = box->TitleLine();
        SaveScreenshot(box, "about-box");
      }
      QTest::keyClick(modal, Qt::Key_Return);
    });
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
  const bool asked = !ui_.boxes().empty();

  if (expected.startsWith("dialog:")) {
    QCOMPARE(dialogs_.size(), size_t{1});
    QCOMPARE(dialogs_[0].title, expected.mid(7));
  } else if (expected == "new") {
    QVERIFY(asked);
    QCOMPARE(Edit(FormControl::kOwner)->text(), QString());
    QVERIFY(!window_->state().project_modified);
  } else if (expected == "closed") {
    QVERIFY(asked);
    QVERIFY(!window_->isVisible());
  } else if (expected == "about") {
    QCOMPARE(about, QStringLiteral("Tarnwick Web Lite Sealer 02.00"));
  } else if (expected.startsWith("help:")) {
    QCOMPARE(window_->help_window()->CurrentPage(), expected.mid(5));
  } else {
    QVERIFY(dialogs_.empty() && !asked && window_->isVisible());
    QCOMPARE(Edit(FormControl::kOwner)->text(), QStringLiteral("Ann"));
  }
}

void SealerWindowTest::fieldLimitsAndLeaveChecks_data() {
  QTest::addColumn<FormControl>("field");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("kept");
  QTest::addColumn<QString>("message");
  const QString name_message = "Invalid application Name (no space(s) allow).";
  const QString install_message =
      "Invalid Install To entry. Specify a relative directory path to control where the "
      "application is delivered on the client.";
  QTest::newRow("name cut at 8") << FormControl::kName << "abcdefghij"
                                 << "abcdefgh"
                                 << "";
  QTest::newRow("name with a blank") << FormControl::kName << "my app"
                                     << "my app" << name_message;
  QTest::newRow("owner cut at 127")
      << FormControl::kOwner << QString(130, 'o') << QString(127, 'o') << "";
  QTest::newRow("install to, backslash first") << FormControl::kInstallTo << "\\apps"
                                               << "\\apps" << install_message;
  QTest::newRow("install to, drive") << FormControl::kInstallTo << "C:apps"
                                     << "C:apps" << install_message;
  QTest::newRow("install to, separator last") << FormControl::kInstallTo << "apps\\"
                                              << "apps\\" << install_message;
  QTest::newRow("install to, absolute") << FormControl::kInstallTo << "/apps"
                                        << "/apps" << install_message;
  QTest::newRow("install to, relative") << FormControl::kInstallTo << "apps\\demo"
                                        << "apps\\demo"
                                        << "";
  QTest::newRow("install to, empty") << FormControl::kInstallTo << ""
                                     << ""
                                     << "";
}

void SealerWindowTest::fieldLimitsAndLeaveChecks() {
  QFETCH(FormControl, field);
  QFETCH(QString, typed);
  QFETCH(QString, kept);
  QFETCH(QString, message);
  OpenWindow();
  Type(field, typed);
  QCOMPARE(Edit(field)->text(), kept);
  QVERIFY(window_->state().project_modified || typed.isEmpty());
  QTest::keyClick(Edit(field), Qt::Key_Tab);
  QApplication::processEvents();
  if (message.isEmpty()) {
    QVERIFY(ui_.boxes().empty());
    QVERIFY(QApplication::focusWidget() != Edit(field));
  } else {
    QCOMPARE(ui_.boxes().size(), size_t{1});
    QCOMPARE(QString::fromStdString(ui_.boxes()[0].text), message);
    QCOMPARE(ui_.boxes()[0].icon, qx::BoxIcon::kInformation);
    QCOMPARE(QApplication::focusWidget(), Edit(field));
  }
}

void SealerWindowTest::refusedInputBeeps_data() {
  // |how|: "type" types |input| key by key, "paste" pastes it at the cursor
  // (after |before|, or over it all when |select|).
  QTest::addColumn<FormControl>("field");
  QTest::addColumn<QString>("before");
  QTest::addColumn<bool>("select");
  QTest::addColumn<QString>("how");
  QTest::addColumn<QString>("input");
  QTest::addColumn<QString>("kept");
  QTest::addColumn<int>("beeps");
  QTest::newRow("paste that fits") << FormControl::kName << "" << false << "paste"
                                   << "demo"
                                   << "demo" << 0;
  QTest::newRow("paste over the limit: nothing inserted")
      << FormControl::kName << "" << false << "paste"
      << "abcdefghij"
      << "" << 1;
  QTest::newRow("paste over the limit with what is there")
      << FormControl::kName << "abcdef" << false << "paste"
      << "ghi"
      << "abcdef" << 1;
  QTest::newRow("paste over a selection, fits")
      << FormControl::kName << "abcdefgh" << true << "paste"
      << "xyz"
      << "xyz" << 0;
  QTest::newRow("paste counted in bytes, not letters")
      << FormControl::kOwner << "" << false << "paste" << QString(64, QChar(0xe9)) << "" << 1;
  QTest::newRow("path field, paste at the limit") << FormControl::kPutTo << "" << false << "paste"
                                                  << QString(255, 'p') << QString(255, 'p') << 0;
  QTest::newRow("typing past the limit: each refused key")
      << FormControl::kName << "" << false << "type"
      << "abcdefghij"
      << "abcdefgh" << 2;
}

void SealerWindowTest::refusedInputBeeps() {
  QFETCH(FormControl, field);
  QFETCH(QString, before);
  QFETCH(bool, select);
  QFETCH(QString, how);
  QFETCH(QString, input);
  QFETCH(QString, kept);
  QFETCH(int, beeps);
  OpenWindow();
  QLineEdit* edit = Edit(field);
  Type(field, before);
  ui_.Clear();
  edit->setFocus();
  if (select) {
    edit->selectAll();
  } else {
    edit->end(false);
  }
  if (how == "paste") {
    QApplication::clipboard()->setText(input);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  } else {
    QTest::keyClicks(edit, input);
  }
  QCOMPARE(edit->text(), kept);
  QCOMPARE(ui_.beeps(), beeps);
  for (const qx::ScriptedUserInterface::Event& event : ui_.events()) {
    QVERIFY(event.is_beep);
    QCOMPARE(event.beep, qx::BeepKind::kSimple);
  }
}

void SealerWindowTest::formResizes_data() {
  // The window is made |grow| larger than its smallest size; a negative
  // growth is refused, and the form keeps the template's arrangement.
  QTest::addColumn<QSize>("grow");
  QTest::addColumn<bool>("screenshot");
  QTest::newRow("the template's size") << QSize(0, 0) << false;
  QTest::newRow("wider and taller") << QSize(180, 90) << true;
  QTest::newRow("wider by an odd width") << QSize(101, 0) << false;
  QTest::newRow("taller only") << QSize(0, 75) << false;
  QTest::newRow("smaller than the template: refused") << QSize(-60, -40) << false;
  QTest::newRow("narrower only: refused") << QSize(-30, 50) << false;
}

void SealerWindowTest::formResizes() {
  QFETCH(QSize, grow);
  QFETCH(bool, screenshot);
  OpenWindow();
  const QSize smallest = SmallestWindow();
  QCOMPARE(window_->size(), smallest);
  QCOMPARE(Form().size(), Form().minimumSize());
  // Every control where the template puts it, to compare against.
  std::map<QWidget*, QRect> placed;
  std::map<int, QRect> initial;
  for (QWidget* control : Form().findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    placed[control] = control->geometry();
    initial[control->property(qx::ui::kControlIdProperty).toInt()] = control->geometry();
  }
  const QRect bar = Form().progress_bar()->geometry();
  const QRect cancel = Form().cancel_button()->geometry();
  // Grown, then brought back: the template's arrangement comes back exactly.
  window_->resize(smallest + QSize(70, 70));
  window_->resize(smallest);
  for (const auto& [control, rect] : placed) {
    QVERIFY2(control->geometry() == rect, qPrintable(control->objectName()));
  }

  Type(FormControl::kSealFrom, "/srv/" + QString(120, 'd') + "/end");  // for the screenshot
  window_->resize(smallest + grow);
  QApplication::processEvents();
  const QSize grown(std::max(grow.width(), 0), std::max(grow.height(), 0));
  QCOMPARE(window_->size(), smallest.expandedTo(smallest + grow));
  QCOMPARE(Form().size(), Form().minimumSize() + grown);
  const int gx = grown.width();
  const int gy = grown.height();
  // Each control's growth in x and y: left, right, top and bottom edges.
  const auto moved = [&](int id, int left, int right, int top, int bottom) {
    const QRect was = initial[id];
    return QRect(QPoint(was.left() + left, was.top() + top),
                 QPoint(was.right() + right, was.bottom() + bottom));
  };
  const int half = gx / 2;
  const std::pair<int, QRect> expected[] = {
      // Labels on the left, and the directory count, stay.
      {2001, moved(2001, 0, 0, 0, 0)},
      {2026, moved(2026, 0, 0, 0, 0)},
      {3004, moved(3004, 0, 0, 0, 0)},
      {3054, moved(3054, 0, 0, 0, 0)},
      // The short fields share the width; the right column's labels go with theirs.
      {2051, moved(2051, 0, half, 0, 0)},
      {2055, moved(2055, 0, half, 0, 0)},
      {2003, moved(2003, half, half, 0, 0)},
      {2004, moved(2004, half, half, 0, 0)},
      {2053, moved(2053, half, gx, 0, 0)},
      {2054, moved(2054, half, gx, 0, 0)},
      // Seal From and Put To take the growth, "..." stays at Seal From's right.
      {2064, moved(2064, 0, gx, 0, 0)},
      {2063, moved(2063, 0, gx, 0, 0)},
      {2066, moved(2066, gx, gx, 0, 0)},
      // The groups widen, the package's grows down with the lists.
      {2000, moved(2000, 0, gx, 0, 0)},
      {7016, moved(7016, 0, gx, 0, gy)},
      {3056, moved(3056, 0, gx, 0, gy)},
      {3100, moved(3056, 0, gx, 0, gy)},
      // The file count keeps its place from the right edge.
      {3005, moved(3005, gx, gx, 0, 0)},
      {3055, moved(3055, gx, gx, 0, 0)},
      // Scan and Seal stay centred under the list; the status row at the bottom.
      {3066, moved(3066, half, half, gy, gy)},
      {3061, moved(3061, half, half, gy, gy)},
      {2028, moved(2028, 0, gx, gy, gy)},
      {2079, moved(2079, 0, gx, gy, gy)},
      {2027, moved(2027, 0, 0, gy, gy)}};
  for (const auto& [id, rect] : expected) {
    QVERIFY2(Control(id)->geometry() == rect, qPrintable(QString::number(id)));
  }
  QVERIFY(Control(2051)->geometry().right() < Control(2003)->geometry().left());
  QCOMPARE(Form().height() - Control(2028)->geometry().bottom(),
           Form().minimumHeight() - initial[2028].bottom());
  // The progress row is the same row: the bar from the list's left, Cancel at its right.
  QCOMPARE(Form().progress_bar()->geometry(), bar.adjusted(0, gy, gx, gy));
  QCOMPARE(Form().cancel_button()->geometry(), cancel.translated(gx, gy));
  if (screenshot) {
    SaveScreenshot(window_.get(), "main-window-resized");
  }
}

void SealerWindowTest::windowSizeRemembered_data() {
  // |written|: the size the settings hold before the window opens ("" for
  // none); |opens|: "smallest", "screen" (its work area) or "written".
  // The window is then grown by |grow| and closed (|how|), and opens again
  // at the size it closed at.
  QTest::addColumn<QString>("written");
  QTest::addColumn<QString>("opens");
  QTest::addColumn<QSize>("grow");
  QTest::addColumn<QString>("how");
  QTest::newRow("no size yet, grown and closed") << ""
                                                 << "smallest" << QSize(90, 40) << "close";
  QTest::newRow("no size yet, closed as it opened") << ""
                                                    << "smallest" << QSize(0, 0) << "close";
  QTest::newRow("a size that fits") << "+50,+30"
                                    << "written" << QSize(0, 0) << "close";
  QTest::newRow("smaller than the template") << "100,50"
                                             << "smallest" << QSize(20, 10) << "close";
  QTest::newRow("larger than the screen") << "20000,15000"
                                          << "screen" << QSize(0, 0) << "close";
  QTest::newRow("not a number") << "wide,tall"
                                << "smallest" << QSize(0, 0) << "close";
  QTest::newRow("written at the end of the session") << ""
                                                     << "smallest" << QSize(60, 20) << "session";
}

void SealerWindowTest::windowSizeRemembered() {
  QFETCH(QString, written);
  QFETCH(QString, opens);
  QFETCH(QSize, grow);
  QFETCH(QString, how);
  // The smallest size, from a first window that writes nothing.
  OpenWindow();
  const QSize smallest = SmallestWindow();
  const QSize screen = window_->screen()->availableGeometry().size();
  window_.reset();
  QVERIFY(!qx_test::FileExists(qx::SettingsFilePath()) || Setting("WindowWidth").empty());
  if (!written.isEmpty()) {
    // "+W,+H" is relative to the smallest size.
    const QStringList parts = written.split(',');
    const bool relative = written.startsWith('+');
    const QString width =
        relative ? QString::number(smallest.width() + parts[0].toInt()) : parts[0];
    const QString height =
        relative ? QString::number(smallest.height() + parts[1].toInt()) : parts[1];
    QVERIFY(qx::WriteSetting(qx::kSettingsSection, "WindowWidth", width.toStdString()));
    QVERIFY(qx::WriteSetting(qx::kSettingsSection, "WindowHeight", height.toStdString()));
  }
  const QSize written_size(std::atoi(Setting("WindowWidth").c_str()),
                           std::atoi(Setting("WindowHeight").c_str()));
  OpenWindow();
  const QSize expected = opens == "smallest" ? smallest
                         : opens == "screen" ? smallest.expandedTo(screen)
                                             : written_size;
  QCOMPARE(window_->size(), expected);
  QCOMPARE(window_->minimumSize(), smallest);

  window_->resize(window_->size() + grow);
  const QSize closed_at = window_->size();
  if (how == "session") {
    window_->EndSession(false);
  } else {
    window_->close();
    QVERIFY(!window_->isVisible());
  }
  QCOMPARE(Setting("WindowWidth"), std::to_string(closed_at.width()));
  QCOMPARE(Setting("WindowHeight"), std::to_string(closed_at.height()));
  window_.reset();
  OpenWindow();
  QCOMPARE(window_->size(), closed_at);
  QCOMPARE(Form().size(), closed_at - QSize(0, smallest.height() - Form().minimumHeight()));
}

void SealerWindowTest::saveAsStartsInAnExistingDirectory_data() {
  // |setup|: "settings" makes |directory| (under the work directory) the
  // settings' project directory, "project" opens a project saved there and
  // then removes |directory|. |file| is made as a file first, when given.
  // Save As starts in |starts| and proposes |proposed|.
  QTest::addColumn<QString>("setup");
  QTest::addColumn<QString>("directory");
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("starts");
  QTest::addColumn<QString>("proposed");
  QTest::newRow("project directory there") << "settings"
                                           << "projects"
                                           << ""
                                           << "projects"
                                           << "Demo.QXS";
  QTest::newRow("project directory missing") << "settings"
                                             << "gone/projects"
                                             << ""
                                             << ""
                                             << "Demo.QXS";
  QTest::newRow("missing some levels down") << "settings"
                                            << "a/b/c/projects"
                                            << "a/keep"
                                            << "a"
                                            << "Demo.QXS";
  QTest::newRow("a file where the directory should be") << "settings"
                                                        << "notes/projects"
                                                        << "notes"
                                                        << ""
                                                        << "Demo.QXS";
  QTest::newRow("the project's own directory removed") << "project"
                                                       << "old/saved"
                                                       << ""
                                                       << "old"
                                                       << "Edit.QXS";
}

void SealerWindowTest::saveAsStartsInAnExistingDirectory() {
  QFETCH(QString, setup);
  QFETCH(QString, directory);
  QFETCH(QString, file);
  QFETCH(QString, starts);
  QFETCH(QString, proposed);
  const QString work = QString::fromStdString(work_->path());
  const QString missing = work + '/' + directory;
  const QString start = starts.isEmpty() ? work : work + '/' + starts;
  if (!file.isEmpty()) {
    qx_test::WriteFile((work + '/' + file).toStdString(), "in the way\n");
  }
  if (setup == "project") {
    const std::string made = MakeProject("Edit", false);
    QVERIFY(!made.empty());
    QVERIFY(QDir().mkpath(missing));
    const QString moved = missing + "/Edit.QXS";
    QVERIFY(QFile::copy(QString::fromStdString(made), moved));
    OpenWindow(moved.toStdString());
    QVERIFY(QDir(missing).removeRecursively());
  } else {
    if (starts == directory) {
      QVERIFY(QDir().mkpath(missing));
    }
    OpenWindow();
    window_->state().settings.project_directory = missing.toStdString();
    Type(FormControl::kName, QStringLiteral("Demo"));
  }

  // The request, as the dialog is asked for it (cancelled).
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F7);
  QCOMPARE(dialogs_.size(), size_t{1});
  QCOMPARE(dialogs_[0].kind, FileDialogRequest::Kind::kSaveAs);
  QCOMPARE(dialogs_[0].directory, start);
  QCOMPARE(dialogs_[0].proposed_name, proposed);

  // The dialog itself shows that directory and that name.
  QString shown_directory;
  QString shown_name;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog != nullptr) {
      shown_directory = dialog->directory().absolutePath();
      if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        shown_name = name->text();
      }
    }
    qobject_cast<QDialog*>(modal)->reject();
  });
  if (setup == "project") {
    // The cancel above forgot the project's path; it is asked from there again.
    window_->state().project.project_path = (missing + "/Edit.QXS").toStdString();
  }
  qx::ui::SetFileDialogHook(nullptr);
  window_->RunCommand(qx::ui::kSaveAsCommand);
  qx::ui::SetFileDialogHook(file_dialog_hook_);
  QCOMPARE(shown_directory, start);
  QCOMPARE(shown_name, proposed);
  QVERIFY(!QFileInfo(missing).isDir() || starts == directory);
  QVERIFY(ui_.boxes().empty());
}

void SealerWindowTest::browseProposesPutTo_data() {
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("seal_from");
  QTest::addColumn<QString>("put_to");
  QTest::newRow("plain") << "/srv/apps/demo"
                         << "/srv/apps/demo"
                         << "/srv/apps/demo.qxd";
  QTest::newRow("extension replaced") << "/srv/apps/demo.old/"
                                      << "/srv/apps/demo.old"
                                      << "/srv/apps/demo.qxd";
  QTest::newRow("dot in a parent only") << "/srv/a.b/demo"
                                        << "/srv/a.b/demo"
                                        << "/srv/a.b/demo.qxd";
  QTest::newRow("cancelled") << ""
                             << "/start"
                             << "";
}

void SealerWindowTest::browseProposesPutTo() {
  QFETCH(QString, chosen);
  QFETCH(QString, seal_from);
  QFETCH(QString, put_to);
  OpenWindow();
  Type(FormControl::kSealFrom, QStringLiteral("/start"));
  window_->state().project_modified = false;
  answers_.push_back(chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen));
  QTest::mouseClick(Button(FormControl::kBrowse), Qt::LeftButton);

  QCOMPARE(dialogs_.size(), size_t{1});
  QCOMPARE(dialogs_[0].title, QStringLiteral("Locate Directory"));
  QCOMPARE(dialogs_[0].directory, QStringLiteral("/start"));
  QCOMPARE(Edit(FormControl::kSealFrom)->text(), seal_from);
  QCOMPARE(Edit(FormControl::kPutTo)->text(), put_to);
  if (chosen.isEmpty()) {
    QVERIFY(!window_->state().project_modified);
    QVERIFY(!Button(FormControl::kScan)->isEnabled());
    QCOMPARE(QApplication::focusWidget(), Button(FormControl::kBrowse));
    return;
  }
  QVERIFY(window_->state().project_modified);
  QVERIFY(Button(FormControl::kScan)->isEnabled());
  QCOMPARE(QApplication::focusWidget(), Edit(FormControl::kPutTo));
  QCOMPARE(Edit(FormControl::kPutTo)->selectedText(), put_to);
  QCOMPARE(Form().StatusLine(), QStringLiteral("Browse for directory to seal from."));
}

void SealerWindowTest::saveEnableRule() {
  const std::string project = MakeProject("Keep", false);
  QVERIFY(!project.empty());
  OpenWindow(project);
  QVERIFY(!Edit(FormControl::kName)->isEnabled());  // a named project keeps its name
  WithFileMenu([this](QMenu*) { QVERIFY(!window_->Action(103)->isEnabled()); });

  Type(FormControl::kOwner, QStringLiteral("New Owner"));
  WithFileMenu([this](QMenu*) { QVERIFY(window_->Action(103)->isEnabled()); });
  QTest::keyClick(Edit(FormControl::kOwner), Qt::Key_F5);
  QVERIFY(dialogs_.empty());  // saved under its path without asking
  QVERIFY(!window_->state().project_modified);
  QVERIFY(qx_test::ReadFile(project).find("Owner: New Owner") != std::string::npos);
}

void SealerWindowTest::recentProjects() {
  std::vector<std::string> projects;
  for (const char* name : {"P1", "P2", "P3", "P4", "P5"}) {
    projects.push_back(MakeProject(name, false));
    QVERIFY(!projects.back().empty());
  }
  OpenWindow();
  for (const std::string& project : projects) {
    answers_.push_back(QString::fromStdString(project));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    QCOMPARE(window_->state().project.project_path, project);
  }
  const auto& recent = window_->state().settings.recent_projects;
  QCOMPARE(recent[0], projects[4]);
  QCOMPARE(recent[3], projects[1]);

  // Rebuilt twice: still one separator before the recent items.
  for (int round = 0; round < 2; ++round) {
    WithFileMenu([&](QMenu* menu) {
      const QList<QAction*> items = menu->actions();
      QCOMPARE(items.size(), 7 + 1 + 4);
      QVERIFY(items[7]->isSeparator());
      QCOMPARE(items[11]->text(), QStringLiteral("&4. ") + QString::fromStdString(projects[1]));
      QTest::keyClick(menu, Qt::Key_Escape);
    });
    window_->state().settings.recent_list_changed = true;
  }
  // Reopen the third by its number.
  WithFileMenu([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_3); });
  QCOMPARE(window_->state().project.project_path, projects[2]);
  QCOMPARE(recent[0], projects[2]);
  QCOMPARE(recent[1], projects[4]);
  QCOMPARE(recent[2], projects[3]);
  QVERIFY(Button(FormControl::kScan)->isEnabled());

  window_->close();
  QCOMPARE(Setting("LastControl.1"), projects[2]);
  QCOMPARE(Setting("LastControl.4"), projects[1]);
}

void SealerWindowTest::openFailures_data() {
  // |how|: "recent" picks a moved-away project from the recent list, "open"
  // chooses a directory with Open, "command line" starts on a directory.
  QTest::addColumn<QString>("how");
  QTest::addColumn<QString>("reason");
  QTest::newRow("recent project moved away") << "recent"
                                             << "No such file or directory";
  QTest::newRow("a directory chosen with Open") << "open"
                                                << "Is a directory";
  QTest::newRow("a directory on the command line") << "command line"
                                                   << "Is a directory";
}

void SealerWindowTest::openFailures() {
  QFETCH(QString, how);
  QFETCH(QString, reason);
  const std::string demo = MakeProject("Demo", false);
  const std::string other = MakeProject("Other", false);
  QVERIFY(!demo.empty() && !other.empty());
  const std::string directory = *work_ / "Other-src";
  const std::string failing = how == "recent" ? other : directory;
  if (how == "command line") {
    OpenWindow(directory);
    QCOMPARE(window_->windowTitle(),
             QStringLiteral("Tarnwick Web Lite Sealer - [New Sealer Control File]"));
    QCOMPARE(qobject_cast<QLabel*>(Form().Control(FormControl::kFileCount))->text(),
             QStringLiteral("0"));
    QVERIFY(!Button(FormControl::kScan)->isEnabled());
    QVERIFY(!Button(FormControl::kSeal)->isEnabled());
    QVERIFY(window_->state().project.project_path.empty());
    QCOMPARE(window_->state().settings.recent_projects[0], std::string());
  } else {
    OpenWindow(other);
    answers_.push_back(QString::fromStdString(demo));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    QCOMPARE(window_->state().project.project_path, demo);
    const QString title = window_->windowTitle();
    const bool scan = Button(FormControl::kScan)->isEnabled();
    if (how == "recent") {
      QVERIFY(
          QFile::rename(QString::fromStdString(other), QString::fromStdString(other + ".moved")));
      WithFileMenu([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_2); });
    } else {
      answers_.push_back(QString::fromStdString(directory));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    }
    QCOMPARE(window_->windowTitle(), title);
    QCOMPARE(Edit(FormControl::kName)->text(), QStringLiteral("Demo"));
    QCOMPARE(Button(FormControl::kScan)->isEnabled(), scan);
    QCOMPARE(window_->state().settings.recent_projects[0], demo);
    QCOMPARE(window_->state().settings.recent_projects[1], other);
    // Save writes the project the form shows, and nothing where the other was.
    Type(FormControl::kOwner, QStringLiteral("Still Demo"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    QVERIFY(qx_test::ReadFile(demo).find("Owner: Still Demo") != std::string::npos);
    QCOMPARE(qx_test::FileExists(other), how != "recent");
  }
  const std::vector<std::string> texts = ui_.texts();
  QCOMPARE(texts.size(), size_t{1});
  QCOMPARE(QString::fromStdString(texts[0]),
           QString::fromStdString("Unable to open Project file \"" + failing + "\": ") + reason);
  QCOMPARE(ui_.boxes()[0].icon, qx::BoxIcon::kStop);
}

void SealerWindowTest::helpTopics_data() {
  QTest::addColumn<QString>("where");
  QTest::addColumn<QString>("page");
  // From the display a key goes to the top-level QWindow first, then to the
  // widget with the focus; otherwise it is sent to the widget alone.
  QTest::addColumn<bool>("from_display");
  // The help window's title once the topic is up.
  QTest::addColumn<QString>("title");
  const QString help = QStringLiteral("Tarnwick Web Lite Sealer Help - ");
  QTest::newRow("Put To field") << "2063"
                                << "qrc:/help/2063.html" << false << help + "Put To";
  QTest::newRow("Seal From field") << "2064"
                                   << "qrc:/help/2064.html" << false << help + "Seal From";
  QTest::newRow("file list") << "3056"
                             << "qrc:/help/3056.html" << false << help + "The File List";
  QTest::newRow("OK of the About box") << "about"
                                       << "qrc:/help/2000.html" << false << help + "The Main Form";
  QTest::newRow("after the Open dialog")
      << "open"
      << "qrc:/help/802.html" << false << help + "Open Project File Dialog";
  QTest::newRow("New highlighted") << "menu-new"
                                   << "qrc:/help/101.html" << false << help + "File > New";
  QTest::newRow("About highlighted") << "menu-about"
                                     << "" << false << "Tarnwick Web Lite Sealer Help";
  QTest::newRow("Put To field, from the display")
      << "2063"
      << "qrc:/help/2063.html" << true << help + "Put To";
  QTest::newRow("OK of the About box, from the display")
      << "about"
      << "qrc:/help/2000.html" << true << help + "The Main Form";
  QTest::newRow("New highlighted, from the display")
      << "menu-new"
      << "qrc:/help/101.html" << true << help + "File > New";
  QTest::newRow("in the Open dialog, from the display")
      << "open-dialog"
      << "qrc:/help/802.html" << true << help + "Open Project File Dialog";
}

void SealerWindowTest::helpTopics() {
  QFETCH(QString, where);
  QFETCH(QString, page);
  QFETCH(bool, from_display);
  QFETCH(QString, title);
  OpenWindow();
  qx::ui::HelpWindow* help = window_->help_window();
  const auto press_f1 = [from_display](QWidget* target) {
    if (from_display) {
      QTest::keyClick(target->window()->windowHandle(), Qt::Key_F1);
    } else {
      QTest::keyClick(target, Qt::Key_F1);
    }
  };
  bool shown_over_dialog = false;
  if (where == "about" || where == "open-dialog") {
    OnNextModal([&](QWidget* modal) {
      if (where == "about") {
        QTRY_COMPARE(QApplication::focusWidget(), modal->findChild<QWidget*>("okButton"));
      }
      // The dialog closes whatever happened, so that the test goes on.
      QApplication::setActiveWindow(modal);
      if (QTest::qWaitForWindowActive(modal)) {
        press_f1(QApplication::focusWidget());
        shown_over_dialog =
            QTest::qWaitFor([&] { return help->isVisible() && help->CurrentPage() == page; });
      }
      qobject_cast<QDialog*>(modal)->reject();
    });
    if (where == "about") {
      window_->RunCommand(qx::ui::kAboutCommand);
    } else {
      qx::ui::SetFileDialogHook(nullptr);  // the dialog itself
      window_->RunCommand(qx::ui::kOpenCommand);
      qx::ui::SetFileDialogHook(file_dialog_hook_);
    }
    QVERIFY(shown_over_dialog);
  } else if (where == "open") {
    window_->RunCommand(qx::ui::kOpenCommand);  // cancelled
    press_f1(Edit(FormControl::kPutTo));
  } else if (where.startsWith("menu-")) {
    QMenu* menu = where == "menu-new" ? window_->file_menu() : window_->help_menu();
    QTest::keyClick(QApplication::focusWidget(), where == "menu-new" ? Qt::Key_F : Qt::Key_H,
                    Qt::AltModifier);
    QTRY_VERIFY(menu->isVisible());
    if (where == "menu-about") {
      QTest::keyClick(menu, Qt::Key_Up);  // round to the last item
      QCOMPARE(Form().StatusLine(), QStringLiteral("About Tarnwick Web Lite Sealer"));
    }
    press_f1(menu);
  } else {
    QWidget* control = Form().Control(static_cast<FormControl>(where.toInt()));
    control->setFocus();
    press_f1(control);
  }
  QApplication::processEvents();
  QTRY_COMPARE(help->CurrentPage(), page);
  if (!page.isEmpty()) {
    QVERIFY(help->isVisible());
    QVERIFY(!help->browser()->toPlainText().isEmpty());
  }
  QCOMPARE(help->windowTitle(), title);
  if (where == "2063" && !from_display) {
    SaveScreenshot(help, "help-put-to");
  }
  help->close();
}

void SealerWindowTest::helpWindowTitleAndClose_data() {
  // Steps, one after the other: "topic:N", "contents", "help-on-help",
  // "back", "forward", "first-link" (Tab to the page's first link, Return),
  // "focus:NAME" (a child of the help window), "escape", "escape-display"
  // (Escape from the display, to the top-level QWindow), "close" (the Close
  // button clicked), "alt-l" (its mnemonic).
  QTest::addColumn<QString>("steps");
  QTest::addColumn<QString>("title");
  QTest::addColumn<bool>("visible");
  const QString plain = QStringLiteral("Tarnwick Web Lite Sealer Help");
  const QString help = plain + QStringLiteral(" - ");
  QTest::newRow("topic") << "topic:2063" << help + "Put To" << true;
  QTest::newRow("entity in the page title") << "topic:101" << help + "File > New" << true;
  QTest::newRow("topic after topic") << "topic:2063 topic:3061" << help + "The Seal Button" << true;
  QTest::newRow("shared page") << "topic:2025" << help + "Put To" << true;
  QTest::newRow("contents, titled as the window") << "topic:2063 contents" << plain << true;
  QTest::newRow("context without a topic") << "topic:4242" << plain << true;
  QTest::newRow("help on help") << "help-on-help" << help + "Using Help" << true;
  QTest::newRow("Back") << "topic:2063 topic:2064 back" << help + "Put To" << true;
  QTest::newRow("Back and Forward")
      << "topic:2063 topic:2064 back forward" << help + "Seal From" << true;
  QTest::newRow("link followed") << "contents first-link"
                                 << help + "Overview: Seal Your First Package" << true;
  QTest::newRow("Escape in the page")
      << "topic:2063 focus:browser escape" << help + "Put To" << false;
  QTest::newRow("Escape on a button")
      << "topic:2063 focus:contentsButton escape" << help + "Put To" << false;
  QTest::newRow("Escape from the display")
      << "topic:2063 focus:browser escape-display" << help + "Put To" << false;
  QTest::newRow("Close clicked") << "topic:2063 close" << help + "Put To" << false;
  QTest::newRow("Close by its key") << "topic:2063 alt-l" << help + "Put To" << false;
  QTest::newRow("shown again after Escape")
      << "topic:2063 focus:browser escape topic:2064" << help + "Seal From" << true;
}

void SealerWindowTest::helpWindowTitleAndClose() {
  QFETCH(QString, steps);
  QFETCH(QString, title);
  QFETCH(bool, visible);
  OpenWindow();
  qx::ui::HelpWindow* help = window_->help_window();
  const auto button = [help](const char* name) {
    return help->findChild<QPushButton*>(QString::fromLatin1(name));
  };
  for (const QString& step : steps.split(QLatin1Char(' '))) {
    if (step.startsWith(QStringLiteral("topic:"))) {
      help->ShowTopic(step.mid(6).toInt());
    } else if (step == "contents") {
      QVERIFY(button("contentsButton") != nullptr);
      QTest::mouseClick(button("contentsButton"), Qt::LeftButton);
    } else if (step == "help-on-help") {
      help->ShowHelpOnHelp();
    } else if (step == "back" || step == "forward") {
      QPushButton* target = button(step == "back" ? "backButton" : "forwardButton");
      QVERIFY(target != nullptr);
      QVERIFY(target->isEnabled());
      QTest::mouseClick(target, Qt::LeftButton);
    } else if (step == "first-link") {
      help->browser()->setFocus();
      QTest::keyClick(help->browser(), Qt::Key_Tab);
      QTest::keyClick(help->browser(), Qt::Key_Return);
    } else if (step.startsWith(QStringLiteral("focus:"))) {
      QApplication::setActiveWindow(help);
      QVERIFY(QTest::qWaitForWindowActive(help));
      QWidget* target =
          step == "focus:browser" ? help->browser() : help->findChild<QWidget*>(step.mid(6));
      QVERIFY2(target != nullptr, qPrintable(step));
      target->setFocus();
      QTRY_COMPARE(QApplication::focusWidget(), target);
    } else if (step == "escape") {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    } else if (step == "escape-display") {
      QTest::keyClick(help->windowHandle(), Qt::Key_Escape);
    } else if (step == "close") {
      QVERIFY(button("closeButton") != nullptr);
      QTest::mouseClick(button("closeButton"), Qt::LeftButton);
    } else if (step == "alt-l") {
      QApplication::setActiveWindow(help);
      QVERIFY(QTest::qWaitForWindowActive(help));
      QTest::keyClick(help, Qt::Key_L, Qt::AltModifier);
    } else {
      QFAIL(qPrintable("unknown step " + step));
    }
  }
  QTRY_COMPARE(help->isVisible(), visible);
  QCOMPARE(help->windowTitle(), title);
  // Closing hides the window; the main window stays.
  QVERIFY(window_->isVisible());
  if (visible) {
    help->close();
  }
}

void SealerWindowTest::newScanSealSave() {
  const std::string source = *work_ / "src";
  qx_test::WriteFile(source + "/bin/run.sh", "#!/bin/sh\necho demo\n");
  qx_test::WriteFile(source + "/lib/core.dat", qx_test::RandomBytes(300000, 3));
  qx_test::WriteFile(source + "/doc/guide.txt", qx_test::TextBytes(80000, 5));
  qx_test::WriteFile(source + "/doc/Read Me.txt", "blank in a name\n");
  const std::string out = *work_ / "out";

  OpenWindow();
  Type(FormControl::kOwner, QStringLiteral("Demo Works"));
  Type(FormControl::kName, QStringLiteral("Demo"));
  Type(FormControl::kInstallTo, QStringLiteral("apps/demo"));
  Type(FormControl::kCommandLine, QStringLiteral("bin/run.sh"));
  answers_.push_back(QString::fromStdString(source));
  QTest::mouseClick(Button(FormControl::kBrowse), Qt::LeftButton);
  Type(FormControl::kPutTo, QString::fromStdString(out));
  QTest::keyClick(Edit(FormControl::kPutTo), Qt::Key_Tab);
  QVERIFY(Button(FormControl::kScan)->isEnabled());

  ClickAndWait(FormControl::kScan);
  QCOMPARE(qobject_cast<QLabel*>(Form().Control(FormControl::kFileCount))->text(),
           QStringLiteral("4"));
  QCOMPARE(Form().FileList().Count(), 4);
  QVERIFY(Button(FormControl::kSeal)->isEnabled());
  QCOMPARE(QApplication::focusWidget(), Button(FormControl::kSeal));
  SaveScreenshot(window_.get(), "main-window-scanned");

  // The put-to directory is offered for creation (OK), then the seal runs.
  // The run waits at the third file until the window has shown it.
  bool grabbed = false;
  QSemaphore shown;
  Form().SetWorkerStepHook([&](size_t index) {
    if (index == 2) {
      shown.tryAcquire(1, 10000);
    }
  });
  connect(&Form(), &qx::ui::MainForm::sealProgress, window_.get(), [&](int index, int) {
    if (index == 2) {
      QApplication::processEvents();  // the progress bar paints
      SaveScreenshot(window_.get(), "main-window-sealing");
      grabbed = true;
      shown.release();
    }
  });
  // The completion box comes over the form as it is after the run.
  struct Watching : qx::UserInterface {
    qx::UserInterface* next = nullptr;
    std::function<void()> on_box;
    void Beep(qx::BeepKind kind) override { next->Beep(kind); }
    BoxAnswer ShowMessageBox(const qx::MessageBoxRequest& request) override {
      on_box();
      return next->ShowMessageBox(request);
    }
  } watching;
  watching.next = &ui_;
  QStringList under_box;
  int fullest = 0;
  connect(Form().progress_bar(), &QProgressBar::valueChanged, window_.get(),
          [&](int value) { fullest = std::max(fullest, value); });
  watching.on_box = [&] {
    under_box << QStringLiteral("bar %1 %2, cancel %3, seal %4")
                     .arg(Form().progress_bar()->isVisible())
                     .arg(fullest * 100 / Form().progress_bar()->maximum())
                     .arg(Form().cancel_button()->isVisible())
                     .arg(Button(FormControl::kSeal)->isVisible());
  };
  {
    const qx::ScopedUserInterface scope(watching);
    ClickAndWait(FormControl::kSeal);
  }
  QCOMPARE(under_box.back(), QStringLiteral("bar 0 100, cancel 0, seal 1"));
  QCOMPARE(ui_.texts().back(), "The Demo package seal is complete.");
  QCOMPARE(ui_.texts().front(), "Directory " + out + " does not exist, create it?");
  QVERIFY(grabbed);
  QVERIFY(!Form().progress_bar()->isVisible());
  QVERIFY(Button(FormControl::kSeal)->isVisible());
  QVERIFY(window_->Action(101)->isEnabled());
  QVERIFY(window_->state().project_modified);
  QCOMPARE(Qxweb("verify " + ShellQuote(out + "/Demo.qxw")), std::string());

  const std::string project = *work_ / "Demo.QXS";
  answers_.push_back(QString::fromStdString(project));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F7);
  QCOMPARE(dialogs_.back().proposed_name, QStringLiteral("Demo.QXS"));
  QCOMPARE(window_->windowTitle(),
           QString::fromStdString("Tarnwick Web Lite Sealer - [" + project + "]"));
  QVERIFY(!Edit(FormControl::kName)->isEnabled());

  // qxweb seals the saved project into the same bytes.
  const auto by_window = TreeBytes(QString::fromStdString(out));
  QVERIFY(QDir(QString::fromStdString(out)).removeRecursively());
  QCOMPARE(Qxweb("seal --create-put-to " + ShellQuote(project)), std::string());
  const auto by_qxweb = TreeBytes(QString::fromStdString(out));
  QCOMPARE(by_window.size(), size_t{1 + 1 + 4});  // header, landing page, stored files
  QVERIFY(by_window == by_qxweb);

  // The seal's result stays through Save, and goes when a project is opened.
  QCOMPARE(Form().StatusLine(), QStringLiteral("The Demo package seal is complete."));
  answers_.push_back(QString::fromStdString(project));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
  QCOMPARE(window_->state().project.project_path, project);
  QCOMPARE(Form().StatusLine(), QString());
}

void SealerWindowTest::cancelDuringSeal_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("Cancel button") << "button";
  QTest::newRow("Escape") << "escape";
  QTest::newRow("closing the window") << "close";
}

void SealerWindowTest::cancelDuringSeal() {
  QFETCH(QString, how);
  const std::string project = MakeProject("Stay", true);
  QVERIFY(!project.empty());
  const std::string out = *work_ / "Stay-out";
  const auto before = TreeBytes(QString::fromStdString(out));
  qx_test::WriteFile(*work_ / "Stay-src/data/notes.txt", "changed\n");

  OpenWindow(project);
  // Leaving Put To offers Scan, and a scan offers Seal.
  Edit(FormControl::kPutTo)->setFocus();
  QTest::keyClick(Edit(FormControl::kPutTo), Qt::Key_Tab);
  ClickAndWait(FormControl::kScan);
  QVERIFY(Button(FormControl::kSeal)->isEnabled());
  // The run waits at the second file until the window has asked for Cancel.
  // The window answers meanwhile: the run is on a thread of its own.
  bool cancelled = false;
  QSemaphore acted;
  std::atomic<bool> off_thread = true;
  Form().SetWorkerStepHook([&](size_t index) {
    off_thread = off_thread && QThread::currentThread() != qApp->thread();
    if (index == 1) {
      acted.tryAcquire(1, 10000);
    }
  });
  connect(&Form(), &qx::ui::MainForm::sealProgress, window_.get(), [&](int index, int) {
    if (index != 1) {
      return;
    }
    const QSemaphoreReleaser release(acted);
    QVERIFY(!window_->Action(102)->isEnabled());
    QVERIFY(!Button(FormControl::kSeal)->isVisible());
    QVERIFY(!Button(FormControl::kBrowse)->isEnabled());
    QVERIFY(Edit(FormControl::kOwner)->isReadOnly());
    for (FormControl field : {FormControl::kOwner, FormControl::kPutTo}) {
      const QPalette shown = Edit(field)->palette();
      QCOMPARE(shown.color(QPalette::Base), shown.color(QPalette::Window));
    }
    if (how == "escape") {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    } else if (how == "close") {
      window_->close();  // stops the seal, then closes
      QVERIFY(window_->isVisible());
    } else {
      QTest::mouseClick(Form().cancel_button(), Qt::LeftButton);
    }
    cancelled = true;
  });
  ClickAndWait(FormControl::kSeal);
  QVERIFY(cancelled);
  QVERIFY(off_thread);
  QVERIFY(!window_->state().seal_running);
  for (const std::string& text : ui_.texts()) {
    QVERIFY2(text.find("complete") == std::string::npos, text.c_str());
  }
  QVERIFY(TreeBytes(QString::fromStdString(out)) == before);
  QVERIFY(window_->Action(102)->isEnabled());
  QVERIFY(Edit(FormControl::kOwner)->palette().color(QPalette::Base) !=
          Edit(FormControl::kOwner)->palette().color(QPalette::Window));
  // The status line says that the run stopped and what became of the package.
  QCOMPARE(Form().StatusLine(),
           QStringLiteral("Seal cancelled: the earlier package is left as it was."));
  if (how == "button") {
    SaveScreenshot(window_.get(), "main-window-cancelled");
  }
  QTRY_COMPARE(window_->isVisible(), how != "close");
}

void SealerWindowTest::signingKey_data() {
  // |setup|: "menu" chooses |file| with File > Signing Key while the settings
  // name the plain key "old" ("cancel" cancels the dialog, |answer| answers
  // the question that follows); "settings" names |file| there before the
  // window opens. Then the project is sealed twice (once when it fails).
  QTest::addColumn<QString>("setup");
  QTest::addColumn<QString>("file");
  QTest::addColumn<QStringList>("passphrases");
  QTest::addColumn<BoxAnswer>("answer");
  QTest::addColumn<QString>("setting");  // the key the settings name after: a file, or ""
  QTest::addColumn<QString>("message");  // a box's text: %1 the file, %2 its key id
  QTest::addColumn<bool>("sealed");
  QTest::addColumn<int>("asked");  // passphrase dialogs in all
  const QString chosen = "Seals are signed with the key %1 from now on.\n\nKey id: %2";
  const QString refused = "Unable to use %1 as the signing key: ";
  const QString unloadable = "Unable to load the signing key %1: ";
  QTest::newRow("plain key chosen, then two signed seals")
      << "menu"
      << "plain" << QStringList() << BoxAnswer::kOk << "plain" << chosen << true << 0;
  QTest::newRow("encrypted key chosen: one passphrase for the session")
      << "menu"
      << "encrypted" << QStringList{"s3cret"} << BoxAnswer::kOk << "encrypted" << chosen << true
      << 1;
  QTest::newRow("encrypted key in the settings: asked at the first seal")
      << "settings"
      << "encrypted" << QStringList{"s3cret"} << BoxAnswer::kOk << "encrypted" << QString() << true
      << 1;
  QTest::newRow("wrong passphrase at the seal")
      << "settings"
      << "encrypted" << QStringList{"wrong"} << BoxAnswer::kOk << "encrypted"
      << unloadable + "wrong passphrase. Nothing was sealed." << false << 1;
  QTest::newRow("passphrase cancelled at the seal")
      << "settings"
      << "encrypted" << QStringList{"<cancel>"} << BoxAnswer::kOk << "encrypted" << QString()
      << false << 1;
  QTest::newRow("key file gone at the seal")
      << "settings"
      << "missing" << QStringList() << BoxAnswer::kOk << "missing"
      << unloadable + "No such file or directory. Nothing was sealed." << false << 0;
  QTest::newRow("wrong passphrase when choosing: the old key stays")
      << "menu"
      << "encrypted" << QStringList{"wrong"} << BoxAnswer::kOk << "old"
      << refused + "wrong passphrase." << true << 1;
  QTest::newRow("passphrase cancelled when choosing: the old key stays")
      << "menu"
      << "encrypted" << QStringList{"<cancel>"} << BoxAnswer::kOk << "old" << QString() << true
      << 1;
  QTest::newRow("not a key file") << "menu"
                                  << "text" << QStringList() << BoxAnswer::kOk << "old"
                                  << refused + "not a secret key file (PKCS#8 PEM)." << true << 0;
  QTest::newRow("the public half")
      << "menu"
      << "pub" << QStringList() << BoxAnswer::kOk << "old"
      << refused +
             "not a secret key file (PKCS#8 PEM) (it is the public half: choose the file "
             "without \".pub\")."
      << true << 0;
  QTest::newRow("a path the settings cannot hold")
      << "menu"
      << "long" << QStringList() << BoxAnswer::kOk << "old"
      << "%1 is too long for the settings file (at most 255 bytes)" << true << 0;
  QTest::newRow("cancelled, Yes: seals without a signature")
      << "menu"
      << "cancel" << QStringList() << BoxAnswer::kYes << ""
      << "Seals are signed with the key %1.\n\nSeal without a signature from now on?" << true << 0;
  QTest::newRow("cancelled, No: the old key stays")
      << "menu"
      << "cancel" << QStringList() << BoxAnswer::kNo << "old"
      << "Seals are signed with the key %1.\n\nSeal without a signature from now on?" << true << 0;
}

void SealerWindowTest::signingKey() {
  QFETCH(QString, setup);
  QFETCH(QString, file);
  QFETCH(QStringList, passphrases);
  QFETCH(BoxAnswer, answer);
  QFETCH(QString, setting);
  QFETCH(QString, message);
  QFETCH(bool, sealed);
  QFETCH(int, asked);
  // Keys made with the library: "old" and "plain" without a passphrase.
  const std::string keys = *work_ / "keys";
  std::map<QString, std::string> paths = {
      {"old", keys + "/old"},
      {"plain", keys + "/plain"},
      {"encrypted", keys + "/enc"},
      {"text", keys + "/notes.txt"},
      {"pub", keys + "/plain.pub"},
      {"missing", keys + "/gone"},
      // Read back from the settings, a path this long would be cut short.
      {"long", keys + "/" + std::string(250, 'd') + "/long"},
  };
  std::map<QString, std::string> ids;
  qx_test::WriteFile(paths["text"], "not a key\n");
  QVERIFY(QDir().mkpath(QString::fromStdString(paths["long"]).section('/', 0, -2)));
  for (const auto& [name, passphrase] : {std::pair<QString, std::string>{"old", ""},
                                         {"plain", ""},
                                         {"encrypted", "s3cret"},
                                         {"long", ""}}) {
    const auto made = qx::MakeSigningKey();
    QVERIFY(made.ok());
    QCOMPARE(qx::SaveSigningKey(made.value, paths[name], passphrase), std::string());
    ids[name] = qx::KeyId(made.value.public_key());
  }
  const std::string project = MakeProject("Sign", true);
  QVERIFY(!project.empty());
  const std::string out = *work_ / "Sign-out";
  const std::string header = out + "/Sign.qxw";
  const auto before = TreeBytes(QString::fromStdString(out));
  {
    qx::SealerSettings settings;
    QVERIFY(qx::WriteSigningKeySetting(settings, paths[setup == "menu" ? "old" : file]));
  }

  OpenWindow(project);
  passphrases_ = passphrases;
  const QString target = QString::fromStdString(file == "cancel" ? paths["old"] : paths[file]);
  QString expected_box =
      message.arg(target, QString::fromStdString(file == "cancel" ? ids["old"] : ids[file]));
  if (setup == "menu") {
    answers_.push_back(file == "cancel" ? std::nullopt : std::optional<QString>(target));
    ui_.QueueAnswer(answer);
    WithFileMenu([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_K); });
    QCOMPARE(dialogs_.size(), size_t{1});
    QCOMPARE(dialogs_[0].title, QStringLiteral("Choose Signing Key"));
    QCOMPARE(dialogs_[0].directory, QString::fromStdString(keys));
    QCOMPARE(dialogs_[0].proposed_name, QStringLiteral("old"));
  }
  const std::string expected_setting = setting.isEmpty() ? std::string() : paths[setting];
  QCOMPARE(Setting("SigningKey"), expected_setting);
  QCOMPARE(window_->state().settings.signing_key, expected_setting);

  Edit(FormControl::kPutTo)->setFocus();
  QTest::keyClick(Edit(FormControl::kPutTo), Qt::Key_Tab);
  ClickAndWait(FormControl::kScan);
  for (int seal = 0; seal < (sealed ? 2 : 1); ++seal) {
    ClickAndWait(FormControl::kSeal);
    const std::vector<std::string> shown = ui_.texts();
    QCOMPARE(!shown.empty() && shown.back() == "The Sign package seal is complete.", sealed);
  }
  QVERIFY(!window_->state().seal_running);
  QCOMPARE(passphrase_asked_.size(), asked);
  for (const QString& path : passphrase_asked_) {
    QCOMPARE(path, QString::fromStdString(paths["encrypted"]));
  }
  std::vector<QString> texts;
  for (const std::string& text : ui_.texts()) {
    texts.push_back(QString::fromStdString(text));
  }
  if (!message.isEmpty()) {
    QVERIFY2(std::find(texts.begin(), texts.end(), expected_box) != texts.end(),
             qPrintable(expected_box));
  }
  // A seal that does not start writes nothing, and only a bad key shows a stop box.
  int stops = 0;
  for (const qx::MessageBoxRequest& box : ui_.boxes()) {
    stops += box.icon == qx::BoxIcon::kStop ? 1 : 0;
  }
  QCOMPARE(stops, message.contains("Unable") ? 1 : 0);
  if (!sealed) {
    QVERIFY(TreeBytes(QString::fromStdString(out)) == before);
    return;
  }
  const std::string signature = header + ".sig";
  if (setting.isEmpty()) {
    QVERIFY(!qx_test::FileExists(signature));
    return;
  }
  QCOMPARE(Qxweb("verify --key " + ShellQuote(paths[setting] + ".pub") + " " + ShellQuote(header)),
           std::string());
  const auto parsed = qx::ParseSignature(qx_test::ReadFile(signature));
  QVERIFY2(parsed.ok(), parsed.error.c_str());
  QCOMPARE(parsed.value.key_id, ids[setting]);
  QVERIFY(parsed.value.sequence > 0);
}

void SealerWindowTest::passphraseDialog_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<int>("key");
  QTest::addColumn<std::optional<std::string>>("given");
  QTest::newRow("typed, Return") << QString::fromUtf8("s3cr\u00e9t") << int(Qt::Key_Return)
                                 << std::optional<std::string>("s3cr\xc3\xa9t");
  QTest::newRow("empty, Return") << QString() << int(Qt::Key_Return)
                                 << std::optional<std::string>("");
  QTest::newRow("typed, Escape") << "s3cret" << int(Qt::Key_Escape) << std::optional<std::string>();
}

void SealerWindowTest::passphraseDialog() {
  QFETCH(QString, typed);
  QFETCH(int, key);
  QFETCH(std::optional<std::string>, given);
  OpenWindow();
  qx::ui::SetPassphraseHook(nullptr);
  QString label;
  bool hidden = false;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QInputDialog*>(modal);
    QVERIFY(dialog != nullptr);
    label = dialog->labelText();
    hidden = dialog->textEchoMode() == QLineEdit::Password;
    dialog->findChild<QLineEdit*>()->insert(typed);  // as typed, whatever the keyboard
    SaveScreenshot(dialog, "passphrase-dialog");
    QTest::keyClick(dialog->findChild<QLineEdit*>(), Qt::Key(key));
  });
  const std::optional<std::string> answer = qx::ui::AskKeyPassphrase(window_.get(), "/keys/enc");
  qx::ui::SetPassphraseHook(passphrase_hook_);
  QCOMPARE(answer, given);
  QVERIFY(hidden);
  QVERIFY2(label.contains(QStringLiteral("/keys/enc")), qPrintable(label));
}

void SealerWindowTest::closeWithUnsavedChanges_data() {
  QTest::addColumn<bool>("by_exit");
  QTest::addColumn<BoxAnswer>("answer");
  QTest::addColumn<bool>("closed");
  QTest::addColumn<bool>("saved");
  QTest::newRow("close box, Yes") << false << BoxAnswer::kYes << true << true;
  QTest::newRow("close box, No") << false << BoxAnswer::kNo << true << false;
  QTest::newRow("close box, Cancel") << false << BoxAnswer::kCancel << true << false;
  QTest::newRow("Exit, Cancel") << true << BoxAnswer::kCancel << false << false;
  QTest::newRow("Exit, Yes") << true << BoxAnswer::kYes << true << true;
  QTest::newRow("end of session, Cancel") << false << BoxAnswer::kCancel << false << false;
}

void SealerWindowTest::closeWithUnsavedChanges() {
  QFETCH(bool, by_exit);
  QFETCH(BoxAnswer, answer);
  QFETCH(bool, closed);
  QFETCH(bool, saved);
  const std::string project = MakeProject("Edit", false);
  QVERIFY(!project.empty());
  OpenWindow(project);
  Type(FormControl::kCommandLine, QStringLiteral("bin/other.sh"));
  ui_.QueueAnswer(answer);
  const bool session_ends = QByteArray(QTest::currentDataTag()).startsWith("end of session");
  if (by_exit) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F8);
  } else if (session_ends) {
    window_->EndSession(true);  // the window stays; the settings are written
    QCOMPARE(Setting("LastControl.1"), project);
  } else {
    window_->close();
  }
  QCOMPARE(ui_.texts(), std::vector<std::string>{"Do you want to save the modified Project File?"});
  QCOMPARE(ui_.boxes()[0].buttons, qx::BoxButtons::kYesNoCancel);
  QCOMPARE(window_->isVisible(), !closed);
  QCOMPARE(qx_test::ReadFile(project).find("CommandLine: bin/other.sh") != std::string::npos,
           saved);
  if (closed) {
    QCOMPARE(Setting("LastControl.1"), project);
  }
}

void SealerWindowTest::messageBoxes_data() {
  QTest::addColumn<qx::BoxIcon>("icon");
  QTest::addColumn<qx::BoxButtons>("buttons");
  QTest::addColumn<int>("click");  // a QMessageBox::StandardButton; 0 presses Return
  QTest::addColumn<BoxAnswer>("answer");
  QTest::addColumn<int>("shown_icon");
  QTest::newRow("stop, OK") << qx::BoxIcon::kStop << qx::BoxButtons::kOk << 0 << BoxAnswer::kOk
                            << int(QMessageBox::Critical);
  QTest::newRow("information, OK") << qx::BoxIcon::kInformation << qx::BoxButtons::kOk << 0
                                   << BoxAnswer::kOk << int(QMessageBox::Information);
  QTest::newRow("question, OK first") << qx::BoxIcon::kQuestion << qx::BoxButtons::kOkCancel << 0
                                      << BoxAnswer::kOk << int(QMessageBox::Question);
  QTest::newRow("OK/Cancel, Cancel")
      << qx::BoxIcon::kNone << qx::BoxButtons::kOkCancel << int(QMessageBox::Cancel)
      << BoxAnswer::kCancel << int(QMessageBox::NoIcon);
  QTest::newRow("Yes first") << qx::BoxIcon::kQuestion << qx::BoxButtons::kYesNoCancel << 0
                             << BoxAnswer::kYes << int(QMessageBox::Question);
  QTest::newRow("No") << qx::BoxIcon::kQuestion << qx::BoxButtons::kYesNoCancel
                      << int(QMessageBox::No) << BoxAnswer::kNo << int(QMessageBox::Question);
  QTest::newRow("Yes/No, No") << qx::BoxIcon::kWarning << qx::BoxButtons::kYesNo
                              << int(QMessageBox::No) << BoxAnswer::kNo
                              << int(QMessageBox::Warning);
}

void SealerWindowTest::messageBoxes() {
  QFETCH(qx::BoxIcon, icon);
  QFETCH(qx::BoxButtons, buttons);
  QFETCH(int, click);
  QFETCH(BoxAnswer, answer);
  QFETCH(int, shown_icon);
  OpenWindow();
  qx::ui::QtUserInterface qt_ui;
  qt_ui.RegisterOwner(window_->Handle(), window_.get());
  const qx::ScopedUserInterface scope(qt_ui);
  QString caption;
  int seen_icon = -1;
  QWidget* parent = nullptr;
  OnNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    caption = box->windowTitle();
    seen_icon = box->icon();
    parent = box->parentWidget();
    if (click == 0) {
      QTest::keyClick(box, Qt::Key_Return);  // the default button
    } else {
      box->button(QMessageBox::StandardButton(click))->click();
    }
  });
  const BoxAnswer given = qx::CurrentUserInterface().ShowMessageBox(
      {window_->Handle(), "text", "Tarnwick Web Sealer", icon, buttons});
  QCOMPARE(given, answer);
  QCOMPARE(caption, QStringLiteral("Tarnwick Web Sealer"));
  QCOMPARE(seen_icon, shown_icon);
  QCOMPARE(parent, window_.get());
}

void SealerWindowTest::everyContextHasATopic() {
  std::vector<int> contexts = {101, 102, 103, 104, 105, 106, 151, 152, 153, 154,
                               301, 302, 303, 503, 801, 802, 803, 804, 2000};
  OpenWindow();
  for (QWidget* control : Form().findChildren<QWidget*>()) {
    const QVariant id = control->property(qx::ui::kControlIdProperty);
    if (id.isValid()) {
      contexts.push_back(id.toInt());
    }
  }
  QCOMPARE(contexts.size(), size_t{19 + 27});
  for (int context : contexts) {
    QVERIFY2(qx::ui::HasHelpTopic(context), qPrintable(QString::number(context)));
  }
  QCOMPARE(qx::ui::HelpTopicPage(4242), QStringLiteral("qrc:/help/contents.html"));
}

void SealerWindowTest::busyCursorNests() {
  qx::ui::BusyCursor(false);  // an end without a begin does nothing
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  qx::ui::BusyCursor(true);
  qx::ui::BusyCursor(true);
  qx::ui::BusyCursor(false);
  QVERIFY(QApplication::overrideCursor() != nullptr);
  QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  qx::ui::BusyCursor(false);
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QCOMPARE(qx::ui::BusyCursorDepth(), 0);
}

QTEST_MAIN(SealerWindowTest)
#include "sealer_window_test.moc"
