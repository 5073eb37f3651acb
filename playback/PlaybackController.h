#pragma once

// The player of the main window: plays one list row as it was, as processed, or as the difference of
// the two, through a TWaveOutDevice, and drives the controls of the player panel.
//
// How the main window wires it:
//   1. Implement TPlaybackHost (selection, row paths, output name, statistics, message box).
//   2. Own a TPlaybackController(host) (it makes its own TWaveOutPlayer; tests pass a capture device)
//      and call Attach() with the panel's widgets: CBWavDev, TrackBar1, Player1, TrackBar2, PlayPos
//      and the four mode buttons (RBvorher checked, all four in one exclusive group). Attach connects
//      every widget event to its handler below, sets the volume slider to 0..255 (ticks every 16),
//      shows Play, Pause, Stop and Auto-next on the transport bar (113 px wide gives 29 px buttons)
//      and puts it into its idle state (Play and Auto-next enabled).
//   3. In FormCreate, after LoadSettings: FillDeviceList(CBWavDev); ReadDeviceVolume().
//   4. Call UpdatePlayModes() from the list's click handler, after rows are added, deleted or sorted,
//      and during and after a batch run; call RowsRemoved() after rows were removed.
//   5. The controller and the widgets may go in either order (it holds guarded pointers); its
//      destructor stops a running playback.
// The mode buttons' captions are the main window's to set (its text table).
//
// Everything runs on the main thread; device notifications arrive there from the event loop.

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/WavFile.h"
#include "playback/Player.h"
#include "playback/WaveOutPlayer.h"

class QComboBox;
class QLabel;
class QRadioButton;
class QSlider;

namespace klarwell {

class TMyTrackBar;

// What the player needs from the main window and its file list. Row 0 is the title row.
class TPlaybackHost {
 public:
  virtual ~TPlaybackHost() = default;
  // The selected rows' top row (0 or less: nothing playable is selected).
  virtual int SelectedTopRow() const = 0;
  // The full path of a row's input file; false when the row does not exist or holds no entry.
  virtual bool RowInputPath(int row, std::string& path) const = 0;
  // OutputFileName of `inputPath` with the suffix and output directory currently entered.
  virtual std::string OutputFileNameFor(const std::string& inputPath) const = 0;
  // Selects the whole row (all columns, top = bottom = row).
  virtual void SelectRow(int row) = 0;
  // True while a batch run is active.
  virtual bool Running() const = 0;
  // Shows a row's stored click statistics in the charts.
  virtual void ShowRowStatistics(int row) = 0;
  // A modal message box with an OK button, owned by the main window.
  virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
};

// The player panel's widgets; the window owns them.
struct TPlayerPanel {
  QComboBox* CBWavDev = nullptr;
  QSlider* TrackBar1 = nullptr;  // volume, 0..255
  TPlayer* Player1 = nullptr;
  TMyTrackBar* TrackBar2 = nullptr;  // position
  QLabel* PlayPos = nullptr;
  QRadioButton* RBvorher = nullptr;
  QRadioButton* RBnachher = nullptr;
  QRadioButton* RBDiff100 = nullptr;
  QRadioButton* RBDiff95 = nullptr;
};

// The state of one playback; cleared at the start of every playback.
struct TPlayRecord {
  uint8_t CurrentBuffer = 0;  // non-zero: buffer A is the next to fill, zero: buffer B
  uint64_t ReadPosition = 0;  // bytes taken from the input's sample data (same offset in the processed file)
  TWavRecord InputFile;
  TWaveFormat OutFormat;  // the device's format
  uint8_t OutBytesPerSample = 0;
  bool ConvertTo16 = false;
  bool HalveRate = false;
  TWaveBufferSet InputBuffers;
  std::string ErrorText;         // message of the last failed read or write
  uint32_t FramesPerBuffer = 0;  // the input's sample rate: one second per buffer
  bool Paused = false;
  bool ProcessedOpen = false;  // processed file open with the input's format
  TWavRecord ProcessedFile;
  TWaveBufferSet ProcessedBuffers;  // only the data blocks are used
};

class TPlaybackController : public QObject, private TWaveOutListener {
 public:
  // `device` null: a TWaveOutPlayer on the platform's audio output.
  explicit TPlaybackController(TPlaybackHost& host, std::unique_ptr<TWaveOutDevice> device = nullptr,
                               QObject* parent = nullptr);
  ~TPlaybackController() override;

  void Attach(const TPlayerPanel& panel);

  // Device selector and volume.
  void FillDeviceList(QComboBox* comboBox);
  void ReadDeviceVolume();
  void TrackBar1Change();
  void CBWavDevChange();

  // Play modes: 0 original, 1 processed, 2 difference 100 %, 3 difference 95 %.
  int GetPlayMode() const;
  void SetPlayModesEnabled(bool enabled);
  void UpdatePlayModes();

  // Starts playing `row`; false (after a message box where one is due) when it does not start.
  bool StartPlay(int row);
  // Fills the next buffer of `record` and queues it: frames consumed, or -1.
  int FillAndWriteBuffer(TPlayRecord& record);

  // Device notifications.
  void WomDone();
  void WomClose();

  // Transport bar and position slider.
  void Player1Click(TPlayer* sender, TMPBtnType button, bool& doDefault);
  void TrackBar2Change();
  void TrackBar2Track();
  void TrackBar2EndTrack();

  // Shows the selected row's statistics unless a batch run is active.
  void ShowSelectedRowCharts();

  // After rows were removed from the list: an auto-advance chain ends with the current file.
  void RowsRemoved() { PlayingRow = -2; }

  // A playback is active (from a successful start until the device-closed notification).
  bool IsPlaying() const;
  int CurrentPlayingRow() const { return PlayingRow; }
  bool AutoAdvance() const { return AutoNext; }
  bool Dragging() const { return DraggingFlag; }
  const TPlayRecord& Record() const { return Play; }
  TWaveOutDevice& Device() { return *WaveOut; }

 private:
  void WaveOutDone(TWaveHeader* header) override;
  void WaveOutClosed() override;

  int DeviceId() const;
  // StartPlay's steps: the row's input and, when it matches, its output (false after a message when
  // the play mode needs an output that is not there); the device's format; the slider at the start.
  bool OpenPlayFiles(const std::string& inputPath);
  void ChooseDeviceFormat();
  void ResetPosition();
  void ReleasePlayback();
  void ShowError(const std::string& text);
  void SetPosition(uint64_t frames);

  TPlaybackHost& Host;
  QPointer<QComboBox> CBWavDev;
  QPointer<QSlider> TrackBar1;
  QPointer<TPlayer> Player1;
  QPointer<TMyTrackBar> TrackBar2;
  QPointer<QLabel> PlayPos;
  QPointer<QRadioButton> RBvorher, RBnachher, RBDiff100, RBDiff95;

  TPlayRecord Play;
  bool DraggingFlag = false;
  int PlayingRow = -2;
  bool AutoNext = false;
  bool DeviceInUse = false;  // the device holds this playback's buffers (until its close arrives)
  bool Active = false;       // a playback is active: from a successful start to the device's close
  int SliderShift = 0;       // position slider units are frames >> SliderShift (very long files)

  // Declared last: destroyed first, while the buffers it may still point into exist.
  std::unique_ptr<TWaveOutDevice> WaveOut;
};

}  // namespace klarwell
