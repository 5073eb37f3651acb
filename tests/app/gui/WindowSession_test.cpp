// A randomised session on one main window: files are added, removed, sorted, selected, processed,
// cancelled, played and closed in a seeded random order, also while a run is going, and after every
// action the list is checked against a model of what it must hold. Catches rows lost, duplicated or
// written with another file's cells, status texts the window does not use, done rows without their
// figures, outputs left partial, inputs touched, and crashes in any of these interleavings.
//
// The seed is fixed so that a failure is reproducible; KLARWELL_SESSION_SEED overrides it and
// KLARWELL_SESSION_ACTIONS the number of actions. Every failure names the seed and the last actions.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/BatchDriver.h"
#include "app/RunTexts.h"
#include "app/gui/MainLight.h"
#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "audio/WavFile.h"
#include "chart/Graphic.h"
#include "engine/engine.h"
#include "playback/MyTrackBar.h"
#include "playback/PlaybackController.h"
#include "playback/Player.h"
#include "tests/app/gui/GuiTestApp.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"
#include "tests/support/playback/CaptureWaveOut.h"
#include "text/LangText.h"
#include "ui_MainLight.h"

namespace klarwell {
namespace {

constexpr uint64_t DefaultSeed = 20250611;
constexpr int DefaultActions = 300;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  return std::strtoull(text, nullptr, 10);
}

uint64_t Checksum(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The sort key the list uses: the file name cut before its first '.', A to Z in lower case.
std::string SortKeyOf(const QString& fullPath) {
  std::string name = QFileInfo(fullPath).fileName().toStdString();
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

bool IsHms(const QString& text) {
  static const QRegularExpression hms("^[0-9]{2,}:[0-9]{2}:[0-9]{2}$");
  return hms.match(text).hasMatch();
}

bool ParseInt(const QString& text, long long& value) {
  bool ok = false;
  value = text.toLongLong(&ok);
  return ok && value >= 0;
}

bool ParseDensity(const QString& text, double& value) {
  QString t = text;
  t.replace(',', '.');
  bool ok = false;
  value = t.toDouble(&ok);
  return ok && value >= 0;
}

// One input the session can add: its file and what the list must show for it.
struct TInput {
  QString Path;  // absolute
  bool Valid = true;
  std::string Output;                // the processed file beside it, as the default settings name it
  std::vector<std::string> Outputs;  // every name the session's output settings can give it
  uint64_t Sum = 0;                  // checksum of the bytes as written
  QString FormatText, LengthText;
  uint32_t Frames = 0, Rate = 0;
  int Blocks = 0;  // blocks the driver takes through the file
  int TimesAdded = 0;
  bool OutputPlayed = false;  // the player has held its output open
};

// One slot of the list as the model sees it: an entry (an input) or a row whose file could not be
// added (no file object, the reader's message as status).
struct TSlot {
  int Input = -1;
  bool Hole = false;
  QString Status;       // snapshot, read when an action needs it
  bool OnRoad = false;  // snapshot: the run takes this row's file along its road
};

class TSession : public QObject {
 public:
  TSession(uint64_t seed, int actions, bool captureDevice, bool changeSettings)
      : Rng(seed), Seed(seed), Actions(actions), ChangeSettings(changeSettings) {
    Dir = test::MakeTempDir();
    std::filesystem::create_directory(OutDir());
    MakeInputs();
    TMainSeams seams;
    seams.GetOpenFileNames = [this](QWidget*, const QString&, const QString&) { return NextFiles; };
    seams.MessageBox = [this](QWidget*, QMessageBox::Icon, const QString& caption, const QString& text,
                              QMessageBox::StandardButtons) { return OnMessage(caption, text); };
    seams.GetExistingDirectory = [](QWidget*, const QString&, const QString&) { return QString(); };
    seams.OpenUrl = [](const QString&) {};
    if (captureDevice) {
      auto device = std::make_unique<TCaptureWaveOut>();
      Capture = device.get();
      seams.WaveOutDevice = std::move(device);
    }
    Window = std::make_unique<TMainFrm>(Dir + "/klarwell.ini", std::move(seams));
    Window->show();
    StepTimer.setInterval(1);
    connect(&StepTimer, &QTimer::timeout, this, [this] { Step(); });
  }

  ~TSession() override {
    StepTimer.stop();
    Window.reset();
    std::filesystem::remove_all(Dir);
  }

  // Runs the whole session; returns when the window has been closed during the final run.
  void Run() {
    Clock.start();
    Loop = std::make_unique<QEventLoop>();
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [this] {
      Fail("the session did not end within 180 s");
      Quit();
    });
    guard.start(180000);
    StepTimer.start();
    Loop->exec();
    StepTimer.stop();
    FinalChecks();
  }

  int ActionsDone() const { return Done; }
  int RunsStarted() const { return Runs; }
  std::string Coverage() const {
    return std::to_string(DoneRows.size()) + " files seen done, " + std::to_string(CancelledRows.size()) +
           " cancelled, " + std::to_string(Playbacks) + " playbacks started, " +
           std::to_string(PlayerErrors) + " player errors, " + std::to_string(Refusals) +
           " checks of a refused create";
  }
  const std::map<std::string, int>& Counts() const { return ActionCounts; }

 private:
  std::string OutDir() const { return Dir + "/out"; }
  TMyGrid* Grid() const { return Window->Grid(); }
  Ui::TMainFrm* Form() const { return Window->Form(); }
  QString Status(int key) const { return MainText(key); }

  // ---- Inputs ----

  void MakeInputs() {
    struct TKind {
      const char* Name;
      double Seconds;
      int Rate, Channels, Bytes;
      bool Float;
    };
    // Names with capitals and dots so that sorting has something to do; a few formats, one rate
    // that the player halves.
    const TKind kinds[] = {
        {"Zulu.wav", 2.3, 44100, 2, 2, false},    {"alpha.wav", 1.4, 44100, 2, 2, false},
        {"Alpha.b.wav", 1.0, 44100, 1, 3, false}, {"beta.wav", 2.1, 48000, 2, 4, true},
        {"mike.wav", 1.2, 22050, 1, 1, false},    {"echo.wav", 2.6, 44100, 2, 2, false},
        {"Delta.wav", 1.0, 96000, 2, 2, false},   {"kilo.x.wav", 1.7, 44100, 2, 3, false},
        {"golf.wav", 1.1, 44100, 1, 2, false},    {"Hotel.wav", 2.0, 32000, 2, 2, false},
        {"india.wav", 1.5, 44100, 2, 2, false},   {"charlie.wav", 1.3, 44100, 2, 2, false},
    };
    uint64_t seed = 100;
    for (const TKind& k : kinds) {
      test::TSignal signal = test::MakeMusic(k.Seconds, k.Rate, k.Channels, ++seed);
      test::AddClicks(signal, static_cast<int>(k.Seconds * 4), 3, 40, k.Rate / 8, ++seed);
      TInput in;
      in.Path = QString::fromStdString(Dir + "/" + k.Name);
      std::string error;
      EXPECT_TRUE(test::WriteSignalWav(in.Path.toStdString(), signal, k.Bytes, k.Float, &error)) << error;
      FillInput(in);
      Inputs.push_back(in);
    }
    // The WAV module's refusal to overwrite a file that is open for reading; the driver meets it when
    // the player holds the output it is about to write again.
    {
      TWavRecord held, refused;
      EXPECT_TRUE(OpenWav(Inputs[0].Path.toStdString(), held));
      refused.Format = held.Format;
      EXPECT_FALSE(CreateWav(Inputs[0].Path.toStdString(), refused));
      CreateRefused = QString::fromStdString(refused.ErrorMsg);
    }
    TInput bad;
    bad.Path = QString::fromStdString(Dir + "/broken.wav");
    std::ofstream(bad.Path.toStdString()) << "RIFF, but nothing a wave file would hold";
    bad.Valid = false;
    bad.Sum = Checksum(test::ReadFileBytes(bad.Path.toStdString()));
    Inputs.push_back(bad);
    TInput missing;
    missing.Path = QString::fromStdString(Dir + "/gone.wav");
    missing.Valid = false;
    Inputs.push_back(missing);
  }

  void FillInput(TInput& in) {
    const std::string path = in.Path.toStdString();
    in.Sum = Checksum(test::ReadFileBytes(path));
    const QFileInfo info(in.Path);
    in.Output = (info.absolutePath() + "/" + info.completeBaseName() + " #kw2.wav").toStdString();
    in.Outputs = {in.Output, OutDir() + "/" + info.completeBaseName().toStdString() + " #kw2.wav",
                  OutDir() + "/" + info.fileName().toStdString()};
    TWavRecord rec;
    EXPECT_TRUE(OpenWav(path, rec)) << rec.ErrorMsg;
    in.FormatText = QString::fromStdString(WavFormatText(rec));
    in.LengthText = QString::fromStdString(WavDurationText(rec));
    in.Frames = rec.NumFrames;
    in.Rate = rec.Format.nSamplesPerSec;
    TClickEngine engine;
    std::string error;
    EXPECT_TRUE(engine.InitEngine(rec, -120, error)) << error;
    const int64_t b = engine.BlockFrames(), step = engine.BlockFrames() - engine.OverlapFrames();
    int64_t pos = 0;
    in.Blocks = 1;
    while (pos + b < in.Frames) {
      pos += step;
      if (pos + b > in.Frames) pos = in.Frames - b;
      ++in.Blocks;
    }
    CloseWav(rec);
  }

  int InputOf(const QString& fullPath) const {
    for (size_t i = 0; i < Inputs.size(); ++i)
      if (Inputs[i].Path == fullPath) return static_cast<int>(i);
    return -1;
  }

  // ---- Messages ----

  QMessageBox::StandardButton OnMessage(const QString& caption, const QString& text) {
    if (caption == Status(txCancelCaption)) {
      ++CancelQuestions;
      return CancelAnswer;
    }
    if (caption == Status(txOpenErrorCaption)) {
      if (!ExpectOpenError) Fail("an add-file error for a file that opens: " + text.toStdString());
      return QMessageBox::Ok;
    }
    if (caption == Status(txWavOutputCaption)) {
      ++PlayerErrors;
      return QMessageBox::Ok;
    }
    Fail("an unexpected message box \"" + caption.toStdString() + "\": " + text.toStdString());
    return QMessageBox::Ok;
  }

  // ---- Failures ----

  void Log(const std::string& what) {
    std::ostringstream line;
    line << "#" << Done << " " << what << (Window && Window->IsRunning() ? " (running)" : "");
    Recent.push_back(line.str());
    if (Recent.size() > 25) Recent.pop_front();
    ++ActionCounts[what.substr(0, what.find(' '))];
  }

  // Reports the first fault (later ones mostly follow from it); always false.
  bool Fail(const std::string& what) {
    if (Failed) return false;
    Failed = true;
    std::ostringstream text;
    text << "seed " << Seed << " (set KLARWELL_SESSION_SEED to repeat), after action " << Done << ": " << what
         << "\nlast actions:";
    for (const std::string& line : Recent) text << "\n  " << line;
    text << "\nlist:" << DumpList();
    ADD_FAILURE() << text.str();
    return false;
  }

  std::string DumpList() const {
    std::ostringstream out;
    for (int r = 1; r < Grid()->RowCount(); ++r) {
      out << "\n  " << r << (Grid()->HasFullPath(r) ? " * " : "   ");
      for (int c = 0; c < 7; ++c) out << Grid()->Cell(c, r).toStdString() << " | ";
    }
    out << "\nmodel:";
    for (const TSlot& s : Model)
      out << " " << (s.Hole ? std::string("<hole>") : Inputs[s.Input].Path.toStdString());
    return out.str();
  }

  // ---- The session ----

  void Quit() {
    Finished = true;
    StepTimer.stop();
    if (Loop) Loop->quit();
  }

  void Step() {
    if (InStep || Finished || PendingRun) return;
    InStep = true;
    Device();
    NotePlayback();
    if (Clock.elapsed() >= ResumeAt) {
      if (Failed)
        Wind();
      else if (Done < Actions)
        Act();
      else
        Finale();
    }
    NotePlayback();
    InStep = false;
  }

  // Held notifications of the capture device arrive as a message loop would deliver them; now and
  // then an action comes before them (a click on Play before the device's close has arrived).
  void Device() {
    if (Capture && Rng.Int(0, 4) != 0) {
      Capture->DeliverNotifications();
      CheckPlayer(true);
    } else {
      CheckPlayer(false);
    }
  }

  // The player's controls follow its state; an idle player holds no file (a file left open would
  // also keep the batch driver from writing that output again).
  bool CheckPlayer(bool settled) {
    if (Failed) return false;
    TPlaybackController* player = Window->PlaybackController();
    const bool playing = player->IsPlaying();
    if (Form()->CBWavDev->isEnabled() == playing)
      return Fail("the device selector does not follow the playback");
    if (!playing && (player->Record().InputFile.IsOpen() || player->Record().ProcessedFile.IsOpen()))
      return Fail("the idle player still holds a file open");
    if (!settled) return true;
    const TButtonSet buttons = Form()->Player1->EnabledButtons();
    if (playing != buttons.Contains(btStop) || playing == buttons.Contains(btPlay))
      return Fail("the transport buttons do not follow the playback");
    if (!playing && Capture->IsOpen()) return Fail("the device stayed open after the playback ended");
    return true;
  }

  // Which output the player holds open, from the file it names: the batch driver cannot write that
  // output again while it is held.
  void NotePlayback() {
    TPlaybackController* player = Window->PlaybackController();
    if (!player->IsPlaying() || !player->Record().ProcessedOpen) return;
    const QString hint = Form()->Player1->toolTip();
    for (TInput& in : Inputs)
      if (hint.endsWith(" " + QFileInfo(in.Path).fileName())) in.OutputPlayed = true;
  }

  void Act() {
    const bool running = Window->IsRunning();
    const int roll = Rng.Int(0, 99);
    ++Done;
    if (roll < 14) {
      AddAction(running);
    } else if (roll < 24) {
      DeleteAction();
    } else if (roll < 30) {
      Log("sort");
      SnapshotStatuses();
      ExpectSort();
      Form()->SortGrid->trigger();
    } else if (roll < 42) {
      SelectAction();
    } else if (roll < 50) {
      if (running) {
        CancelAction();
      } else {
        StartRun();
        return;  // checked once the run has started
      }
    } else if (roll < 53 && running) {
      CloseAction(false);
    } else if (roll < 54 && !running) {
      Log("close idle");
      Window->close();
      if (Window->isVisible()) Fail("closing the idle window left it open");
      Window->show();
    } else if (roll < 58 && !running && ChangeSettings) {
      SettingsAction();
    } else if (roll < 72) {
      PlayAction();
    } else {
      const int ms = Rng.Int(2, running ? 120 : 40);
      Log("wait " + std::to_string(ms) + " ms");
      ResumeAt = Clock.elapsed() + ms;
    }
    Check();
  }

  // After a failure: end whatever runs, then stop.
  void Wind() {
    if (Window->IsRunning()) {
      CancelAnswer = QMessageBox::Yes;
      Window->RunBtnClick();
      ResumeAt = Clock.elapsed() + 20;
      return;
    }
    Quit();
  }

  // The last act: a run over the list, and the window closed while it goes.
  void Finale() {
    if (Window->IsRunning()) {
      if (CloseRequested) return;
      Log("close during the run, answered yes");
      CloseRequested = true;
      CancelAnswer = QMessageBox::Yes;
      Window->close();
      return;
    }
    if (CloseRequested) return;  // handled where the run returns
    if (FinaleTries == 0 && ChangeSettings) {
      // With the last settings writing each output onto its input, every file of the final run is
      // refused at once and the run is over before it can be closed; the default settings give it
      // files to process.
      Log("finale: default settings");
      Form()->SuffixEdit->setText(" #kw2");
      Form()->OutDirEdit->setText(QString());
    }
    if (++FinaleTries > 40) {
      Fail("the final run could not be started");
      Quit();
      return;
    }
    if (Model.empty() || Model[0].Hole) {
      if (!Model.empty()) {
        Log("finale: remove the first row");
        SelectRows(1, 1);
        SnapshotStatuses();
        ExpectDelete(1, 1);
        QTest::mouseClick(Form()->DelBtn, Qt::LeftButton);
      } else {
        Log("finale: add");
        AddFiles({0, 5});
      }
      Check();
      return;
    }
    StartRun();
  }

  void StartRun() {
    Log("start run");
    PendingRun = true;
    QTimer::singleShot(0, this, [this] {
      PendingRun = false;
      if (Window->IsRunning()) return;
      ++Runs;
      CancelAnswer = QMessageBox::No;
      QTest::mouseClick(Form()->RunBtn, Qt::LeftButton);
      test::WaitWhileRunning(*Window);
      Log("run returned");
      if (CloseRequested) {
        if (Window->isVisible()) Fail("the window stayed open after closing during the run, answered yes");
        Check();
        Quit();
        return;
      }
      Check();
    });
  }

  void AddAction(bool running) {
    std::vector<int> chosen;
    const int count = Rng.Int(1, 3);
    for (int i = 0; i < count; ++i) {
      int pick;
      if (Rng.Int(0, 99) < 5) {
        pick = Rng.Int(12, 13);  // a file that cannot be added
      } else {
        // Mostly files not listed yet, so that most outputs belong to one row only.
        pick = Rng.Int(0, 11);
        for (int tries = 0; tries < 4 && Inputs[pick].TimesAdded > 0; ++tries) pick = Rng.Int(0, 11);
      }
      chosen.push_back(pick);
    }
    // Keep the list short enough that runs end now and then.
    if (Model.size() > (running ? 12u : 8u)) {
      DeleteAction();
      return;
    }
    AddFiles(chosen);
  }

  void AddFiles(const std::vector<int>& chosen) {
    std::string what = "add";
    NextFiles.clear();
    ExpectOpenError = false;
    for (int i : chosen) {
      NextFiles << Inputs[i].Path;
      what += ' ';
      what += QFileInfo(Inputs[i].Path).fileName().toStdString();
      if (!Inputs[i].Valid) ExpectOpenError = true;
      ++Inputs[i].TimesAdded;
    }
    Log(what);
    // The model: the new rows go to the first row without a file, the files that open first and
    // those that do not after them, so that entries never have a row without a file between them.
    size_t first = 0;
    while (first < Model.size() && !Model[first].Hole) ++first;
    std::vector<TSlot> next(Model.begin(), Model.begin() + static_cast<long>(first));
    for (size_t r = first + 1; r < Model.size(); ++r)
      if (!Model[r].Hole) next.push_back(Model[r]);
    for (bool valid : {true, false})
      for (int i : chosen) {
        if (Inputs[i].Valid != valid) continue;
        TSlot s;
        s.Input = valid ? i : -1;
        s.Hole = !valid;
        next.push_back(s);
      }
    Model = next;
    QTest::mouseClick(Form()->AddBtn, Qt::LeftButton);
    ExpectOpenError = false;
  }

  void SelectRows(int from, int to) {
    ClickRow(from, Qt::NoModifier);
    if (to != from) ClickRow(to, Qt::ShiftModifier);
  }

  void ClickRow(int row, Qt::KeyboardModifiers modifiers) {
    QTableWidgetItem* item = Grid()->item(row - 1, Rng.Int(0, 6));
    if (!item) return;
    Grid()->scrollToItem(item);
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, modifiers, Grid()->visualItemRect(item).center());
  }

  int RandomRow() {
    const int rows = Grid()->RowCount();
    // Mostly rows with entries, sometimes the empty rows below them.
    const int last = std::max(1, std::min(rows - 1, static_cast<int>(Model.size()) + 1));
    return Rng.Int(0, 9) == 0 ? Rng.Int(1, rows - 1) : Rng.Int(1, last);
  }

  void SelectAction() {
    const int a = RandomRow();
    const int b = Rng.Int(0, 2) == 0 ? RandomRow() : a;
    Log("select rows " + std::to_string(a) + ".." + std::to_string(b));
    SelectRows(a, b);
  }

  void DeleteAction() {
    // Sometimes the running row itself, sometimes the rows already done, sometimes any range.
    int a = RandomRow(), b = a;
    const int kind = Rng.Int(0, 3);
    const int runningRow = RoadRow();
    if (kind == 0 && runningRow > 0) {
      a = runningRow;
      b = Rng.Int(0, 1) ? runningRow : std::min(Grid()->RowCount() - 1, runningRow + 1);
    } else if (kind == 1 && runningRow > 1) {
      a = Rng.Int(1, runningRow - 1);
      b = Rng.Int(a, runningRow);
    } else if (kind == 2) {
      b = Rng.Int(a, std::max(a, std::min(Grid()->RowCount() - 1, a + 2)));
    }
    Log("delete rows " + std::to_string(a) + ".." + std::to_string(b));
    SelectRows(std::min(a, b), std::max(a, b));
    SnapshotStatuses();
    ExpectDelete(Grid()->SelectionTop(), Grid()->SelectionBottom());
    QTest::mouseClick(Form()->DelBtn, Qt::LeftButton);
  }

  void CancelAction() {
    const int roll = Rng.Int(0, 2);
    CancelAnswer = roll == 0 ? QMessageBox::Yes : roll == 1 ? QMessageBox::No : QMessageBox::Cancel;
    Log(std::string("cancel, answered ") + (roll == 0 ? "yes" : roll == 1 ? "no" : "cancel"));
    const int asked = CancelQuestions;
    QTest::mouseClick(Form()->RunBtn, Qt::LeftButton);
    if (CancelQuestions != asked + 1) Fail("the run button during a run did not ask whether to cancel");
    CancelAnswer = QMessageBox::No;
  }

  void CloseAction(bool yes) {
    CancelAnswer = yes ? QMessageBox::Yes : QMessageBox::No;
    Log(std::string("close during the run, answered ") + (yes ? "yes" : "no"));
    Window->close();
    if (!Window->isVisible()) Fail("the window closed although the cancel question was answered no");
    CancelAnswer = QMessageBox::No;
  }

  // Between runs the output settings change: the default suffix beside the input, an output folder
  // without a suffix, or no suffix and the input's own folder, where every create must be refused
  // and the inputs stay as they are.
  void SettingsAction() {
    const int config = Rng.Int(0, 2);
    Log("settings " + std::to_string(config));
    if (!Form()->SuffixEdit->isEnabled()) {
      Fail("the suffix edit is disabled while no run is active");
      return;
    }
    const char* suffixes[] = {" #kw2", "", ""};
    const std::string dirs[] = {"", OutDir(), Dir};
    Form()->SuffixEdit->setText(suffixes[config]);
    Form()->OutDirEdit->setText(QString::fromStdString(dirs[config]));
    if (config != 0) SettingsChanged = true;
    if (config == 2) SelfTarget = true;
  }

  void PlayAction() {
    TPlayer* player = Form()->Player1;
    const int roll = Rng.Int(0, 11);
    auto press = [&](TMPBtnType button, const char* name) {
      Log(std::string("press ") + name);
      QTest::mouseClick(player, Qt::LeftButton, Qt::NoModifier, player->ButtonRect(button).center());
    };
    if (roll <= 2) {
      QRadioButton* modes[] = {Form()->RBvorher, Form()->RBnachher, Form()->RBDiff100, Form()->RBDiff95};
      const int m = Rng.Int(0, 3);
      Log("mode " + std::to_string(m) + (modes[m]->isEnabled() ? "" : " (disabled)"));
      modes[m]->click();
    } else if (roll <= 5) {
      if (Capture && Rng.Int(0, 5) == 0) {
        // Now and then the device refuses: to open, or to take more than a few buffers.
        Capture->OpenResult = Rng.Int(0, 1) ? WaveOutBadDeviceId : WaveOutOk;
        Capture->RefuseWritesAfter = Rng.Int(0, 1) ? Rng.Int(0, 3) : -1;
      } else if (Capture) {
        Capture->OpenResult = WaveOutOk;
        Capture->RefuseWritesAfter = -1;
      }
      // The player opens the selected row's output before it asks for the device, so a play that
      // the device then refuses has still held that output for a moment.
      const int row = Grid()->SelectionTop();
      if (row >= 1 && row <= static_cast<int>(Model.size()) && !Model[static_cast<size_t>(row - 1)].Hole)
        Inputs[static_cast<size_t>(Model[static_cast<size_t>(row - 1)].Input)].OutputPlayed = true;
      press(btPlay, "play");
      if (Window->PlaybackController()->IsPlaying()) ++Playbacks;
    } else if (roll == 6) {
      press(btStop, "stop");
    } else if (roll == 7) {
      press(btPauseDown, "pause");
    } else if (roll == 8) {
      press(btAutoNext, "auto-next");
    } else if (roll == 9) {
      TMyTrackBar* slider = Form()->TrackBar2;
      const int to = Rng.Int(slider->minimum(), slider->maximum());
      Log("seek " + std::to_string(to));
      Window->PlaybackController()->TrackBar2Track();
      slider->setValue(to);
      Window->PlaybackController()->TrackBar2EndTrack();
    } else if (Capture) {
      const int n = Rng.Int(1, 3);
      Log("device plays " + std::to_string(n) + " buffers");
      for (int i = 0; i < n; ++i) Capture->CompleteNext();
    } else {
      Log("device idle");
    }
  }

  // ---- Model updates ----

  void SnapshotStatuses() {
    for (size_t i = 0; i < Model.size(); ++i) {
      Model[i].Status = Grid()->Cell(1, static_cast<int>(i) + 1);
      Model[i].OnRoad = Grid()->Objects(static_cast<int>(i) + 1).Road != 0;
    }
  }

  // Selected rows top..bottom go, except the one being processed.
  void ExpectDelete(int top, int bottom) {
    int row = top;
    for (int n = 0; n < bottom - top + 1; ++n) {
      const size_t i = static_cast<size_t>(row - 1);
      if (i >= Model.size()) break;
      if (Model[i].OnRoad) {
        ++row;
        continue;
      }
      Model.erase(Model.begin() + static_cast<long>(i));
    }
  }

  // Waiting entries sorted by their key; other rows keep their places but can be exchanged into them.
  void ExpectSort() {
    const int rows = Grid()->RowCount();
    auto entry = [&](int row) { return row - 1 < static_cast<int>(Model.size()) && !Model[row - 1].Hole; };
    for (int p = 1; p <= rows - 2; ++p) {
      if (!entry(p) || Model[p - 1].Status != Status(txStatusWaiting)) continue;
      for (int q = p + 1; q < rows && entry(q); ++q)
        if (SortKeyOf(Inputs[Model[p - 1].Input].Path) > SortKeyOf(Inputs[Model[q - 1].Input].Path))
          std::swap(Model[p - 1], Model[q - 1]);
    }
  }

  int RoadRow() const {
    for (int r = 1; r < Grid()->RowCount(); ++r)
      if (Grid()->Objects(r).Road != 0) return r;
    return 0;
  }

  // ---- Invariants ----

  bool Check() {
    if (Failed) return false;
    TMyGrid* grid = Grid();
    const bool running = Window->IsRunning();
    const QString runningText = Status(txStatusRunning);
    std::set<QString> known;
    for (int key = txStatusWaiting; key <= txStatusDone; ++key) known.insert(Status(key));
    known.insert(QString::fromStdString(StatusText(TFileStatus::NotStarted)));

    if (grid->RowCount() < static_cast<int>(Model.size()) + 1)
      return Fail("the list has fewer rows than entries");
    // The road goes on its own thread: its row may stand at any step of the road when looked at.
    const std::set<QString> onRoad{Status(txStatusOpen), Status(txStatusCreate), Status(txStatusInitialize),
                                   runningText};
    int runningRows = 0, runningAt = 0;
    std::set<int> inProgress;
    for (int r = 1; r < grid->RowCount(); ++r)
      if (grid->Objects(r).Road != 0) {
        ++runningRows;
        runningAt = r;
        if (!onRoad.count(grid->Cell(1, r))) return Fail("the row on the road does not say so");
        if (grid->HasFullPath(r)) inProgress.insert(InputOf(*grid->Objects(r).FullPath));
      } else if (onRoad.count(grid->Cell(1, r))) {
        return Fail("row " + std::to_string(r) + " stuck in \"" + grid->Cell(1, r).toStdString() + "\"");
      }
    if (runningRows > 1) return Fail("more than one row is on the road");
    if (!running && runningRows) return Fail("a row is on the road while no run is active");
    if (running && runningRows != 1) return Fail("a run is active but no row is on the road");
    if (Form()->SuffixEdit->isEnabled() == running)
      return Fail("the suffix edit's state does not follow the run");

    for (int r = 1; r < grid->RowCount(); ++r) {
      const size_t i = static_cast<size_t>(r - 1);
      const TRowObjects& objects = grid->Objects(r);
      const QString status = grid->Cell(1, r);
      const std::string where = "row " + std::to_string(r) + ": ";
      if (i >= Model.size()) {
        if (objects.FullPath) return Fail(where + "a file object below the last entry");
        for (int c = 0; c < 7; ++c)
          if (!grid->Cell(c, r).isEmpty()) return Fail(where + "text in a row below the last entry");
        if (objects.StatCount || objects.StatX || objects.StatY)
          return Fail(where + "a curve below the last entry");
        continue;
      }
      const TSlot& slot = Model[i];
      if (slot.Hole) {
        if (objects.FullPath) return Fail(where + "a file object where a file could not be added");
        if (status.isEmpty() || known.count(status)) return Fail(where + "a failed add without its message");
        if (grid->Cell(0, r).isEmpty()) return Fail(where + "a failed add lost its file name");
        continue;
      }
      const TInput& in = Inputs[static_cast<size_t>(slot.Input)];
      if (!objects.FullPath) return Fail(where + "an entry lost its file object (entries not contiguous)");
      if (*objects.FullPath != in.Path)
        return Fail(where + "holds " + objects.FullPath->toStdString() + ", the model " +
                    in.Path.toStdString());
      if (grid->Cell(0, r) != QFileInfo(in.Path).fileName()) return Fail(where + "file name cell is wrong");
      if (grid->Cell(2, r) != in.FormatText || grid->Cell(3, r) != in.LengthText)
        return Fail(where + "format or length cell is not the file's");
      // A refused create is the only failure a listed file can meet here, and only while the player
      // held its output; the row's figures were emptied when it was opened. A file listed more than
      // once finds its output taken by its first row in a run.
      const bool taken = status == QString::fromStdString(StatusText(TFileStatus::OutputTaken));
      if (taken && in.TimesAdded < 2) return Fail(where + "output taken, but no other row has its file");
      const bool refused = taken || (status == CreateRefused && (in.OutputPlayed || SelfTarget));
      if (refused) {
        for (int c = 4; c <= 6; ++c)
          if (!grid->Cell(c, r).isEmpty()) return Fail(where + "a failed file shows figures");
        ++Refusals;
      } else if (!known.count(status)) {
        return Fail(where + "status \"" + status.toStdString() + "\" is not one the window uses");
      }
      if (!CheckFigures(r, in, status, runningAt)) return false;
      const std::string seen = in.Path.toStdString() + "@" + std::to_string(Runs);
      if (status == Status(txStatusDone)) DoneRows.insert(seen);
      if (status == Status(txStatusCancelled)) CancelledRows.insert(seen);
      if (running && r < runningAt && status != Status(txStatusDone) && !refused)
        return Fail(where + "above the running row but not done");
    }
    return CheckExtract() && CheckOutputs(inProgress);
  }

  // The extract chart shows nothing yet or one whole click: its region, the trace over the same
  // samples, and the repaired span inside the region.
  bool CheckExtract() {
    const TGrCntrl* chart = Form()->ZoomGrCntrl;
    const int n = chart->CurvePointCount(1), repaired = chart->CurvePointCount(2);
    if (n == 0 && repaired == 0) return true;
    if (chart->CurvePointCount(0) != n || repaired < 4)
      return Fail("the click extract shows " + std::to_string(n) + " samples, " +
                  std::to_string(chart->CurvePointCount(0)) + " trace points and " +
                  std::to_string(repaired) + " repaired ones");
    for (int i = 0; i < repaired; ++i)
      if (chart->CurveXValues(2)[i] < 0 || chart->CurveXValues(2)[i] >= n)
        return Fail("the click extract's repair lies outside its region");
    return true;
  }

  bool CheckFigures(int r, const TInput& in, const QString& status, int runningAt) {
    TMyGrid* grid = Grid();
    const std::string where =
        "row " + std::to_string(r) + " (" + QFileInfo(in.Path).fileName().toStdString() + "): ";
    const QString clicks = grid->Cell(4, r), density = grid->Cell(5, r), time = grid->Cell(6, r);
    long long total = 0;
    double perSecond = 0;
    if (!clicks.isEmpty() && !ParseInt(clicks, total)) return Fail(where + "clicks cell does not parse");
    if (!density.isEmpty() && !ParseDensity(density, perSecond))
      return Fail(where + "clicks/sec cell does not parse");
    if (!time.isEmpty() && !IsHms(time)) return Fail(where + "time cell is not h:m:s");
    const TRowObjects& objects = grid->Objects(r);
    if (status == Status(txStatusWaiting) ||
        status == QString::fromStdString(StatusText(TFileStatus::NotStarted))) {
      if (!clicks.isEmpty() || !density.isEmpty() || !time.isEmpty())
        return Fail(where + "a waiting row shows figures");
      if (objects.StatCount) return Fail(where + "a waiting row holds a curve");
    } else if (status == Status(txStatusDone)) {
      if (clicks.isEmpty() || density.isEmpty() || time.isEmpty())
        return Fail(where + "a done row lacks a figure");
      if (!objects.StatCount || !objects.StatX || !objects.StatY)
        return Fail(where + "a done row lacks its curve");
      const int n = *objects.StatCount;
      if (n != in.Blocks || objects.StatX->size() != static_cast<size_t>(n) ||
          objects.StatY->size() != static_cast<size_t>(n))
        return Fail(where + "its curve has " + std::to_string(n) + " points, the file " +
                    std::to_string(in.Blocks) + " blocks");
      double sum = 0;
      for (float y : *objects.StatY) sum += 2.0 * y;
      if (std::llround(sum) != total)
        return Fail(where + "clicks cell " + std::to_string(total) + " is not the sum of its curve " +
                    std::to_string(std::llround(sum)));
      const double expected = total / (static_cast<double>(in.Frames) / in.Rate);
      if (std::abs(expected - perSecond) > 0.0051 + expected * 1e-4)
        return Fail(where + "clicks/sec " + density.toStdString() + " is not clicks over seconds");
      if (!test::FileExists(in.Output) && in.TimesAdded == 1 && !SettingsChanged)
        return Fail(where + "done, but its output is missing");
    } else if (status == Status(txStatusRunning) && r == runningAt && !clicks.isEmpty()) {
      // The density chart holds this file's blocks so far; the running total is their sum.
      const TGrCntrl* chart = Form()->StatGrCntrl;
      double sum = 0;
      for (int k = 0; k < chart->CurvePointCount(0); ++k) sum += 2.0 * chart->CurveYValues(0)[k];
      if (std::llround(sum) != total)
        return Fail(where + "running total " + std::to_string(total) +
                    " is not the sum of the density chart " + std::to_string(std::llround(sum)));
    }
    return true;
  }

  // Every output that exists is complete, unless its input is the one being processed just now.
  bool CheckOutputs(const std::set<int>& inProgress) {
    for (size_t i = 0; i < Inputs.size(); ++i) {
      const TInput& in = Inputs[i];
      if (!in.Valid || inProgress.count(static_cast<int>(i))) continue;
      for (const std::string& output : in.Outputs) {
        std::string problem;
        if (test::FileExists(output) && !CompleteOutput(in, output, problem))
          return Fail(output + ": " + problem);
      }
    }
    return true;
  }

  bool CompleteOutput(const TInput& in, const std::string& output, std::string& problem) {
    TWavRecord out;
    if (!OpenWav(output, out)) {
      problem = "does not open: " + out.ErrorMsg;
      return false;
    }
    const bool frames = out.NumFrames == in.Frames, rate = out.Format.nSamplesPerSec == in.Rate;
    CloseWav(out);
    if (!frames || !rate) {
      problem = "has " + std::to_string(out.NumFrames) + " frames, its input " + std::to_string(in.Frames);
      return false;
    }
    return true;
  }

  void FinalChecks() {
    Check();
    // Inputs byte for byte as they were.
    for (const TInput& in : Inputs) {
      if (in.Sum == 0) continue;
      if (Checksum(test::ReadFileBytes(in.Path.toStdString())) != in.Sum)
        Fail("input " + in.Path.toStdString() + " was changed");
    }
    // Nothing in the folder but the inputs, complete outputs and the settings file.
    std::set<std::string> allowed = {Dir + "/klarwell.ini", OutDir()};
    for (const TInput& in : Inputs) {
      allowed.insert(in.Path.toStdString());
      if (in.Valid) allowed.insert(in.Outputs.begin(), in.Outputs.end());
    }
    for (const auto& e : std::filesystem::recursive_directory_iterator(Dir))
      if (!allowed.count(e.path().string())) Fail("a stray file was left: " + e.path().string());
    for (const TInput& in : Inputs)
      for (const std::string& output : in.Outputs) {
        std::string problem;
        if (in.Valid && test::FileExists(output) && !CompleteOutput(in, output, problem))
          Fail(output + ": " + problem);
      }
    if (!CloseRequested && !Failed) Fail("the session ended without the final close");
  }

  test::TRandom Rng;
  uint64_t Seed;
  int Actions;
  bool ChangeSettings;
  bool SettingsChanged = false, SelfTarget = false;  // settings other than the default were used
  std::string Dir;
  std::vector<TInput> Inputs;
  std::vector<TSlot> Model;
  QString CreateRefused;
  std::unique_ptr<TMainFrm> Window;
  TCaptureWaveOut* Capture = nullptr;
  QStringList NextFiles;
  QMessageBox::StandardButton CancelAnswer = QMessageBox::No;
  bool ExpectOpenError = false;
  int CancelQuestions = 0, PlayerErrors = 0, Playbacks = 0, Refusals = 0;
  std::set<std::string> DoneRows, CancelledRows;  // "input@run" seen in those states
  QTimer StepTimer;
  std::unique_ptr<QEventLoop> Loop;
  QElapsedTimer Clock;
  qint64 ResumeAt = 0;
  int Done = 0, Runs = 0, FinaleTries = 0;
  bool InStep = false, PendingRun = false, Finished = false, Failed = false, CloseRequested = false;
  std::deque<std::string> Recent;
  std::map<std::string, int> ActionCounts;
};

void RunSession(bool captureDevice, bool changeSettings, int defaultActions, TLanguage language) {
  test::EnsureGuiApp();
  SetLanguage(language);
  const uint64_t seed = EnvNumber("KLARWELL_SESSION_SEED", DefaultSeed);
  const int actions =
      static_cast<int>(EnvNumber("KLARWELL_SESSION_ACTIONS", static_cast<uint64_t>(defaultActions)));
  TSession session(seed, actions, captureDevice, changeSettings);
  session.Run();
  std::ostringstream counts;
  for (const auto& [what, n] : session.Counts()) counts << " " << what << "=" << n;
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  SetLanguage(TLanguage::English);
  std::printf("session seed %llu: %d actions, %d runs, %s;%s\n", static_cast<unsigned long long>(seed),
              session.ActionsDone(), session.RunsStarted(), session.Coverage().c_str(), counts.str().c_str());
}

// The player on a capture device that now and then refuses to open or to take buffers.
TEST(WindowSession, RandomActionsDuringAndBetweenRuns) {
  RunSession(true, false, DefaultActions, TLanguage::English);
}

// Between runs the output settings change too, to an output folder and to the inputs' own folder
// with no suffix, where the output would be the input itself.
TEST(WindowSession, RandomActionsWithChangingOutputSettings) {
  RunSession(true, true, DefaultActions / 2, TLanguage::English);
}

// A shorter one with the platform's own audio output, which on a machine without sound fails to
// open, and with the German texts, so that the rows are found again by "läuft".
TEST(WindowSession, RandomActionsWithThePlatformAudioOutputInGerman) {
  RunSession(false, false, DefaultActions / 4, TLanguage::German);
}

}  // namespace
}  // namespace klarwell
