// qxsealer-lite: the sealer's window. The command line, taken whole, names
// the project to open.
#include <QApplication>
#include <QIcon>
#include <QStringList>

#include "core/platform/user_interface.h"
#include "sealer/ui/main_form.h"
#include "sealer/ui/sealer_window.h"
#include "widgets/qt_text.h"
#include "widgets/qt_user_interface.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qxsealer-lite"));
  QApplication::setOrganizationName(QStringLiteral("tarnwick"));
  QApplication::setDesktopFileName(QStringLiteral("qxsealer-lite"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/qxsealer-lite.png")));

  qx::ui::QtUserInterface ui;
  const qx::ScopedUserInterface scope(ui);

  // A path with blanks needs no quotes: the arguments are joined again.
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  qx::ui::SealerWindow window(qx::ui::ToStdString(arguments.join(QLatin1Char(' '))));
  ui.RegisterOwner(window.Handle(), &window);
  ui.RegisterOwner(window.form()->Owner(), window.form());
  window.show();
  return QApplication::exec();
}
