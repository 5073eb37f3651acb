#include "tests/app/gui/GuiTestApp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cstdlib>

#include "app/gui/MainLight.h"

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

void WaitWhileRunning(const TMainFrm& window) {
  EXPECT_TRUE(QTest::qWaitFor([&window] { return !window.IsRunning(); }, 120000)) << "the batch did not end";
}

}  // namespace klarwell::test
