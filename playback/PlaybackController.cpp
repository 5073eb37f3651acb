#include "playback/PlaybackController.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>

#include "audio/SampleCodec.h"
#include "playback/MyTrackBar.h"
#include "text/LangText.h"

namespace klarwell {
namespace {

enum TPlayerText {
  PlayingFileText,
  CannotInitText,
  DifferentFormatText,
  WavOutputErrorText,
  OutOfMemoryText,
};

const TTextPair PlayerTexts[] = {
    {"Wiedergabe von:", "Playing file:"},
    {"Kann Wav-Device nicht initialisieren", "Cannot initialize Wav-Device"},
    {"Die Dateien haben unterschiedliche Formate/Größen.", "Files are of different format/size."},
    {"Fehler bei Wav-Ausgabe", "Error on Wav-Output"},
    {"Kein Speicher", "Out of Memory"},
};

const char* PlayerText(TPlayerText key) {
  return Text(PlayerTexts[key]);
}

bool IsIntegerFormat(const TWavRecord& rec) {
  return rec.Format.wFormatTag == WaveFormatPcm ||
         (rec.Format.wFormatTag == WaveFormatExtensible && rec.PcmSubFormat == 1);
}

// Larger one-second buffers than this come only from sample rates no device plays; refusing them
// keeps the buffer arithmetic within 32 bits.
constexpr uint64_t MaxBufferBytes = 0x7FFFFFFF;

}  // namespace

TPlaybackController::TPlaybackController(TPlaybackHost& host, std::unique_ptr<TWaveOutDevice> device,
                                         QObject* parent)
    : QObject(parent), Host(host), WaveOut(std::move(device)) {
  if (!WaveOut) WaveOut = std::make_unique<TWaveOutPlayer>();
}

TPlaybackController::~TPlaybackController() {
  if (WaveOut->IsOpen()) {
    WaveOut->Reset();
    WaveOut->Close(false);
  }
  DeviceInUse = false;
  ReleasePlayback();
  if (Player1) Player1->OnClick = nullptr;
  if (TrackBar2) {
    TrackBar2->OnTrack = nullptr;
    TrackBar2->OnEndTrack = nullptr;
  }
}

void TPlaybackController::Attach(const TPlayerPanel& panel) {
  CBWavDev = panel.CBWavDev;
  TrackBar1 = panel.TrackBar1;
  Player1 = panel.Player1;
  TrackBar2 = panel.TrackBar2;
  PlayPos = panel.PlayPos;
  RBvorher = panel.RBvorher;
  RBnachher = panel.RBnachher;
  RBDiff100 = panel.RBDiff100;
  RBDiff95 = panel.RBDiff95;

  if (CBWavDev) {
    // Only the user's choice counts as a change, not the list being filled.
    connect(CBWavDev, &QComboBox::activated, this, [this] { CBWavDevChange(); });
  }
  if (TrackBar1) {
    TrackBar1->setRange(0, 255);
    TrackBar1->setTickInterval(16);
    connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
  }
  if (Player1) {
    Player1->SetVisibleButtons({btPlay, btPauseDown, btStop, btAutoNext});
    Player1->SetEnabledButtons({btPlay, btAutoNext});
    Player1->OnClick = [this](TPlayer* sender, TMPBtnType button, bool& doDefault) {
      Player1Click(sender, button, doDefault);
    };
    AutoNext = Player1->IsButtonDown(btAutoNext);
  }
  if (TrackBar2) {
    connect(TrackBar2, &QSlider::valueChanged, this, [this] { TrackBar2Change(); });
    TrackBar2->OnTrack = [this] { TrackBar2Track(); };
    TrackBar2->OnEndTrack = [this] { TrackBar2EndTrack(); };
  }
}

int TPlaybackController::DeviceId() const {
  return (CBWavDev ? CBWavDev->currentIndex() : -1) - 1;
}

void TPlaybackController::FillDeviceList(QComboBox* comboBox) {
  if (!comboBox) return;
  comboBox->clear();
  const int count = WaveOut->NumDevs();
  for (int id = -1; id < count; ++id) {
    std::string name;
    if (WaveOut->GetDevCaps(id, name)) comboBox->addItem(QString::fromStdString(name));
  }
  if (comboBox->count() > 0) comboBox->setCurrentIndex(0);
}

void TPlaybackController::ReadDeviceVolume() {
  uint32_t volume = 0;
  // A device without a volume leaves the slider where it is.
  if (!TrackBar1 || WaveOut->GetVolume(DeviceId(), volume) != WaveOutOk) return;
  const int left = static_cast<int>((volume >> 8) & 0xFF);
  const int right = static_cast<int>((volume >> 24) & 0xFF);
  // A changed position fires TrackBar1Change, which writes both channels back at this level.
  TrackBar1->setValue(std::max(left, right));
}

void TPlaybackController::TrackBar1Change() {
  if (!TrackBar1) return;
  const uint32_t level = static_cast<uint32_t>(TrackBar1->value()) * 256;
  WaveOut->SetVolume(DeviceId(), level | (level << 16));
}

void TPlaybackController::CBWavDevChange() {
  ReadDeviceVolume();
}

int TPlaybackController::GetPlayMode() const {
  if (!RBvorher || RBvorher->isChecked()) return 0;
  if (RBnachher && RBnachher->isChecked()) return 1;
  if (RBDiff100 && RBDiff100->isChecked()) return 2;
  return 3;
}

void TPlaybackController::SetPlayModesEnabled(bool enabled) {
  for (QRadioButton* button : {RBnachher.data(), RBDiff100.data(), RBDiff95.data()}) {
    if (button) button->setEnabled(enabled);
  }
  if (!enabled && RBvorher) RBvorher->setChecked(true);
}

bool TPlaybackController::IsPlaying() const {
  return Active;
}

void TPlaybackController::UpdatePlayModes() {
  if (IsPlaying()) return;
  const int row = Host.SelectedTopRow();
  std::string inputPath;
  if (row <= 0 || !Host.RowInputPath(row, inputPath)) return;
  TWavRecord processed;
  if (PeekWav(Host.OutputFileNameFor(inputPath), processed)) {
    CloseWav(processed);
    SetPlayModesEnabled(true);
  } else {
    SetPlayModesEnabled(false);
  }
}

void TPlaybackController::ShowError(const std::string& text) {
  Host.ShowMessage(PlayerText(WavOutputErrorText), text);
}

void TPlaybackController::ReleasePlayback() {
  CloseWav(Play.InputFile);
  FreeWaveBuffers(Play.InputBuffers);
  CloseWav(Play.ProcessedFile);
  FreeWaveBuffers(Play.ProcessedBuffers);
}

void TPlaybackController::SetPosition(uint64_t frames) {
  if (TrackBar2) TrackBar2->setValue(static_cast<int>(frames >> SliderShift));
}

bool TPlaybackController::OpenPlayFiles(const std::string& inputPath) {
  TWavRecord& in = Play.InputFile;
  if (!OpenWav(inputPath, in)) {
    ShowError(in.ErrorMsg);
    return false;
  }
  TWavRecord& processed = Play.ProcessedFile;
  if (OpenWav(Host.OutputFileNameFor(inputPath), processed)) {
    Play.ProcessedOpen = true;
    const TWaveFormat& a = in.Format;
    const TWaveFormat& b = processed.Format;
    if (in.BytesPerSample != processed.BytesPerSample || a.wFormatTag != b.wFormatTag ||
        a.nChannels != b.nChannels || a.nSamplesPerSec != b.nSamplesPerSec ||
        a.nBlockAlign != b.nBlockAlign) {
      CloseWav(processed);
      processed.ErrorMsg = PlayerText(DifferentFormatText);
      Play.ProcessedOpen = false;
    }
  }
  if (GetPlayMode() != 0 && !Play.ProcessedOpen) {
    CloseWav(in);
    ShowError(processed.ErrorMsg);
    return false;
  }
  return true;
}

// The device's format: 16-bit for wider samples, half the rate from 88.2 kHz on (once only).
void TPlaybackController::ChooseDeviceFormat() {
  const TWavRecord& in = Play.InputFile;
  TWaveFormat& out = Play.OutFormat;
  out = in.Format;
  Play.OutBytesPerSample = in.BytesPerSample;
  Play.ConvertTo16 = in.BytesPerSample > 2;
  Play.HalveRate = out.nSamplesPerSec >= 88200;
  if (Play.HalveRate) {
    out.nSamplesPerSec >>= 1;
    out.nAvgBytesPerSec = out.nSamplesPerSec * out.nBlockAlign;
  }
  if (Play.ConvertTo16) {
    Play.OutBytesPerSample = 2;
    out.wBitsPerSample = 16;
    out.wFormatTag = WaveFormatPcm;
    out.nBlockAlign = static_cast<uint16_t>(out.nChannels * 2);
    out.nAvgBytesPerSec = out.nSamplesPerSec * out.nBlockAlign;
  }
  if (in.Format.wFormatTag == WaveFormatExtensible) out.wFormatTag = WaveFormatPcm;
}

void TPlaybackController::ResetPosition() {
  const TWavRecord& in = Play.InputFile;
  // Positions are frames; a file too long for the slider's range moves it in coarser steps.
  SliderShift = 0;
  while ((static_cast<uint64_t>(in.NumFrames) >> SliderShift) >
         static_cast<uint64_t>(std::numeric_limits<int>::max()))
    ++SliderShift;
  if (TrackBar2) {
    TrackBar2->setMaximum(static_cast<int>(in.NumFrames >> SliderShift));
    TrackBar2->setValue(0);
  }
  if (PlayPos) PlayPos->setText(QString::fromStdString(SecondsToHMS(0)));
  Play.ReadPosition = 0;
  Play.CurrentBuffer = 1;
}

bool TPlaybackController::StartPlay(int row) {
  std::string inputPath;
  if (row <= 0 || !Host.RowInputPath(row, inputPath)) return false;
  // The device still holds this playback's buffers until its close arrives.
  if (DeviceInUse) return false;

  Play = TPlayRecord{};
  if (!OpenPlayFiles(inputPath)) return false;
  ChooseDeviceFormat();
  const TWavRecord& in = Play.InputFile;
  const TWaveFormat& out = Play.OutFormat;

  Play.FramesPerBuffer = in.Format.nSamplesPerSec;
  const uint64_t bufferBytes = static_cast<uint64_t>(in.Format.nSamplesPerSec) * in.Format.nBlockAlign;
  const bool sizeOk = bufferBytes <= MaxBufferBytes;
  if (!sizeOk || !AllocWaveBuffers(static_cast<uint32_t>(bufferBytes), Play.InputBuffers) ||
      (Play.ProcessedOpen && !AllocWaveBuffers(static_cast<uint32_t>(bufferBytes), Play.ProcessedBuffers))) {
    ReleasePlayback();
    ShowError(PlayerText(OutOfMemoryText));
    return false;
  }

  const uint32_t step = Play.HalveRate ? 2 : 1;
  const uint32_t outBytes = (in.Format.nSamplesPerSec / step) * out.nBlockAlign;
  if (OpenWaveOut(*WaveOut, DeviceId(), outBytes, out, Play.InputBuffers, this) != WaveOutOk) {
    ReleasePlayback();
    ShowError(PlayerText(CannotInitText));
    return false;
  }
  DeviceInUse = true;

  ReadDeviceVolume();
  ResetPosition();
  if (FillAndWriteBuffer(Play) < 0) {
    // Nothing is queued; the device goes without a close notification, so no second cleanup follows.
    WaveOut->Reset();
    WaveOut->Close(false);
    DeviceInUse = false;
    ReleasePlayback();
    ShowError(Play.ErrorText);
    return false;
  }
  Play.CurrentBuffer = !Play.CurrentBuffer;
  FillAndWriteBuffer(Play);
  Play.CurrentBuffer = !Play.CurrentBuffer;

  Active = true;
  if (CBWavDev) CBWavDev->setEnabled(false);
  SetPlayModesEnabled(Play.ProcessedOpen);
  if (Player1) {
    Player1->SetEnabledButtons({btPauseDown, btStop, btAutoNext});
    const std::string name = std::filesystem::path(inputPath).filename().string();
    Player1->SetHint(QString::fromUtf8(PlayerText(PlayingFileText)) + " " + QString::fromStdString(name));
  }
  return true;
}

int TPlaybackController::FillAndWriteBuffer(TPlayRecord& record) {
  const TWavRecord& in = record.InputFile;
  const uint32_t align = in.Format.nBlockAlign;
  if (align == 0 || !record.InputBuffers.HeaderA) return -1;
  const uint64_t framesRead = record.ReadPosition / align;
  const uint64_t remaining = framesRead < in.NumFrames ? in.NumFrames - framesRead : 0;
  if (remaining == 0) return -1;

  const uint32_t frames = static_cast<uint32_t>(std::min<uint64_t>(remaining, record.FramesPerBuffer));
  const uint32_t bytes = frames * align;
  const uint32_t step = record.HalveRate ? 2 : 1;
  const uint32_t outFrames = frames / step;
  const uint32_t outBytes = outFrames * record.OutFormat.nBlockAlign;

  const bool useA = record.CurrentBuffer != 0;
  TWaveHeader* header = useA ? record.InputBuffers.HeaderA.get() : record.InputBuffers.HeaderB.get();
  uint8_t* data = useA ? record.InputBuffers.DataA.get() : record.InputBuffers.DataB.get();
  uint8_t* second = useA ? record.ProcessedBuffers.DataA.get() : record.ProcessedBuffers.DataB.get();

  const int mode = GetPlayMode();
  bool secondFailed = false;
  if (mode != 1) {
    record.ErrorText.clear();
    if (!ReadWavData(in, data, record.ReadPosition, bytes, record.ErrorText)) return -1;
  }
  if (mode == 1) {
    record.ErrorText.clear();
    secondFailed = !record.ProcessedOpen ||
                   !ReadWavData(record.ProcessedFile, data, record.ReadPosition, bytes, record.ErrorText);
  } else if (mode >= 2) {
    record.ErrorText.clear();
    secondFailed = !record.ProcessedOpen || !second ||
                   !ReadWavData(record.ProcessedFile, second, record.ReadPosition, bytes, record.ErrorText);
  }
  record.ReadPosition += bytes;

  const int channels = in.Format.nChannels;
  if (record.ConvertTo16 || record.HalveRate) {
    ConvertForPlayback(IsIntegerFormat(in), in.BytesPerSample, channels, data, data,
                       static_cast<int32_t>(frames), static_cast<int>(step));
    if (mode >= 2 && !secondFailed) {
      const TWavRecord& processed = record.ProcessedFile;
      ConvertForPlayback(IsIntegerFormat(processed), processed.BytesPerSample, processed.Format.nChannels,
                         second, second, static_cast<int32_t>(frames), static_cast<int>(step));
    }
  }

  if (secondFailed) {
    // Past the end of a shorter processed file: silence, which for unsigned 8-bit samples is 0x80,
    // not zero bytes (those would be a full-scale step).
    std::memset(data, record.OutBytesPerSample == 1 ? 0x80 : 0, outBytes);
  } else if (mode == 2 || mode == 3) {
    MixDifference(mode == 2 ? 100 : 95, record.OutBytesPerSample, channels, data, data, second,
                  static_cast<int32_t>(outFrames));
  }

  header->BufferLength = outBytes;
  if (WaveOut->Write(*header) != WaveOutOk) {
    record.ErrorText = PlayerText(WavOutputErrorText);
    return -1;
  }
  return static_cast<int>(frames);
}

void TPlaybackController::WaveOutDone(TWaveHeader*) {
  WomDone();
}
void TPlaybackController::WaveOutClosed() {
  WomClose();
}

void TPlaybackController::WomDone() {
  if (!DeviceInUse) return;
  if (!DraggingFlag && Play.InputFile.Format.nBlockAlign != 0)
    SetPosition(Play.ReadPosition / Play.InputFile.Format.nBlockAlign);
  const int result = FillAndWriteBuffer(Play);
  Play.CurrentBuffer = !Play.CurrentBuffer;
  // Refused while the other buffer is still queued; its own done then finds nothing left and closes.
  if (result <= 0) WaveOut->Close(true);
}

void TPlaybackController::WomClose() {
  if (!DeviceInUse) return;
  DeviceInUse = false;
  Active = false;
  ReleasePlayback();
  if (Player1) {
    Player1->SetEnabledButtons({btPlay, btAutoNext});
    Player1->SetButtonDown(btPauseDown, false);
    Player1->SetHint(QString());
  }
  if (CBWavDev) CBWavDev->setEnabled(true);
  UpdatePlayModes();
  if (AutoNext && StartPlay(PlayingRow + 1)) {
    ++PlayingRow;
    Host.SelectRow(PlayingRow);
    ShowSelectedRowCharts();
  }
}

void TPlaybackController::Player1Click(TPlayer*, TMPBtnType button, bool&) {
  switch (button) {
    case btPlay: {
      const int row = Host.SelectedTopRow();
      if (StartPlay(row)) PlayingRow = row;
      break;
    }
    case btPauseDown:
      if (Play.Paused) {
        WaveOut->Restart();
      } else {
        WaveOut->Pause();
      }
      Play.Paused = !Play.Paused;
      break;
    case btStop:
      // The cleanup follows in WomClose; with the playing row at -2 auto-advance finds no next row.
      WaveOut->Reset();
      WaveOut->Close(true);
      PlayingRow = -2;
      if (Player1) {
        Player1->SetEnabledButtons({btPlay, btAutoNext});
        Player1->SetButtonDown(btPauseDown, false);
      }
      break;
    case btAutoNext:
      AutoNext = Player1 && Player1->IsButtonDown(btAutoNext);
      break;
    default:
      break;
  }
}

void TPlaybackController::TrackBar2Change() {
  if (!IsPlaying() || !TrackBar2 || !PlayPos || Play.InputFile.Format.nSamplesPerSec == 0) return;
  const uint64_t frames = static_cast<uint64_t>(TrackBar2->value()) << SliderShift;
  PlayPos->setText(QString::fromStdString(
      SecondsToHMS(static_cast<int32_t>(frames / Play.InputFile.Format.nSamplesPerSec))));
}

void TPlaybackController::TrackBar2Track() {
  DraggingFlag = true;
}

void TPlaybackController::TrackBar2EndTrack() {
  if (!IsPlaying() || !TrackBar2) return;
  // Heard after the buffers already queued (up to two seconds).
  Play.ReadPosition =
      (static_cast<uint64_t>(TrackBar2->value()) << SliderShift) * Play.InputFile.Format.nBlockAlign;
  DraggingFlag = false;
}

void TPlaybackController::ShowSelectedRowCharts() {
  if (Host.Running()) return;
  const int row = Host.SelectedTopRow();
  if (row > 0) Host.ShowRowStatistics(row);
}

}  // namespace klarwell
