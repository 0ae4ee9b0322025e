// Tarnwick: the workstation program. It has no command line: it starts with an empty main frame.
#include <QApplication>

#include <cstdlib>

#include "DrawApp.h"
#include "StartupScript.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tarnwick"));
  QApplication::setOrganizationName(QStringLiteral("Tarnwick"));
  int result = 1;
  {
    CDrawApp app;
    if (!app.InitInstance()) return 1;
    // The system tests drive the program with a script of user actions.
    if (const char* script = std::getenv("TARNWICK_SCRIPT"); script && *script)
      if (!TW_RunStartupScript(QString::fromLocal8Bit(script))) return 2;
    QApplication::setQuitOnLastWindowClosed(true);
    result = application.exec();
  }
  return result;
}
