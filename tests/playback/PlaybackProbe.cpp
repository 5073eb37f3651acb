// Plays one file through the player and the platform's audio output, for the tests of the real
// output path. Each run is a process of its own, so that its audio backend connects to the sound
// server named in its environment.
//
//   playback_probe list                      prints "devices N" and one "device <name>" per device
//   playback_probe play FILE [MODE [STOPMS]] plays FILE (mode 0..3; Stop pressed after STOPMS ms)
//
// Prints "started", then "closed <bytes read>" as the playback goes, "message <caption>|<text>" for a message
// box. Exit code: 0 played to the end (or stopped), 1 usage, 2 a message box was shown, 3 timed out.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "playback/MyTrackBar.h"
#include "playback/PlaybackController.h"
#include "playback/Player.h"

namespace {

class TProbeHost : public klarwell::TPlaybackHost {
 public:
  std::string File;
  bool Shown = false;

  int SelectedTopRow() const override { return 1; }
  bool RowInputPath(int row, std::string& path) const override {
    if (row != 1) return false;
    path = File;
    return true;
  }
  std::string OutputFileNameFor(const std::string& inputPath) const override { return inputPath; }
  void SelectRow(int) override {}
  bool Running() const override { return false; }
  void ShowRowStatistics(int) override {}
  void ShowMessage(const std::string& caption, const std::string& text) override {
    std::printf("message %s|%s\n", caption.c_str(), text.c_str());
    std::fflush(stdout);
    Shown = true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  using namespace klarwell;
  if (argc < 2) return 1;
  const std::string command = argv[1];

  TProbeHost host;
  QWidget root;
  auto* cbWavDev = new QComboBox(&root);
  auto* trackBar1 = new QSlider(Qt::Horizontal, &root);
  auto* player1 = new TPlayer(&root);
  auto* trackBar2 = new TMyTrackBar(Qt::Horizontal, &root);
  auto* playPos = new QLabel(&root);
  QRadioButton* modes[4];
  for (QRadioButton*& m : modes) m = new QRadioButton(&root);
  modes[0]->setChecked(true);

  TPlaybackController controller(host);
  controller.Attach(
      {cbWavDev, trackBar1, player1, trackBar2, playPos, modes[0], modes[1], modes[2], modes[3]});
  controller.FillDeviceList(cbWavDev);
  controller.ReadDeviceVolume();

  if (command == "list") {
    std::printf("devices %d\n", cbWavDev->count());
    for (int i = 0; i < cbWavDev->count(); ++i)
      std::printf("device %s\n", cbWavDev->itemText(i).toStdString().c_str());
    return 0;
  }
  if (command != "play" || argc < 3) return 1;
  host.File = argv[2];
  const int mode = argc > 3 ? std::atoi(argv[3]) : 0;
  const int stopMs = argc > 4 ? std::atoi(argv[4]) : -1;
  if (mode >= 0 && mode < 4) modes[mode]->setChecked(true);

  bool doDefault = true;
  controller.Player1Click(player1, btPlay, doDefault);
  if (!controller.IsPlaying()) return host.Shown ? 2 : 3;
  std::printf("started\n");
  std::fflush(stdout);

  QElapsedTimer clock;
  clock.start();
  bool stopped = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (stopMs >= 0 && !stopped && clock.elapsed() >= stopMs) {
      controller.Player1Click(player1, btStop, doDefault);
      stopped = true;
    }
    if (!controller.IsPlaying() || clock.elapsed() > 20000) app.quit();
  });
  poll.start(10);
  app.exec();
  if (controller.IsPlaying()) return 3;
  // How far the file was read: all of it after a complete playback, less after an early Stop.
  std::printf("closed %llu\n", static_cast<unsigned long long>(controller.Record().ReadPosition));
  std::fflush(stdout);
  return host.Shown ? 2 : 0;
}
