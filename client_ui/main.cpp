// qxweb-client: the client's window over the cache of applications.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QStringList>

#include "client_ui/client_window.h"
#include "client_ui/install_dialog.h"
#include "core/platform/user_interface.h"
#include "widgets/qt_user_interface.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qxweb-client"));
  QApplication::setApplicationVersion(QStringLiteral(QX_VERSION));
  QApplication::setOrganizationName(QStringLiteral("tarnwick"));
  QApplication::setDesktopFileName(QStringLiteral("qxweb-client"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/qxweb-client.png")));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("The cached applications of Tarnwick Web: launch, update, order and remove "
                     "them, and install new ones from a URL."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(
      QStringLiteral("LINK"),
      QStringLiteral("A qxweb:?source=URL link (as a web page's Install button hands it over) or "
                     "a package's URL: shows the install dialog for it instead of the window."));
  parser.process(app);

  qx::ui::QtUserInterface ui;
  const qx::ScopedUserInterface scope(ui);
  if (const QStringList links = parser.positionalArguments(); !links.isEmpty()) {
    return qx::ui::RunInstallDialog(links.front());
  }
  qx::ui::ClientWindow window;
  ui.RegisterOwner(window.Handle(), &window);
  window.install_from_url = [&window](const QString& typed) {
    qx::ui::RunInstallDialog(typed, &window);
  };
  window.show();
  return QApplication::exec();
}
