// The install dialog over the client's web install. Client window.
#include "client_ui/install_dialog.h"

#include <sys/wait.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "client/client_cache.h"
#include "core/format/install_link.h"
#include "core/fsutil/path_text.h"
#include "core/platform/user_interface.h"

namespace qx::ui {

namespace {

constexpr char kTitle[] = "Tarnwick Web Client";
constexpr char kTestAnswers[] = "QXWEB_CLIENT_TEST_ANSWERS";

QString Html(const std::string& text) {
  return QString::fromStdString(text).toHtmlEscaped();
}

QString Amount(int64_t bytes) {
  return QString::fromStdString(ByteSizeText(bytes));
}

QString Problems(const std::vector<std::string>& problems) {
  QStringList lines;
  for (const std::string& problem : problems) {
    lines << Html(problem);
  }
  return lines.join(QStringLiteral("<br>"));
}

// Opens the client's cache (its lock) for one piece of work on a worker.
std::unique_ptr<ClientCache> OpenCache(std::vector<std::string>& problems) {
  std::string error;
  std::unique_ptr<ClientCache> cache = ClientCache::Open(nullptr, &error);
  if (!cache) {
    problems.push_back(error);
  } else if (!cache->root_problem().empty()) {
    problems.push_back(cache->root_problem());
    cache.reset();
  }
  return cache;
}

}  // namespace

InstallDialog::InstallDialog(const QString& source, QWidget* parent)
    : QDialog(parent), source_(source) {
  setWindowTitle(QStringLiteral("Install - %1").arg(QLatin1String(kTitle)));
  setMinimumWidth(480);
  auto* layout = new QVBoxLayout(this);
  text_ = new QLabel(this);
  text_->setWordWrap(true);
  text_->setTextFormat(Qt::RichText);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(text_);
  progress_ = new QProgressBar(this);
  progress_->setVisible(false);
  layout->addWidget(progress_);
  auto* buttons = new QDialogButtonBox(this);
  install_ = buttons->addButton(tr("&Install"), QDialogButtonBox::AcceptRole);
  launch_ = buttons->addButton(tr("&Launch"), QDialogButtonBox::AcceptRole);
  cancel_ = buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(install_, &QPushButton::clicked, this, &InstallDialog::Install);
  connect(launch_, &QPushButton::clicked, this, &InstallDialog::Launch);
  connect(cancel_, &QPushButton::clicked, this, &InstallDialog::reject);

  Enter(Stage::kReading, tr("Reading the package at %1 ...").arg(source.toHtmlEscaped()));
  const std::string url = source.toStdString();
  Run(
      [this, url] {
        WebInstallSettings settings;
        settings.fetch.cancelled = [this] { return cancelled_.load(); };
        std::vector<std::string> problems;
        if (const std::unique_ptr<ClientCache> cache = OpenCache(problems)) {
          preview_ = PreviewFromWeb(*cache, url, settings);
        } else {
          preview_.problems = std::move(problems);
        }
      },
      [this] { ShowPreview(); });
}

InstallDialog::~InstallDialog() {
  cancelled_ = true;
  if (worker_ != nullptr) {
    worker_->wait();
  }
}

QString InstallDialog::message() const {
  return text_->text();
}

void InstallDialog::Enter(Stage stage, const QString& text) {
  stage_ = stage;
  text_->setText(text);
  const bool busy =
      stage == Stage::kReading || stage == Stage::kInstalling || stage == Stage::kLaunching;
  install_->setVisible(stage == Stage::kAsking);
  install_->setEnabled(stage == Stage::kAsking && preview_.problems.empty());
  launch_->setVisible(stage == Stage::kInstalled);
  progress_->setVisible(stage == Stage::kInstalling);
  cancel_->setEnabled(true);
  cancel_->setText(stage == Stage::kInstalled || stage == Stage::kFailed ? tr("&Close")
                                                                         : tr("Cancel"));
  if (stage == Stage::kAsking && install_->isEnabled()) {
    install_->setDefault(true);
    install_->setFocus();
  } else if (stage == Stage::kInstalled) {
    launch_->setDefault(true);
    launch_->setFocus();
  } else if (!busy) {
    cancel_->setFocus();
  }
  emit stageChanged(stage);
  if (stage == Stage::kAsking || stage == Stage::kInstalled) {
    AnswerForTest();
  }
}

void InstallDialog::ShowPreview() {
  if (cancelled_) {
    QDialog::reject();
    return;
  }
  const WebPreview& p = preview_;
  if (p.appl_name.empty()) {
    Enter(Stage::kFailed, tr("<p>The package at %1 cannot be installed:</p><p>%2</p>")
                              .arg(source_.toHtmlEscaped(), Problems(p.problems)));
    return;
  }
  QString text = tr("<p>Install <b>%1</b> %2 from %3?</p>")
                     .arg(Html(p.appl_name), Html(p.version),
                          p.owner.empty() ? tr("an unnamed owner") : Html(p.owner));
  text += tr("<p>Download: %1 in %2 %3<br>")
              .arg(Amount(p.download_bytes))
              .arg(p.files)
              .arg(p.files == 1 ? tr("file") : tr("files"));
  text += tr("From: %1<br>").arg(Html(p.header_url));
  text += p.key_id.empty() ? tr("Not signed: nothing but the place it comes from vouches for it.")
                           : tr("Signed by key %1 (%2)").arg(Html(p.key_id), Html(p.signer));
  text += QStringLiteral("</p>");
  if (!p.cached_version.empty()) {
    text +=
        tr("<p>Version %1 is installed now; it will be replaced.</p>").arg(Html(p.cached_version));
  }
  if (!p.problems.empty()) {
    text += tr("<p><b>It cannot be installed:</b><br>%1</p>").arg(Problems(p.problems));
  }
  Enter(Stage::kAsking, text);
}

void InstallDialog::Install() {
  if (stage_ != Stage::kAsking || !preview_.problems.empty()) {
    return;
  }
  progress_->setRange(0, 1000);
  progress_->setValue(0);
  Enter(Stage::kInstalling,
        tr("Installing %1 %2 ...").arg(Html(preview_.appl_name), Html(preview_.version)));
  const std::string url = source_.toStdString();
  Run(
      [this, url] {
        WebInstallSettings settings;
        settings.shown = &preview_;
        settings.fetch.cancelled = [this] { return cancelled_.load(); };
        settings.callbacks.progress = [this](const FetchProgress& progress) {
          QMetaObject::invokeMethod(
              this,
              [this, progress] {
                OnProgress(progress.bytes_done, progress.bytes_total, progress.files_done,
                           progress.files_total);
              },
              Qt::QueuedConnection);
        };
        if (const std::unique_ptr<ClientCache> cache = OpenCache(outcome_.problems)) {
          outcome_ = InstallFromWeb(*cache, url, settings);
        }
      },
      [this] {
        if (cancelled_) {
          QDialog::reject();
          return;
        }
        if (!outcome_.problems.empty()) {
          Enter(Stage::kFailed, tr("<p>%1 was not installed; the cache is as it was.</p><p>%2</p>")
                                    .arg(Html(preview_.appl_name), Problems(outcome_.problems)));
          return;
        }
        installed_name_ = outcome_.name;
        progress_->setValue(progress_->maximum());
        Enter(Stage::kInstalled,
              tr("<p><b>%1</b> %2 is installed%3.</p><p>Launch it now?</p>")
                  .arg(Html(preview_.appl_name), Html(preview_.version),
                       outcome_.current ? tr(" (it was already current)") : QString()));
      });
}

void InstallDialog::OnProgress(qint64 done, qint64 total, int files_done, int files_total) {
  if (stage_ != Stage::kInstalling) {
    return;
  }
  progress_->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 0);
  progress_->setFormat(tr("%1 of %2, %3 of %4 files")
                           .arg(Amount(done), Amount(total))
                           .arg(files_done)
                           .arg(files_total));
}

void InstallDialog::Launch() {
  if (stage_ != Stage::kInstalled) {
    return;
  }
  Enter(Stage::kLaunching, tr("Launching %1 ...").arg(Html(preview_.appl_name)));
  cancel_->setEnabled(false);
  Run(
      [this] {
        std::vector<std::string> problems;
        if (const std::unique_ptr<ClientCache> cache = OpenCache(problems)) {
          const LaunchOutcome launched = LaunchCachedApplication(*cache, installed_name_, {});
          problems = launched.problems;
          if (launched.pid > 0) {
            // Nobody else waits for it: a thread of its own reaps it.
            std::thread([pid = launched.pid] { ::waitpid(pid, nullptr, 0); }).detach();
          }
        }
        launch_problem_.clear();
        for (const std::string& problem : problems) {
          launch_problem_ += (launch_problem_.empty() ? "" : "\n") + problem;
        }
      },
      [this] {
        if (launch_problem_.empty()) {
          accept();
          return;
        }
        Enter(Stage::kFailed, tr("<p>%1 is installed but did not start:</p><p>%2</p>")
                                  .arg(Html(preview_.appl_name), Html(launch_problem_)));
      });
}

void InstallDialog::reject() {
  if (worker_ == nullptr) {
    QDialog::reject();
    return;
  }
  // The run stops at its next look at the flag and closes the dialog then.
  if (stage_ != Stage::kLaunching) {
    cancelled_ = true;
    cancel_->setEnabled(false);
    text_->setText(tr("Cancelling ..."));
  }
}

void InstallDialog::Run(std::function<void()> work, std::function<void()> done) {
  // Nothing the work does may reach a window from its thread: its boxes are
  // kept and shown here once it has ended.
  worker_ = QThread::create([this, work = std::move(work)] {
    const ScopedThreadUserInterface boxes(deferred_);
    work();
  });
  connect(worker_, &QThread::finished, this, [this, done = std::move(done)] {
    worker_->deleteLater();
    worker_ = nullptr;
    deferred_.Replay(CurrentUserInterface());
    done();
  });
  worker_->start();
}

void InstallDialog::AnswerForTest() {
  const char* answers = std::getenv(kTestAnswers);
  if (answers == nullptr) {
    return;
  }
  const QStringList list = QString::fromUtf8(answers).split(QLatin1Char(','));
  const int asked = stage_ == Stage::kAsking ? 0 : 1;
  const QString answer = asked < list.size() ? list[asked].trimmed() : QString();
  QTimer::singleShot(0, this, [this, answer] {
    std::fprintf(stderr, "%s\n", text_->text().toUtf8().constData());
    if (answer == QLatin1String("install")) {
      Install();
    } else if (answer == QLatin1String("launch")) {
      Launch();
    } else {
      reject();
    }
  });
}

int RunInstallDialog(const QString& typed, QWidget* parent) {
  std::string error;
  const std::string source = IsInstallLink(typed.toStdString())
                                 ? SourceOfInstallLink(typed.toStdString(), &error)
                                 : typed.toStdString();
  if (source.empty()) {
    if (std::getenv(kTestAnswers) != nullptr) {
      std::fprintf(stderr, "%s\n", error.c_str());
    } else {
      QMessageBox::critical(
          parent, QLatin1String(kTitle),
          QObject::tr("This link cannot be installed.\n\n%1").arg(QString::fromStdString(error)));
    }
    return 2;
  }
  InstallDialog dialog(QString::fromStdString(source), parent);
  dialog.exec();
  return dialog.installed_name().empty() ? 1 : 0;
}

}  // namespace qx::ui
