// klarwell: the window program.

#include <QApplication>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

#include "app/Settings.h"
#include "app/Version.h"
#include "app/gui/MainLight.h"
#include "app/gui/Mutex.h"
#include "app/gui/QtLanguage.h"
#include "text/LangText.h"

int main(int argc, char* argv[]) {
  using namespace klarwell;

  // The language is chosen once, from the system's locale, before any text is made; the WAV and
  // engine messages follow the same choice.
  const bool german = SystemLanguageIsGerman();
  SetLanguage(german ? TLanguage::German : TLanguage::English);

  // The named mutex only announces that an instance runs; a second instance runs normally.
  TMutex mutex;
  if (!mutex.Create("KlarwellMux")) {
    std::fprintf(stderr, "klarwell: cannot create %s\n", TMutex::LockPath("KlarwellMux").c_str());
    return 1;
  }
  mutex.WaitFor(0);

  QApplication app(argc, argv);
  QApplication::setApplicationName(ProgramName);
  QApplication::setApplicationVersion(ProgramVersion);
  QApplication::setDesktopFileName("klarwell");

  // Qt's own texts (dialog buttons, the file dialog) in the same language.
  QTranslator qtTexts;
  if (german && LoadQtGermanTexts(qtTexts)) QApplication::installTranslator(&qtTexts);

  TMainFrm window(SettingsFilePathFromEnvironment(QApplication::applicationDirPath().toStdString()));
  window.show();
  // Files handed over by the desktop ("Open with", a drop on the launcher) are added once the window
  // is up, so that a message about a file that cannot be added stands over it.
  const QStringList files = QApplication::arguments().mid(1);
  if (!files.isEmpty()) QTimer::singleShot(0, &window, [&window, files] { window.AddFileArguments(files); });
  return app.exec();
}
