#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "playback/MyTrackBar.h"
#include "playback/PlaybackController.h"
#include "tests/playback/QtTestApp.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/TestPaths.h"
#include "tests/support/WavBuilder.h"
#include "tests/support/playback/CaptureWaveOut.h"
#include "text/LangText.h"

namespace klarwell {
namespace {

using test::TBytes;
using test::TFmtFields;

// The list and window as the player sees them.
class THost : public TPlaybackHost {
 public:
  std::vector<std::string> Rows;               // row r (1-based) is Rows[r - 1]
  std::map<std::string, std::string> Outputs;  // input -> output name; unlisted inputs get a missing name
  int Selected = 1;
  bool IsRunning = false;
  std::vector<int> SelectedRows, StatisticsRows;
  std::vector<std::pair<std::string, std::string>> Messages;  // caption, text

  int SelectedTopRow() const override { return Selected; }
  bool RowInputPath(int row, std::string& path) const override {
    if (row <= 0 || row > static_cast<int>(Rows.size())) return false;
    path = Rows[row - 1];
    return true;
  }
  std::string OutputFileNameFor(const std::string& inputPath) const override {
    auto it = Outputs.find(inputPath);
    return it == Outputs.end() ? inputPath + ".none.wav" : it->second;
  }
  void SelectRow(int row) override {
    Selected = row;
    SelectedRows.push_back(row);
  }
  bool Running() const override { return IsRunning; }
  void ShowRowStatistics(int row) override { StatisticsRows.push_back(row); }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    Messages.push_back({caption, text});
  }
};

// A sample format of a test file, with the 16-bit (or 8-bit) value each stored sample plays as.
struct TFormatCase {
  const char* Name;
  TFmtFields Fields;
  int BytesPerSample;
  bool IsFloat;
};

TFormatCase Case8Mono() {
  return {"8-bit mono", TFmtFields::Pcm(1, 1, 8000), 1, false};
}
TFormatCase Case16() {
  return {"16-bit", TFmtFields::Pcm(2, 2, 8000), 2, false};
}
TFormatCase Case24() {
  return {"24-bit", TFmtFields::Pcm(2, 3, 8000), 3, false};
}
TFormatCase Case32() {
  return {"32-bit", TFmtFields::Pcm(2, 4, 8000), 4, false};
}
TFormatCase CaseFloat() {
  return {"float", TFmtFields::Float(2, 8000), 4, true};
}
TFormatCase CaseExt24() {
  return {"extensible 24-bit", TFmtFields::Extensible(2, 3, false, 8000), 3, false};
}
TFormatCase CaseExtFloat() {
  return {"extensible float", TFmtFields::Extensible(2, 4, true, 8000), 4, true};
}

// Values chosen so that every width plays them back exactly: v << 8 (24-bit), v << 16 (32-bit) and
// v / 32767 (float) all convert to v; the processed values are multiples of 40 (of 20 for 8-bit), so
// 95 % of them is a whole number.
int InputValue(int bytes, uint32_t frame, int channel) {
  const int v = static_cast<int>((frame * 7 + channel * 13) % 201) - 100;
  return bytes == 1 ? v : v * 10;
}
int ProcessedValue(int bytes, uint32_t frame, int channel) {
  const int v = 20 * (static_cast<int>((frame * 3 + channel * 5) % 11) - 5);
  return bytes == 1 ? v : v * 2;
}

void PutSample(TBytes& out, const TFormatCase& fc, int value) {
  switch (fc.BytesPerSample) {
    case 1:
      out.push_back(static_cast<uint8_t>(128 + value));
      break;
    case 2:
      test::Append16(out, static_cast<uint16_t>(static_cast<int16_t>(value)));
      break;
    case 3: {
      const uint32_t v = static_cast<uint32_t>(value * 256);
      out.push_back(v & 0xFF);
      out.push_back((v >> 8) & 0xFF);
      out.push_back((v >> 16) & 0xFF);
      break;
    }
    case 4:
      if (fc.IsFloat) {
        const float f = static_cast<float>(value) / 32767.0f;
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        test::Append32(out, bits);
      } else {
        test::Append32(out, static_cast<uint32_t>(value) << 16);
      }
      break;
  }
}

using TValueFn = int (*)(int, uint32_t, int);

TBytes Samples(const TFormatCase& fc, uint32_t frames, TValueFn fn) {
  TBytes out;
  const int channels = fc.Fields.Channels;
  for (uint32_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) PutSample(out, fc, fn(fc.BytesPerSample, i, c));
  return out;
}

// What the device should receive for `frames` frames in a play mode (step 2: every second frame).
TBytes Expected(const TFormatCase& fc, uint32_t first, uint32_t frames, int mode, uint32_t step = 1) {
  TBytes out;
  const int channels = fc.Fields.Channels;
  const bool eight = fc.BytesPerSample == 1;
  for (uint32_t i = first; i < first + frames; i += step) {
    for (int c = 0; c < channels; ++c) {
      const int a = InputValue(fc.BytesPerSample, i, c);
      const int b = ProcessedValue(fc.BytesPerSample, i, c);
      int v = mode == 0 ? a : mode == 1 ? b : mode == 2 ? a - b : a - b * 19 / 20;
      if (eight) {
        out.push_back(static_cast<uint8_t>(std::clamp(v + 128, 0, 255)));
      } else {
        test::Append16(out, static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768, 32767))));
      }
    }
  }
  return out;
}

TBytes Concat(const std::vector<TCaptureWaveOut::TWrite>& writes) {
  TBytes all;
  for (const auto& w : writes) all.insert(all.end(), w.Bytes.begin(), w.Bytes.end());
  return all;
}

class PlaybackControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApp();
    SetLanguage(TLanguage::English);
    Dir = test::MakeTempDir();
    Root = std::make_unique<QWidget>();
    CBWavDev = new QComboBox(Root.get());
    TrackBar1 = new QSlider(Qt::Horizontal, Root.get());
    Player1 = new TPlayer(Root.get());
    Player1->SetVisibleButtons({btPlay, btPauseDown, btStop, btAutoNext});
    TrackBar2 = new TMyTrackBar(Qt::Horizontal, Root.get());
    PlayPos = new QLabel("00:00:00", Root.get());
    auto* modes = new QWidget(Root.get());
    RB[0] = new QRadioButton("Original", modes);
    RB[1] = new QRadioButton("Processed", modes);
    RB[2] = new QRadioButton("Difference 100%", modes);
    RB[3] = new QRadioButton("Difference 95%", modes);
    RB[0]->setChecked(true);
    auto device = std::make_unique<TCaptureWaveOut>();
    Device = device.get();
    Controller = std::make_unique<TPlaybackController>(Host, std::move(device));
    Controller->Attach({CBWavDev, TrackBar1, Player1, TrackBar2, PlayPos, RB[0], RB[1], RB[2], RB[3]});
    Controller->FillDeviceList(CBWavDev);
    Controller->ReadDeviceVolume();
  }

  void TearDown() override {
    Controller.reset();
    Root.reset();
    std::filesystem::remove_all(Dir);
  }

  // Adds a row for an input file and, when `processed` is given, its output.
  std::string AddRow(const std::string& name, const TBytes& input, const TBytes* processed = nullptr) {
    const std::string path = Dir + "/" + name + ".wav";
    EXPECT_TRUE(test::WriteBytes(path, input));
    Host.Rows.push_back(path);
    if (processed) {
      const std::string out = Dir + "/" + name + " #kw2.wav";
      EXPECT_TRUE(test::WriteBytes(out, *processed));
      Host.Outputs[path] = out;
    }
    return path;
  }

  void SetMode(int mode) { RB[mode]->setChecked(true); }

  void Click(TMPBtnType button) {
    bool doDefault = true;
    Controller->Player1Click(Player1, button, doDefault);
  }

  std::string Dir;
  THost Host;
  std::unique_ptr<QWidget> Root;
  QComboBox* CBWavDev = nullptr;
  QSlider* TrackBar1 = nullptr;
  TPlayer* Player1 = nullptr;
  TMyTrackBar* TrackBar2 = nullptr;
  QLabel* PlayPos = nullptr;
  QRadioButton* RB[4] = {};
  TCaptureWaveOut* Device = nullptr;
  std::unique_ptr<TPlaybackController> Controller;
};

// Catches wrong conversion, wrong mixing, a wrong buffer split or a lost last buffer for every
// sample form the reader accepts, in each of the four modes.
TEST_F(PlaybackControllerTest, QueuedBytesInEveryModeAndFormat) {
  const TFormatCase cases[] = {Case8Mono(), Case16(),    Case24(),      Case32(),
                               CaseFloat(), CaseExt24(), CaseExtFloat()};
  const uint32_t frames = 12000;  // 1.5 s at 8 kHz: one full and one half buffer
  int fileIndex = 0;
  // The same frames as WAV, AIFF (AIFF-C for float) and RF64 play the same.
  const char* const containers[] = {"WAV", "AIFF", "RF64"};
  auto wrap = [](const TFormatCase& fc, int container, const TBytes& frames) {
    if (container == 1)
      return test::MakeAiff(fc.Fields.Channels, fc.BytesPerSample, 8000, frames, fc.IsFloat ? "fl32" : "");
    return container == 2 ? test::MakeRf64(fc.Fields, frames) : test::SimpleWav(fc.Fields, frames);
  };
  for (const TFormatCase& fc : cases) {
    for (int container = 0; container < 3; ++container) {
      if (container == 1 && fc.Fields.FormatTag == WaveFormatExtensible) continue;
      const TBytes input = wrap(fc, container, Samples(fc, frames, InputValue));
      const TBytes processed = wrap(fc, container, Samples(fc, frames, ProcessedValue));
      Host.Rows.clear();
      AddRow(std::string(fc.Name) + " " + std::to_string(fileIndex++), input, &processed);
      Controller->UpdatePlayModes();
      for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(std::string(fc.Name) + " " + containers[container] + " mode " + std::to_string(mode));
        SetMode(mode);
        Device->Writes.clear();
        Click(btPlay);
        ASSERT_TRUE(Controller->IsPlaying());
        ASSERT_EQ(Device->QueuedCount(), 2u);
        Device->PlayToEnd();
        EXPECT_FALSE(Controller->IsPlaying());
        EXPECT_FALSE(Device->IsOpen());

        const int outBytes = fc.BytesPerSample == 1 ? 1 : 2;
        const int outAlign = outBytes * fc.Fields.Channels;
        EXPECT_EQ(Device->OpenedFormat.wFormatTag, WaveFormatPcm);
        EXPECT_EQ(Device->OpenedFormat.nSamplesPerSec, 8000u);
        EXPECT_EQ(Device->OpenedFormat.nBlockAlign, outAlign);
        EXPECT_EQ(Device->OpenedFormat.wBitsPerSample, outBytes * 8);
        ASSERT_EQ(Device->Writes.size(), 2u);
        EXPECT_EQ(Device->Writes[0].Bytes.size(), 8000u * outAlign);
        EXPECT_EQ(Device->Writes[1].Bytes.size(), 4000u * outAlign);
        EXPECT_EQ(Concat(Device->Writes), Expected(fc, 0, frames, mode));
      }
    }
  }
  EXPECT_TRUE(Host.Messages.empty());
}

// Catches a missing rate halving, a wrong buffer length or halving applied twice.
TEST_F(PlaybackControllerTest, HighRatesPlayAtHalfRate) {
  struct {
    uint32_t Rate;
    uint32_t Frames;
    int Bytes;
    uint32_t DeviceRate;
    std::vector<size_t> WriteSizes;
  } const cases[] = {
      // 96 kHz 24-bit stereo: 576000-byte reads give 192000-byte buffers; the odd remainder of 3
      // frames loses its last frame.
      {96000, 96003, 3, 48000, {192000, 4}},
      {88200, 88200, 2, 44100, {176400}},
      {88199, 88199, 2, 88199, {352796}},
      // 8-bit at 96 kHz: every second frame, as for the wider forms.
      {96000, 96000, 1, 48000, {96000}},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Rate);
    TFormatCase fc{"rate", TFmtFields::Pcm(2, static_cast<uint16_t>(c.Bytes), c.Rate), c.Bytes, false};
    Host.Rows.clear();
    AddRow(std::to_string(c.Rate) + " " + std::to_string(index++),
           test::SimpleWav(fc.Fields, Samples(fc, c.Frames, InputValue)));
    Device->Writes.clear();
    Click(btPlay);
    ASSERT_TRUE(Controller->IsPlaying());
    EXPECT_EQ(Controller->Record().InputBuffers.Size, c.Rate * c.Bytes * 2);
    Device->PlayToEnd();
    EXPECT_EQ(Device->OpenedFormat.nSamplesPerSec, c.DeviceRate);
    EXPECT_EQ(Device->OpenedFormat.nAvgBytesPerSec, c.DeviceRate * Device->OpenedFormat.nBlockAlign);
    ASSERT_EQ(Device->Writes.size(), c.WriteSizes.size());
    for (size_t i = 0; i < c.WriteSizes.size(); ++i)
      EXPECT_EQ(Device->Writes[i].Bytes.size(), c.WriteSizes[i]);
    const uint32_t step = c.DeviceRate == c.Rate ? 1 : 2;
    EXPECT_EQ(Concat(Device->Writes), Expected(fc, 0, c.Frames - (c.Frames % step), 0, step));
  }
}

// Catches reading past a shorter processed file, or "silence" that is not silent for 8-bit files.
TEST_F(PlaybackControllerTest, ShorterProcessedFilePlaysSilenceToTheEnd) {
  for (const TFormatCase& fc : {Case16(), Case8Mono()}) {
    const uint32_t frames = 20000;  // buffers of 8000, 8000, 4000 frames; processed ends inside the second
    const TBytes input = test::SimpleWav(fc.Fields, Samples(fc, frames, InputValue));
    const TBytes processed = test::SimpleWav(fc.Fields, Samples(fc, 9000, ProcessedValue));
    for (int mode : {1, 2, 3}) {
      SCOPED_TRACE(std::string(fc.Name) + " mode " + std::to_string(mode));
      Host.Rows.clear();
      AddRow(std::string("short") + std::to_string(fc.BytesPerSample) + "_" + std::to_string(mode), input,
             &processed);
      SetMode(mode);
      Device->Writes.clear();
      Click(btPlay);
      ASSERT_TRUE(Controller->IsPlaying());
      Device->PlayToEnd();
      ASSERT_EQ(Device->Writes.size(), 3u);
      EXPECT_EQ(Device->Writes[0].Bytes, Expected(fc, 0, 8000, mode));
      const uint8_t silence = fc.BytesPerSample == 1 ? 0x80 : 0x00;
      for (int w : {1, 2}) {
        const TBytes& bytes = Device->Writes[w].Bytes;
        EXPECT_EQ(bytes.size(), (w == 1 ? 8000u : 4000u) * fc.Fields.BlockAlign);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [silence](uint8_t b) { return b == silence; }));
      }
    }
  }
  EXPECT_TRUE(Host.Messages.empty());
}

// Catches a difference that leaves a residue (or a wrong 8-bit centre) when nothing was removed.
TEST_F(PlaybackControllerTest, DifferenceOfIdenticalFilesIsDigitalSilence) {
  for (const TFormatCase& fc : {Case16(), Case8Mono(), Case24(), CaseFloat()}) {
    SCOPED_TRACE(fc.Name);
    const TBytes input = test::SimpleWav(fc.Fields, Samples(fc, 10000, InputValue));
    Host.Rows.clear();
    AddRow(std::string("same") + std::to_string(fc.BytesPerSample) + (fc.IsFloat ? "f" : ""), input, &input);
    SetMode(2);
    Device->Writes.clear();
    Click(btPlay);
    Device->PlayToEnd();
    const TBytes all = Concat(Device->Writes);
    ASSERT_FALSE(all.empty());
    const uint8_t silence = fc.BytesPerSample == 1 ? 128 : 0;
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [silence](uint8_t b) { return b == silence; }));
  }
}

// Catches a seek that is not taken by the next refill, a wrong byte position, or a position slider
// that is moved while the user holds it.
TEST_F(PlaybackControllerTest, SeekingWithThePositionSlider) {
  const TFormatCase fc = Case16();
  AddRow("seek", test::SimpleWav(fc.Fields, Samples(fc, 40000, InputValue)));
  Click(btPlay);
  ASSERT_TRUE(Controller->IsPlaying());
  EXPECT_EQ(TrackBar2->maximum(), 40000);
  Device->CompleteNext();  // A played: refilled with frames 16000..23999
  EXPECT_EQ(TrackBar2->value(), 16000);
  EXPECT_EQ(PlayPos->text(), "00:00:02");

  Controller->TrackBar2Track();
  TrackBar2->setValue(30000);
  EXPECT_TRUE(Controller->Dragging());
  Device->CompleteNext();  // while dragging the slider stays where the user holds it
  EXPECT_EQ(TrackBar2->value(), 30000);
  Controller->TrackBar2EndTrack();
  EXPECT_FALSE(Controller->Dragging());
  Device->CompleteNext();
  ASSERT_EQ(Device->Writes.size(), 5u);
  EXPECT_EQ(Device->Writes[4].Bytes, Expected(fc, 30000, 8000, 0));

  // To the end: the queued buffers play out and the playback closes by itself.
  Controller->TrackBar2Track();
  TrackBar2->setValue(TrackBar2->maximum());
  Controller->TrackBar2EndTrack();
  Device->PlayToEnd();
  EXPECT_EQ(Device->Writes.size(), 5u);
  EXPECT_FALSE(Controller->IsPlaying());
}

// Dragging while idle leaves the dragging flag set, so the slider stays put during the next
// playback until a drag in it ends (the slider's designed behaviour, kept).
TEST_F(PlaybackControllerTest, DragWhileIdleHoldsTheSliderUntilTheNextDragEnds) {
  const TFormatCase fc = Case16();
  AddRow("idle", test::SimpleWav(fc.Fields, Samples(fc, 40000, InputValue)));
  Controller->TrackBar2Track();
  Controller->TrackBar2EndTrack();  // ignored while idle
  EXPECT_TRUE(Controller->Dragging());
  Click(btPlay);
  Device->CompleteNext();
  EXPECT_EQ(TrackBar2->value(), 0);
  // The drag that ends now seeks to where the slider stood: the start.
  Controller->TrackBar2EndTrack();
  EXPECT_FALSE(Controller->Dragging());
  Device->CompleteNext();
  EXPECT_EQ(TrackBar2->value(), 0);
  Device->CompleteNext();
  EXPECT_EQ(TrackBar2->value(), 8000);
}

// Catches pause and restart swapped, or refills while paused.
TEST_F(PlaybackControllerTest, PauseAndRestart) {
  const TFormatCase fc = Case16();
  AddRow("pause", test::SimpleWav(fc.Fields, Samples(fc, 40000, InputValue)));
  Click(btPlay);
  Click(btPauseDown);
  EXPECT_EQ(Device->Pauses, 1);
  EXPECT_TRUE(Device->Paused());
  EXPECT_EQ(Device->PlayToEnd(), 0);
  Click(btPauseDown);
  EXPECT_EQ(Device->Restarts, 1);
  EXPECT_FALSE(Device->Paused());
  Device->PlayToEnd();
  EXPECT_FALSE(Controller->IsPlaying());
  EXPECT_EQ(Concat(Device->Writes), Expected(fc, 0, 40000, 0));
}

// Catches Stop leaving files or buffers held, or Stop not ending an auto-advance chain.
TEST_F(PlaybackControllerTest, StopEndsTheAutoAdvanceChain) {
  const TFormatCase fc = Case16();
  AddRow("one", test::SimpleWav(fc.Fields, Samples(fc, 20000, InputValue)));
  AddRow("two", test::SimpleWav(fc.Fields, Samples(fc, 20000, InputValue)));
  Player1->SetButtonDown(btAutoNext, true);
  Click(btAutoNext);
  ASSERT_TRUE(Controller->AutoAdvance());
  Click(btPlay);
  ASSERT_TRUE(Controller->IsPlaying());
  Click(btPauseDown);
  Click(btStop);
  EXPECT_EQ(Device->Resets, 1);
  Device->DeliverNotifications();  // the returned buffers' dones, then the close
  EXPECT_FALSE(Controller->IsPlaying());
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_EQ(Device->Opens, 1);
  EXPECT_EQ(Controller->CurrentPlayingRow(), -2);
  EXPECT_FALSE(Controller->Record().InputFile.IsOpen());
  EXPECT_FALSE(Controller->Record().InputBuffers.DataA);
  EXPECT_EQ(Player1->EnabledButtons(), (TButtonSet{btPlay, btAutoNext}));
  EXPECT_FALSE(Player1->IsButtonDown(btPauseDown));
  EXPECT_TRUE(Player1->Hint().isEmpty());
  EXPECT_TRUE(CBWavDev->isEnabled());
  EXPECT_TRUE(Host.SelectedRows.empty());
}

// Catches a chain that does not move on, skips the selection and statistics, or complains after
// the last row.
TEST_F(PlaybackControllerTest, AutoAdvanceGoesToTheNextRowAndEndsSilently) {
  const TFormatCase fc = Case16();
  AddRow("a", test::SimpleWav(fc.Fields, Samples(fc, 9000, InputValue)));
  AddRow("b", test::SimpleWav(fc.Fields, Samples(fc, 5000, InputValue)));
  Player1->SetButtonDown(btAutoNext, true);
  Click(btAutoNext);
  Click(btPlay);
  ASSERT_TRUE(Controller->IsPlaying());
  EXPECT_EQ(Player1->Hint(), "Playing file: a.wav");
  EXPECT_EQ(Player1->EnabledButtons(), (TButtonSet{btPauseDown, btStop, btAutoNext}));
  EXPECT_FALSE(CBWavDev->isEnabled());
  Device->PlayToEnd();
  EXPECT_EQ(Device->Opens, 2);
  EXPECT_EQ(Host.SelectedRows, std::vector<int>{2});
  EXPECT_EQ(Host.StatisticsRows, std::vector<int>{2});
  EXPECT_EQ(Controller->CurrentPlayingRow(), 2);
  EXPECT_FALSE(Controller->IsPlaying());
  EXPECT_TRUE(Host.Messages.empty());
  ASSERT_EQ(Device->Writes.size(), 3u);
  EXPECT_EQ(Device->Writes[2].Bytes.size(), 5000u * 4);

  // While a batch run is active the statistics are not redrawn.
  Host.Selected = 1;
  Host.IsRunning = true;
  Click(btPlay);
  Device->PlayToEnd();
  EXPECT_EQ(Host.StatisticsRows, std::vector<int>{2});
}

// Catches a wrong volume packing or a slider that ignores the device's volume.
TEST_F(PlaybackControllerTest, VolumeSliderAndDeviceVolume) {
  TrackBar1->setValue(200);
  ASSERT_FALSE(Device->VolumesSet.empty());
  EXPECT_EQ(Device->VolumesSet.back(), 0xC800C800u);
  EXPECT_EQ(Device->Volume[-1], 0xC800C800u);

  struct {
    uint32_t DeviceVolume;
    int Slider;
  } const cases[] = {{0x4000A000u, 0xA0}, {0xFF000100u, 0xFF}, {0x00000000u, 0}, {0x12345678u, 0x56}};
  for (const auto& c : cases) {
    Device->Volume[-1] = c.DeviceVolume;
    Controller->ReadDeviceVolume();
    EXPECT_EQ(TrackBar1->value(), c.Slider);
    EXPECT_EQ(Device->Volume[-1], static_cast<uint32_t>(c.Slider * 256) * 0x10001u);
  }

  // The second device has its own volume; a device without one leaves the slider alone.
  Device->Volume[0] = 0x30003000u;
  CBWavDev->setCurrentIndex(1);
  Controller->CBWavDevChange();
  EXPECT_EQ(TrackBar1->value(), 0x30);
  Device->VolumeSupported = false;
  CBWavDev->setCurrentIndex(0);
  Controller->CBWavDevChange();
  EXPECT_EQ(TrackBar1->value(), 0x30);
}

TEST_F(PlaybackControllerTest, DeviceListHasTheDefaultDeviceFirst) {
  ASSERT_EQ(CBWavDev->count(), 2);
  EXPECT_EQ(CBWavDev->itemText(0), "Default output");
  EXPECT_EQ(CBWavDev->currentIndex(), 0);
  Device->Devices.clear();
  Controller->FillDeviceList(CBWavDev);
  EXPECT_EQ(CBWavDev->count(), 0);
}

// Catches the processed modes being offered for a row without output (or not offered for one with).
TEST_F(PlaybackControllerTest, PlayModesFollowTheSelectedRowsOutput) {
  const TFormatCase fc = Case16();
  const TBytes wav = test::SimpleWav(fc.Fields, Samples(fc, 100, InputValue));
  AddRow("with", wav, &wav);
  AddRow("without", wav);
  Host.Selected = 1;
  Controller->UpdatePlayModes();
  EXPECT_TRUE(RB[1]->isEnabled() && RB[2]->isEnabled() && RB[3]->isEnabled());
  SetMode(3);
  Host.Selected = 2;
  Controller->UpdatePlayModes();
  EXPECT_FALSE(RB[1]->isEnabled() || RB[2]->isEnabled() || RB[3]->isEnabled());
  EXPECT_TRUE(RB[0]->isChecked());
  EXPECT_EQ(Controller->GetPlayMode(), 0);
  // Mode 0 plays a row without output.
  Click(btPlay);
  EXPECT_TRUE(Controller->IsPlaying());
  EXPECT_FALSE(Controller->Record().ProcessedOpen);
}

// Catches a mode change that is ignored until the next playback.
TEST_F(PlaybackControllerTest, ModeChangeTakesEffectWithTheNextRefill) {
  const TFormatCase fc = Case16();
  const uint32_t frames = 30000;
  const TBytes input = test::SimpleWav(fc.Fields, Samples(fc, frames, InputValue));
  const TBytes processed = test::SimpleWav(fc.Fields, Samples(fc, frames, ProcessedValue));
  AddRow("switch", input, &processed);
  Controller->UpdatePlayModes();
  Click(btPlay);
  SetMode(2);
  Device->CompleteNext();
  SetMode(1);
  Device->PlayToEnd();
  ASSERT_EQ(Device->Writes.size(), 4u);
  EXPECT_EQ(Device->Writes[1].Bytes, Expected(fc, 8000, 8000, 0));
  EXPECT_EQ(Device->Writes[2].Bytes, Expected(fc, 16000, 8000, 2));
  EXPECT_EQ(Device->Writes[3].Bytes, Expected(fc, 24000, 6000, 1));
}

TEST_F(PlaybackControllerTest, PlayWithTheTitleRowOrNoRowDoesNothing) {
  const TFormatCase fc = Case16();
  AddRow("x", test::SimpleWav(fc.Fields, Samples(fc, 100, InputValue)));
  for (int row : {0, -1, 5}) {
    Host.Selected = row;
    Click(btPlay);
    EXPECT_FALSE(Controller->IsPlaying());
  }
  EXPECT_EQ(Device->Opens, 0);
  EXPECT_TRUE(Host.Messages.empty());
}

// Every failure before playback starts shows its text under the player's caption and leaves no
// file, buffer or device held. Catches a wrong text, a missing box, or a start reported as success.
TEST_F(PlaybackControllerTest, FailuresShowTheirMessage) {
  const TFormatCase fc = Case16();
  const TBytes wav = test::SimpleWav(fc.Fields, Samples(fc, 12000, InputValue));
  const TBytes mono = test::SimpleWav(TFmtFields::Pcm(1, 2, 8000), TBytes(2000, 0));
  // A data chunk shorter than one frame: the file opens but holds no frame.
  const TBytes noFrame = test::SimpleWav(fc.Fields, TBytes{1, 2});
  // A rate whose one-second buffer cannot be had.
  const TBytes huge = test::SimpleWav(TFmtFields::Pcm(2, 4, 1000000000), TBytes(64, 0));

  struct TFailure {
    const char* Name;
    std::function<void()> Arrange;
    int Mode;
    std::string Text;
  };
  const std::vector<TFailure> failures = {
      {"input missing", [&] { Host.Rows = {Dir + "/nothing.wav"}; }, 0, "Open error"},
      {"processed missing",
       [&] {
         Host.Rows.clear();
         AddRow("p1", wav);
       },
       1, "Open error"},
      {"formats differ",
       [&] {
         Host.Rows.clear();
         AddRow("p2", wav, &mono);
       },
       2, "Files are of different format/size."},
      {"device refuses",
       [&] {
         Host.Rows.clear();
         AddRow("p3", wav);
         Device->OpenResult = WaveOutBadDeviceId;
       },
       0, "Cannot initialize Wav-Device"},
      {"header refused",
       [&] {
         Host.Rows.clear();
         AddRow("p4", wav);
         Device->PrepareResult = WaveOutNoMemory;
       },
       0, "Cannot initialize Wav-Device"},
      {"first write refused",
       [&] {
         Host.Rows.clear();
         AddRow("p5", wav);
         Device->RefuseWritesAfter = 0;
       },
       0, "Error on Wav-Output"},
      {"no frame",
       [&] {
         Host.Rows.clear();
         AddRow("p6", noFrame);
       },
       0, "No Data"},
      {"no memory",
       [&] {
         Host.Rows.clear();
         AddRow("p7", huge);
       },
       0, "Out of Memory"},
      {"no device",
       [&] {
         Host.Rows.clear();
         AddRow("p8", wav);
         Device->Devices.clear();
         Controller->FillDeviceList(CBWavDev);
       },
       0, "Cannot initialize Wav-Device"},
  };
  for (const TFailure& f : failures) {
    SCOPED_TRACE(f.Name);
    Host.Messages.clear();
    Device->OpenResult = WaveOutOk;
    Device->PrepareResult = WaveOutOk;
    Device->RefuseWritesAfter = -1;
    f.Arrange();
    Host.Selected = 1;
    RB[0]->setChecked(true);
    // The mode buttons are enabled here so that every mode can be chosen.
    Controller->SetPlayModesEnabled(true);
    SetMode(f.Mode);
    Click(btPlay);
    EXPECT_FALSE(Controller->IsPlaying());
    ASSERT_EQ(Host.Messages.size(), 1u);
    EXPECT_EQ(Host.Messages[0].first, "Error on Wav-Output");
    EXPECT_EQ(Host.Messages[0].second, f.Text);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_FALSE(Controller->Record().InputFile.IsOpen());
    EXPECT_FALSE(Controller->Record().ProcessedFile.IsOpen());
    EXPECT_FALSE(Controller->Record().InputBuffers.DataA);
    EXPECT_FALSE(Controller->Record().ProcessedBuffers.DataA);
    // A device closed after a failed first write sends no close: no second cleanup, no auto-advance.
    Device->DeliverNotifications();
    EXPECT_EQ(Host.Messages.size(), 1u);
    EXPECT_EQ(Player1->EnabledButtons(), (TButtonSet{btPlay, btAutoNext}));
  }
}

// The next row cannot be played (less than one frame: it does not even open): one message, and the
// failed start leaves no close behind that would clean up again and retry the row.
TEST_F(PlaybackControllerTest, AutoAdvanceToAnUnplayableRowShowsOneMessage) {
  const TFormatCase fc = Case16();
  AddRow("good", test::SimpleWav(fc.Fields, Samples(fc, 4000, InputValue)));
  AddRow("noframe", test::SimpleWav(fc.Fields, TBytes{1, 2}));
  Player1->SetButtonDown(btAutoNext, true);
  Click(btAutoNext);
  Click(btPlay);
  Device->PlayToEnd();
  Device->DeliverNotifications();
  EXPECT_EQ(Device->Opens, 1);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].second, "No Data");
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_FALSE(Controller->IsPlaying());
  EXPECT_TRUE(Host.SelectedRows.empty());
}

TEST_F(PlaybackControllerTest, MessagesInGerman) {
  SetLanguage(TLanguage::German);
  const TFormatCase fc = Case16();
  AddRow("de", test::SimpleWav(fc.Fields, Samples(fc, 100, InputValue)));
  Device->OpenResult = WaveOutBadDeviceId;
  Click(btPlay);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].first, "Fehler bei Wav-Ausgabe");
  EXPECT_EQ(Host.Messages[0].second, "Kann Wav-Device nicht initialisieren");
  Device->OpenResult = WaveOutOk;
  Click(btPlay);
  EXPECT_EQ(Player1->Hint(), "Wiedergabe von: de.wav");
  SetLanguage(TLanguage::English);
}

// A refused write after the start (the device went away) ends the playback through the close.
TEST_F(PlaybackControllerTest, RefusedWriteDuringPlaybackEndsIt) {
  const TFormatCase fc = Case16();
  AddRow("gone", test::SimpleWav(fc.Fields, Samples(fc, 40000, InputValue)));
  Device->RefuseWritesAfter = 2;
  Click(btPlay);
  ASSERT_TRUE(Controller->IsPlaying());
  Device->PlayToEnd();
  EXPECT_FALSE(Controller->IsPlaying());
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_EQ(Device->Writes.size(), 2u);
  EXPECT_TRUE(Host.Messages.empty());
}

}  // namespace
}  // namespace klarwell
