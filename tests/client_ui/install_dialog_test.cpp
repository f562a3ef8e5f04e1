// The install dialog driven as its user drives it, against nginx serving
// packages that qxweb sealed: what it shows before it asks, the install
// with its progress, Cancel at each step, and the launch it offers.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "client_ui/install_dialog.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_support.h"
#include "tests/support/web_server.h"

namespace {

namespace fs = std::filesystem;
using qx::ui::InstallDialog;
using qx_test::ReadFile;
using qx_test::ShellQuote;
using Stage = InstallDialog::Stage;

// Writes its arguments into ran.txt.
constexpr const char* kProbe =
    "#!/bin/sh\n"
    "echo ran \"$@\" > ran.txt\n";

}  // namespace

class InstallDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<qx_test::TempDir> dir_;
  std::unique_ptr<qx_test::ScopedEnv> config_, data_, passphrase_;
  std::unique_ptr<qx_test::WebServer> server_;
  std::string src_, out_, project_;

  std::string Qxweb(const std::string& arguments) {
    const auto result =
        qx_test::RunCommand(ShellQuote(qx_test::QxwebPath()) + " " + arguments + " 2>&1");
    return result.status == 0 ? std::string() : result.out;
  }

  // Waits until |dialog| reaches |stage|.
  static bool Reaches(InstallDialog& dialog, Stage stage) {
    return QTest::qWaitFor([&] { return dialog.stage() == stage; }, 20000);
  }

  // Runs qxweb and fails the test with its output when it fails.
  void ExpectQxweb(const std::string& arguments) {
    const std::string out = Qxweb(arguments);
    QVERIFY2(out.empty(), out.c_str());
  }

  std::string CacheList() {
    return qx_test::RunCommand(ShellQuote(qx_test::QxwebPath()) + " cache list").out;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<qx_test::TempDir>();
    config_ = std::make_unique<qx_test::ScopedEnv>("XDG_CONFIG_HOME", (*dir_ / "config").c_str());
    data_ = std::make_unique<qx_test::ScopedEnv>("XDG_DATA_HOME", (*dir_ / "data").c_str());
    passphrase_ = std::make_unique<qx_test::ScopedEnv>("QXWEB_KEY_PASSPHRASE", "");
    src_ = *dir_ / "src";
    out_ = *dir_ / "out";
    project_ = *dir_ / "demo.QXS";
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", src_, fs::copy_options::recursive);
    qx_test::WriteFile(src_ + "/bin/probe", kProbe);
    fs::permissions(src_ + "/bin/probe", fs::perms::owner_all);
    qx_test::WriteFile(src_ + "/data/big.bin", qx_test::RandomBytes(3 << 20, 3));
    ExpectQxweb("new " + ShellQuote(project_) +
                " --name Demo --command-line bin/probe --owner '<b>Bold & Co</b>'"
                " --seal-from " +
                ShellQuote(src_) + " --put-to " + ShellQuote(out_) + " && " +
                ShellQuote(qx_test::QxwebPath()) + " seal --scan --create-put-to " +
                ShellQuote(project_));
    server_ = std::make_unique<qx_test::WebServer>(*dir_ / "web", out_);
    QVERIFY(server_->Start());
  }

  void cleanup() {
    server_.reset();
    passphrase_.reset();
    data_.reset();
    config_.reset();
    dir_.reset();
  }

  void showsThePackageInstallsItAndLaunchesIt() {
    InstallDialog dialog(QString::fromStdString(server_->Url("/Demo.htm")));
    dialog.show();
    QCOMPARE(dialog.stage(), Stage::kReading);
    QVERIFY(Reaches(dialog, Stage::kAsking));
    const QString shown = dialog.message();
    QVERIFY2(shown.contains(QStringLiteral("<b>Demo</b>")), qPrintable(shown));
    // Header texts are shown as text, never as markup.
    QVERIFY2(shown.contains(QStringLiteral("&lt;b&gt;Bold &amp; Co&lt;/b&gt;")), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("3.0 MB in 10 files")), qPrintable(shown));
    QVERIFY(shown.contains(QString::fromStdString(server_->Url("/Demo.qxw"))));
    QVERIFY(shown.contains(QStringLiteral("Not signed")));
    QVERIFY(dialog.install_button()->isVisible() && dialog.install_button()->isEnabled());
    if (const char* shots = std::getenv("QX_SCREENSHOT_DIR")) {
      fs::create_directories(shots);
      dialog.grab().save(QString::fromUtf8(shots) + QStringLiteral("/install-dialog.png"));
    }
    QVERIFY(CacheList().find("Demo") == std::string::npos);  // nothing before the yes

    QSignalSpy stages(&dialog, &InstallDialog::stageChanged);
    QTest::mouseClick(dialog.install_button(), Qt::LeftButton);
    QCOMPARE(dialog.stage(), Stage::kInstalling);
    QVERIFY(dialog.progress_bar()->isVisible());
    QVERIFY(Reaches(dialog, Stage::kInstalled));
    QCOMPARE(dialog.progress_bar()->value(), dialog.progress_bar()->maximum());
    QCOMPARE(dialog.installed_name(), std::string("\\Demo"));
    QVERIFY(CacheList().find("Demo") != std::string::npos);

    QTest::mouseClick(dialog.launch_button(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 20000));
    const std::string ran = *dir_ / "data/tarnwick/cache/Demo/ran.txt";
    QVERIFY(QTest::qWaitFor([&] { return fs::exists(ran); }, 10000));
    QCOMPARE(ReadFile(ran), std::string("ran\n"));
  }

  void namesTheSignerAndRefusesWhatAnInstallWould() {
    ExpectQxweb("key new " + ShellQuote(*dir_ / "k.key") + " && " +
                ShellQuote(qx_test::QxwebPath()) + " seal --scan --sign " +
                ShellQuote(*dir_ / "k.key") + " " + ShellQuote(project_));
    const std::string key_line = ReadFile(*dir_ / "k.key.pub");
    const QString key_id =
        QString::fromStdString(key_line.substr(key_line.rfind(' ') + 1)).trimmed();
    {
      InstallDialog dialog(QString::fromStdString(server_->Url("/Demo.qxw")));
      QVERIFY(Reaches(dialog, Stage::kAsking));
      QVERIFY2(dialog.message().contains(QStringLiteral("Signed by key ") + key_id),
               qPrintable(dialog.message()));
    }
    // Pinned to that key, the application refuses an unsigned version.
    ExpectQxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
    ExpectQxweb("seal --scan --unsigned " + ShellQuote(project_));
    InstallDialog dialog(QString::fromStdString(server_->Url("/Demo.qxw")));
    QVERIFY(Reaches(dialog, Stage::kAsking));
    QVERIFY2(dialog.message().contains(QStringLiteral("a downgrade")),
             qPrintable(dialog.message()));
    QVERIFY(dialog.message().contains(QStringLiteral("is installed now")));
    QVERIFY(!dialog.install_button()->isEnabled());

    InstallDialog missing(QString::fromStdString(server_->Url("/Nothing.qxw")));
    QVERIFY(Reaches(missing, Stage::kFailed));
    QVERIFY(missing.message().contains(QStringLiteral("404")));
    QVERIFY(!missing.install_button()->isVisible());
  }

  void cancelStopsEachStepAndLeavesTheCache() {
    const std::string before = CacheList();
    // While the header is read.
    {
      InstallDialog dialog(QString::fromStdString(server_->Url("/slow/Demo.htm")));
      dialog.show();
      QTest::mouseClick(dialog.cancel_button(), Qt::LeftButton);
      QVERIFY(QTest::qWaitFor([&] { return dialog.isHidden(); }, 20000));
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    // While the files arrive (512 kB a second on the slow path).
    InstallDialog dialog(QString::fromStdString(server_->Url("/slow/Demo.qxw")));
    dialog.show();
    QVERIFY(Reaches(dialog, Stage::kAsking));
    QTest::mouseClick(dialog.install_button(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return dialog.progress_bar()->value() > 0; }, 20000));
    QTest::mouseClick(dialog.cancel_button(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return dialog.isHidden(); }, 20000));
    QVERIFY(dialog.installed_name().empty());
    QCOMPARE(CacheList(), before);
  }
};

QTEST_MAIN(InstallDialogTest)
#include "install_dialog_test.moc"
