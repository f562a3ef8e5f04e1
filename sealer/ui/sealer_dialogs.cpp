// About, the project file dialogs, Locate Directory, Choose Signing Key and
// the passphrase dialog.
#include "sealer/ui/sealer_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <utility>

#include "core/platform/library_version.h"
#include "core/signature/signing_key.h"
#include "sealer/project/sealer_project.h"
#include "widgets/qt_text.h"
#include "widgets/window_services.h"

namespace qx::ui {

namespace {

FileDialogHook& Hook() {
  static FileDialogHook hook;
  return hook;
}

PassphraseHook& AskHook() {
  static PassphraseHook hook;
  return hook;
}

constexpr char kProjectFilter[] = "Sealer Project Files (*.QXS)";

// Where a file dialog meant for |directory| starts: there when it is a
// directory, else in the nearest directory above it, else in the home
// directory. A dialog given a path that is no directory takes its last
// component for the file's name, which would stand in for the one proposed.
QString ExistingDirectory(const QString& directory) {
  if (directory.isEmpty()) {
    return QDir::homePath();
  }
  if (QFileInfo(directory).isDir()) {
    return directory;
  }
  QString current = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
  for (;;) {
    const QFileInfo info(current);
    if (info.isDir()) {
      return current;
    }
    const QString parent = info.path();
    if (parent == current) {
      return QDir::homePath();
    }
    current = parent;
  }
}

// Shows the dialog of |request|, or asks the hook; the chosen path.
std::optional<QString> RunFileDialog(QWidget* owner, const FileDialogRequest& request) {
  if (Hook()) {
    return Hook()(request);
  }
  QFileDialog dialog(owner, request.title, request.directory, request.filter);
  switch (request.kind) {
    case FileDialogRequest::Kind::kOpen:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      break;
    case FileDialogRequest::Kind::kSaveAs:
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setDefaultSuffix(QString::fromLatin1(
          kProjectFileExtension.data(), static_cast<qsizetype>(kProjectFileExtension.size())));
      break;
    case FileDialogRequest::Kind::kLocateDirectory:
      dialog.setFileMode(QFileDialog::Directory);
      dialog.setOption(QFileDialog::ShowDirsOnly);
      break;
  }
  if (!request.proposed_name.isEmpty()) {
    dialog.selectFile(request.proposed_name);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return std::nullopt;
  }
  return dialog.selectedFiles().constFirst();
}

}  // namespace

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QStringLiteral("About Tarnwick Web Lite Sealer"));
  setObjectName(QStringLiteral("aboutDialog"));
  const DialogUnits units(font());
  setFixedSize(units.X(147), units.Y(150));

  auto* title = new QLabel(QStringLiteral("Tarnwick Web Lite Sealer ") + kProductVersion, this);
  title->setObjectName(QStringLiteral("label103"));
  title->setAlignment(Qt::AlignCenter);
  title->setGeometry(units.Rect(0, 5, 147, 9));

  auto* icon = new QLabel(this);
  const QRect icon_rect = units.Rect(60, 24, 16, 16);
  const int side = std::min(icon_rect.width(), icon_rect.height());
  icon->setPixmap(QIcon(QStringLiteral(":/icons/qxsealer-lite.png")).pixmap(side, side));
  icon->setGeometry(QRect(units.X(147) / 2 - side / 2, icon_rect.top(), side, side));

  const QString notices[] = {
      QStringLiteral("Seals desktop applications"),
      QStringLiteral("for delivery over the web."),
      QStringLiteral("Copyright \u00a9 Tarnwick Inc."),
      QStringLiteral("All rights reserved."),
      QStringLiteral("Core library %1").arg(QString::fromLatin1(LibraryVersion())),
      QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion())),
  };
  const int tops[] = {54, 71, 80, 89, 98, 107};
  for (size_t i = 0; i < std::size(notices); ++i) {
    auto* line = new QLabel(notices[i], this);
    line->setAlignment(Qt::AlignCenter);
    line->setGeometry(units.Rect(0, tops[i], 147, 9));
  }

  auto* ok = new QPushButton(QStringLiteral("&OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  ok->setGeometry(units.Rect(61, 125, 24, 13));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  ok->setFocus();
}

QString AboutDialog::TitleLine() const {
  return findChild<QLabel*>(QStringLiteral("label103"))->text();
}

void AboutDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreWindow(this, true);
}

void SetFileDialogHook(FileDialogHook hook) {
  Hook() = std::move(hook);
}

bool ChooseProjectFile(QWidget* owner, bool save_as, std::string& path, std::string_view appl_name,
                       std::string_view project_directory, int& help_context) {
  help_context = save_as ? kSaveAsHelpContext : kOpenHelpContext;
  FileDialogRequest request;
  request.kind = save_as ? FileDialogRequest::Kind::kSaveAs : FileDialogRequest::Kind::kOpen;
  request.title =
      save_as ? QStringLiteral("Save Project File As") : QStringLiteral("Open Project File");
  request.filter = QString::fromLatin1(kProjectFilter);
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    request.directory = ExistingDirectory(ToQString(project_directory));
  } else {
    // A project in the root starts there, not nowhere.
    request.directory =
        ExistingDirectory(ToQString(std::string_view(path).substr(0, slash == 0 ? 1 : slash)));
  }
  if (save_as) {
    // The application's name, with the extension project files are saved
    // with; else the name the project has.
    request.proposed_name = !appl_name.empty()
                                ? ToQString(appl_name) + '.' + ToQString(kProjectFileExtension)
                                : ToQString(std::string_view(path).substr(slash + 1));
  }
  const std::optional<QString> chosen = RunFileDialog(owner, request);
  if (!chosen || chosen->isEmpty()) {
    path.clear();
    return false;
  }
  path = ToStdString(*chosen);
  return true;
}

std::optional<std::string> ChooseSigningKeyFile(QWidget* owner, const std::string& current,
                                                int& help_context) {
  help_context = kSigningKeyHelpContext;
  FileDialogRequest request;
  request.kind = FileDialogRequest::Kind::kOpen;
  request.title = QStringLiteral("Choose Signing Key");
  // Key files have no fixed extension; the public halves end in ".pub".
  request.filter = QStringLiteral("Secret Key Files (*)");
  const size_t slash = current.find_last_of('/');
  if (slash == std::string::npos) {
    request.directory = QDir::homePath();
  } else {
    request.directory = ToQString(std::string_view(current).substr(0, slash == 0 ? 1 : slash));
    request.proposed_name = ToQString(std::string_view(current).substr(slash + 1));
  }
  const std::optional<QString> chosen = RunFileDialog(owner, request);
  if (!chosen || chosen->isEmpty()) {
    return std::nullopt;
  }
  return ToStdString(*chosen);
}

void SetPassphraseHook(PassphraseHook hook) {
  AskHook() = std::move(hook);
}

std::optional<std::string> AskKeyPassphrase(QWidget* owner, const std::string& key_path) {
  const QString path = ToQString(key_path);
  std::optional<QString> typed;
  if (AskHook()) {
    typed = AskHook()(path);
  } else {
    QInputDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("passphraseDialog"));
    dialog.setWindowTitle(QStringLiteral("Signing Key Passphrase"));
    dialog.setLabelText(
        QStringLiteral("The signing key %1 is encrypted.\n\nPassphrase:").arg(path));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
      edit->setMaxLength(static_cast<int>(kMaxPassphraseBytes));
    }
    if (dialog.exec() == QDialog::Accepted) {
      typed = dialog.textValue();
    }
  }
  if (!typed) {
    return std::nullopt;
  }
  const QByteArray bytes = typed->toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::optional<std::string> LocateDirectory(QWidget* owner, const std::string& start,
                                           int& help_context) {
  help_context = kLocateDirectoryHelpContext;
  FileDialogRequest request;
  request.kind = FileDialogRequest::Kind::kLocateDirectory;
  request.title = QStringLiteral("Locate Directory");
  request.directory = ToQString(start);
  request.filter = QStringLiteral("Any files(*.*)");
  const std::optional<QString> chosen = RunFileDialog(owner, request);
  if (!chosen || chosen->isEmpty()) {
    return std::nullopt;
  }
  std::string directory = ToStdString(*chosen);
  // The root stays "/"; everything else loses its trailing separators.
  while (directory.size() > 1 && directory.back() == '/') {
    directory.pop_back();
  }
  return directory;
}

}  // namespace qx::ui
