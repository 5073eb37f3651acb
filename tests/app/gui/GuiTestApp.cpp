#include "tests/app/gui/GuiTestApp.h"

#include <QApplication>
#include <cstdlib>

namespace klarwell::test {

void EnsureGuiApp() {
  if (QApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "app_gui_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: a static application would be torn down after Qt's own globals at exit.
  new QApplication(argc, argv);
}

}  // namespace klarwell::test
