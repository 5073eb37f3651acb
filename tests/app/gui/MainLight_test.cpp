#include "app/gui/MainLight.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "app/gui/QtLanguage.h"
#include "audio/WavFile.h"
#include "chart/Graphic.h"
#include "engine/engine.h"
#include "playback/CaptureWaveOut.h"
#include "playback/PlaybackController.h"
#include "tests/app/gui/GuiTestApp.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"
#include "ui_MainLight.h"

namespace klarwell {
namespace {

struct TBox {
  QString Caption, Text;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureGuiApp();
    SetLanguage(TLanguage::English);
    Dir = test::MakeTempDir();
    SettingsPath = Dir + "/klarwell.ini";
  }
  void TearDown() override {
    Window.reset();
    std::filesystem::remove_all(Dir);
    SetLanguage(TLanguage::English);
  }

  void MakeWindow() {
    TMainSeams seams;
    seams.GetOpenFileNames = [this](QWidget*, const QString& filter) {
      SeenFilter = filter;
      return NextFiles;
    };
    seams.MessageBox = [this](QWidget*, QMessageBox::Icon, const QString& caption, const QString& text,
                              QMessageBox::StandardButtons) {
      Boxes.push_back({caption, text});
      return Answer;
    };
    seams.GetExistingDirectory = [this](QWidget*, const QString& title, const QString& start) {
      FolderTitle = title;
      FolderStart = start;
      return FolderAnswer;
    };
    seams.OpenUrl = [this](const QString& address) { Opened << address; };
    seams.WaveOutDevice = std::make_unique<TCaptureWaveOut>();
    Window = std::make_unique<TMainFrm>(SettingsPath, std::move(seams));
  }

  // A stereo 44.1 kHz 16-bit file of music-like material with a few clicks.
  std::string MakeWav(const std::string& name, double seconds, uint64_t seed = 7) {
    test::TSignal signal = test::MakeMusic(seconds, 44100, 2, seed);
    test::AddClicks(signal, static_cast<int>(seconds * 3), 3, 40, 44100 / 8, seed + 1);
    std::string path = Dir + "/" + name;
    std::string error;
    EXPECT_TRUE(test::WriteSignalWav(path, signal, 2, false, &error)) << error;
    return path;
  }

  void Add(const std::vector<std::string>& paths) {
    NextFiles.clear();
    for (const std::string& p : paths) NextFiles << QString::fromStdString(p);
    Window->AddBtnClick();
  }

  // Runs `action` once from the event loop that the batch run pumps, as soon as `when` holds.
  void DuringRun(std::function<bool()> when, std::function<void()> action) {
    auto* timer = new QTimer(Window.get());
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, when, action] {
      if (!when()) return;
      timer->stop();
      action();
      timer->deleteLater();
    });
    timer->start();
  }

  bool RowIs(int row, int key) { return Grid()->Cell(1, row) == MainText(key); }

  TMyGrid* Grid() { return Window->Grid(); }
  Ui::TMainFrm* Form() { return Window->Form(); }

  std::string Dir, SettingsPath;
  std::unique_ptr<TMainFrm> Window;
  QStringList NextFiles;
  QString SeenFilter;
  std::vector<TBox> Boxes;
  QMessageBox::StandardButton Answer = QMessageBox::Ok;
  QString FolderTitle, FolderStart, FolderAnswer;
  QStringList Opened;
};

TEST_F(MainWindowTest, CaptionsFollowTheLanguageChosenAtStart) {
  struct {
    TLanguage language;
    const char* add;
    const char* run;
    const char* firstColumn;
    const char* sixthColumn;
    const char* filter;
  } cases[] = {
      {TLanguage::German, "Dateien\nhinzufügen", "Dateien\nbearbeiten", "Datei", "Klicks/sek",
       "Wave-Dateien (*.wav)"},
      {TLanguage::English, "Add\nFiles", "Process\nFiles", "File", "Clicks/sec", "Wave-Files (*.wav)"},
  };
  for (const auto& c : cases) {
    SetLanguage(c.language);
    MakeWindow();
    EXPECT_EQ(Form()->AddBtn->text(), QString::fromUtf8(c.add));
    EXPECT_EQ(Form()->RunBtn->text(), QString::fromUtf8(c.run));
    EXPECT_EQ(Grid()->TitleCaptions().value(0), QString::fromUtf8(c.firstColumn));
    EXPECT_EQ(Grid()->TitleCaptions().value(5), QString::fromUtf8(c.sixthColumn));
    EXPECT_EQ(Form()->StatGrCntrl->Title(), MainText(txStatTitle));
    Add({});  // the dialog is cancelled: nothing changes
    EXPECT_EQ(SeenFilter, QString::fromUtf8(c.filter));
    EXPECT_EQ(Window->windowTitle(), "Klarwell Ver. 2.70");
    // Visible, never ticked, never enabled.
    EXPECT_FALSE(Form()->CBShutoff->isEnabled());
    EXPECT_FALSE(Form()->CBShutoff->isChecked());
    EXPECT_EQ(Grid()->RowCount(), 5);
    EXPECT_EQ(Grid()->ColCount(), 7);
    EXPECT_EQ(Form()->SuffixEdit->text(), " #kw2");
  }
}

TEST_F(MainWindowTest, TextTableIsCompleteInBothLanguages) {
  for (int key = 0; key < txMainTextCount; ++key) {
    ASSERT_NE(MainTextPair(key).German, nullptr) << key;
    ASSERT_NE(MainTextPair(key).English, nullptr) << key;
    EXPECT_STRNE(MainTextPair(key).English, "") << key;
    EXPECT_STRNE(MainTextPair(key).German, "") << key;
  }
  EXPECT_STREQ(MainTextPair(txStatusRunning).German, "läuft");
  EXPECT_STREQ(MainTextPair(txColTime).English, "Time");
}

// Qt's standard texts follow the program's language: the German translation must be installed.
TEST_F(MainWindowTest, QtStandardButtonsAreGermanWithTheTranslation) {
  QTranslator translator;
  ASSERT_TRUE(LoadQtGermanTexts(translator)) << "Qt's German translations are missing";
  QCoreApplication::installTranslator(&translator);
  QMessageBox box(QMessageBox::Question, "Abbruch", "Wollen Sie wirklich abbrechen ?",
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  QString yes = box.button(QMessageBox::Yes)->text().remove('&');
  QString cancel = box.button(QMessageBox::Cancel)->text().remove('&');
  QCoreApplication::removeTranslator(&translator);
  EXPECT_EQ(yes, "Ja");
  EXPECT_EQ(cancel, "Abbrechen");
}

// The notes of the help view come in the order 65, 67, 66; the view starts hidden and the logo
// toggles it.
TEST_F(MainWindowTest, HelpViewOrderAndToggle) {
  MakeWindow();
  QString text = Form()->RichEdit1->toPlainText();
  int last = -1;
  for (int key : {41, 42, 49, 50, 51, 53, 57, 58, 59, 63, 64, 65, 67, 66}) {
    int at = text.indexOf(MainText(key).trimmed());
    EXPECT_GT(at, last) << key;
    last = at;
  }
  EXPECT_FALSE(Form()->RichEdit1->isVisibleTo(Window.get()));
  Window->Image1Click();
  EXPECT_TRUE(Form()->RichEdit1->isVisibleTo(Window.get()));
  Window->Image1Click();
  EXPECT_FALSE(Form()->RichEdit1->isVisibleTo(Window.get()));
  Window->Label1Click();
  Window->MailLblClick();
  ASSERT_EQ(Opened.size(), 2);
  EXPECT_TRUE(Opened[1].startsWith("mailto:"));
}

TEST_F(MainWindowTest, ThreeFilesFillRowsOneToThree) {
  MakeWindow();
  std::string a = MakeWav("a.wav", 1.0), b = MakeWav("b.wav", 1.0), c = MakeWav("c.wav", 0.5);
  Add({a, b, a});  // the same file twice is listed twice
  EXPECT_EQ(Grid()->RowCount(), 4);
  for (int row = 1; row <= 3; ++row) {
    EXPECT_TRUE(Grid()->HasFullPath(row)) << row;
    EXPECT_TRUE(RowIs(row, txStatusWaiting)) << row;
    EXPECT_FALSE(Grid()->Cell(2, row).isEmpty()) << row;
    EXPECT_EQ(Grid()->Cell(3, row), "00:00:01") << row;
  }
  EXPECT_EQ(Grid()->Cell(0, 3), "a.wav");
  EXPECT_EQ(*Grid()->Objects(2).FullPath, QString::fromStdString(b));
  EXPECT_TRUE(Boxes.empty());
  (void)c;
}

TEST_F(MainWindowTest, UnsupportedFileShowsItsMessageAndIsOverwrittenByTheNextAdd) {
  MakeWindow();
  std::string bad = Dir + "/bad.wav";
  std::ofstream(bad) << "this is no wave file at all, only text";
  std::string good = MakeWav("good.wav", 0.5);
  Add({bad});
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Caption, "Error on opening");
  EXPECT_TRUE(Boxes[0].Text.startsWith("Error opening file \"bad.wav\" : ")) << Boxes[0].Text.toStdString();
  EXPECT_FALSE(Grid()->HasFullPath(1));
  EXPECT_FALSE(Grid()->Cell(1, 1).isEmpty());
  EXPECT_TRUE(Boxes[0].Text.endsWith(Grid()->Cell(1, 1)));
  Add({good});
  EXPECT_EQ(Grid()->Cell(0, 1), "good.wav");
  EXPECT_TRUE(RowIs(1, txStatusWaiting));
}

// Setting the row count to first + count would cut off entries standing below a failed row.
TEST_F(MainWindowTest, EntriesBelowAFailedRowSurviveTheNextAdd) {
  MakeWindow();
  std::string bad = Dir + "/bad.wav";
  std::ofstream(bad) << "no wave";
  std::string a = MakeWav("a.wav", 0.3), c = MakeWav("c.wav", 0.3), d = MakeWav("d.wav", 0.3);
  Add({a, bad, c});
  Add({d});
  EXPECT_EQ(Grid()->Cell(0, 1), "a.wav");
  EXPECT_EQ(Grid()->Cell(0, 2), "d.wav");
  EXPECT_EQ(Grid()->Cell(0, 3), "c.wav");
  EXPECT_TRUE(Grid()->HasFullPath(3));
}

TEST_F(MainWindowTest, DeleteSkipsTheRunningRowAndNeverGoesBelowFiveRows) {
  MakeWindow();
  std::vector<std::string> files;
  for (const char* n : {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"}) files.push_back(MakeWav(n, 0.2));
  Add(files);
  ASSERT_EQ(Grid()->RowCount(), 6);
  Grid()->SetCell(1, 3, MainText(txStatusRunning));
  Grid()->SelectRow(2);
  Grid()->setRangeSelected(QTableWidgetSelectionRange(1, 0, 3, 6), true);
  Window->DelBtnClick();
  EXPECT_EQ(Grid()->Cell(0, 1), "1.wav");
  EXPECT_EQ(Grid()->Cell(0, 2), "3.wav");
  EXPECT_EQ(Grid()->Cell(0, 3), "5.wav");
  EXPECT_FALSE(Grid()->HasFullPath(4));
  EXPECT_EQ(Grid()->RowCount(), 5);

  Grid()->SetCell(1, 2, MainText(txStatusWaiting));
  Grid()->setRangeSelected(QTableWidgetSelectionRange(0, 0, 3, 6), true);
  Window->DelBtnClick();
  EXPECT_EQ(Grid()->RowCount(), 5);
  for (int r = 1; r < 5; ++r) EXPECT_FALSE(Grid()->HasFullPath(r)) << r;
}

TEST_F(MainWindowTest, SortOrdersWaitingEntriesByNameBeforeTheFirstDot) {
  MakeWindow();
  std::string b = MakeWav("b.wav", 0.2), a = MakeWav("A.wav", 0.2), ax = MakeWav("a.x.wav", 0.2);
  Add({b, a, ax});
  Window->SortGridClick();
  EXPECT_EQ(Grid()->Cell(0, 1), "A.wav");
  EXPECT_EQ(Grid()->Cell(0, 2), "a.x.wav");
  EXPECT_EQ(Grid()->Cell(0, 3), "b.wav");
  EXPECT_EQ(*Grid()->Objects(3).FullPath, QString::fromStdString(b));
}

TEST_F(MainWindowTest, DroppedFilesAreAddedLikeChosenOnes) {
  MakeWindow();
  Window->show();  // drops reach only shown widgets
  std::string a = MakeWav("drop.wav", 0.2);
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(a))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Grid()->viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Grid()->viewport(), &drop);
  QCoreApplication::processEvents();
  EXPECT_EQ(Grid()->Cell(0, 1), "drop.wav");
  EXPECT_TRUE(Grid()->HasFullPath(1));
}

TEST_F(MainWindowTest, RunNeedsASuffixOrAnExistingFolder) {
  MakeWindow();
  Add({MakeWav("a.wav", 0.2)});
  Form()->SuffixEdit->setText("   ");
  Form()->OutDirEdit->setText(QString::fromStdString(Dir + "/missing"));
  Window->RunBtnClick();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Caption, "Error");
  EXPECT_EQ(Boxes[0].Text, "File suffix or output directory must be given.");
  EXPECT_TRUE(RowIs(1, txStatusWaiting));
  EXPECT_FALSE(Window->IsRunning());
}

TEST_F(MainWindowTest, RunWritesEveryCellAndStoresTheCurve) {
  MakeWindow();
  std::string a = MakeWav("one.wav", 2.5, 11), b = MakeWav("two.wav", 1.0, 12);
  Add({a, b});
  Grid()->SelectRow(1);
  Window->MyGrid1Click();
  EXPECT_FALSE(Form()->RBnachher->isEnabled());  // nothing processed yet
  Window->RunBtnClick();
  EXPECT_FALSE(Window->IsRunning());
  EXPECT_EQ(Form()->RunBtn->text(), "Process\nFiles");
  // The player now offers the processed file and plays it.
  Grid()->SelectRow(1);
  Window->MyGrid1Click();
  EXPECT_TRUE(Form()->RBnachher->isEnabled());
  Form()->RBnachher->setChecked(true);
  EXPECT_TRUE(Window->PlaybackController()->StartPlay(1));
  for (int row = 1; row <= 2; ++row) {
    EXPECT_TRUE(RowIs(row, txStatusDone)) << Grid()->Cell(1, row).toStdString();
    for (int c = 0; c < 7; ++c) EXPECT_FALSE(Grid()->Cell(c, row).isEmpty()) << row << " " << c;
    EXPECT_TRUE(Grid()->Objects(row).StatCount.has_value());
  }
  EXPECT_EQ(*Grid()->Objects(1).StatCount, 2);  // two blocks
  EXPECT_EQ(*Grid()->Objects(2).StatCount, 1);  // shorter than a block
  EXPECT_TRUE(test::FileExists(Dir + "/one #kw2.wav"));
  EXPECT_TRUE(test::FileExists(Dir + "/two #kw2.wav"));
  // A click on a processed row shows its stored curve.
  Window->ShowRowStatistics(1);
  EXPECT_EQ(Form()->StatGrCntrl->CurvePointCount(0), 2);
  Window->FreeRowStatistics(1);
  EXPECT_FALSE(Grid()->Objects(1).StatX.has_value());
}

// The cancel question, asked from the button during a run: only Yes ends the run.
TEST_F(MainWindowTest, CancelByTheButtonOnlyOnYes) {
  for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Yes}) {
    MakeWindow();
    Boxes.clear();
    Answer = answer;
    std::string a = MakeWav("c.wav", 2.5, 5), b = MakeWav("d.wav", 0.5, 6);
    Add({a, b});
    DuringRun([this] { return RowIs(1, txStatusRunning); },
              [this] {
                EXPECT_EQ(Form()->RunBtn->text(), "Cancel\nprocessing");
                EXPECT_FALSE(Form()->SuffixEdit->isEnabled());
                Window->RunBtnClick();
              });
    Window->RunBtnClick();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, "Cancel");
    EXPECT_EQ(Boxes[0].Text, "Do you really want to cancel ?");
    EXPECT_FALSE(Window->IsRunning());
    EXPECT_TRUE(Form()->SuffixEdit->isEnabled());
    if (answer == QMessageBox::Yes) {
      EXPECT_TRUE(RowIs(1, txStatusCancelled));
      EXPECT_TRUE(RowIs(2, txStatusWaiting));  // no further file starts
      EXPECT_FALSE(test::FileExists(Dir + "/c #kw2.wav"));
    } else {
      EXPECT_TRUE(RowIs(1, txStatusDone));
      EXPECT_TRUE(RowIs(2, txStatusDone));
    }
    Window.reset();
  }
}

TEST_F(MainWindowTest, CloseDuringARunAsksSavesAndClosesOnlyAfterYes) {
  for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    MakeWindow();
    Window->show();
    Boxes.clear();
    Answer = answer;
    std::filesystem::remove(SettingsPath);
    Add({MakeWav("e.wav", 2.5, 9)});
    bool visibleAfterClose = false;
    DuringRun([this] { return RowIs(1, txStatusRunning); },
              [&] {
                Window->close();
                visibleAfterClose = Window->isVisible();
                EXPECT_TRUE(test::FileExists(SettingsPath));  // saved whatever the answer
              });
    Window->RunBtnClick();
    EXPECT_TRUE(visibleAfterClose);
    ASSERT_GE(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Do you really want to cancel ?");
    if (answer == QMessageBox::Yes) {
      EXPECT_TRUE(RowIs(1, txStatusCancelled));
      EXPECT_FALSE(Window->isVisible());
      EXPECT_FALSE(test::FileExists(Dir + "/e #kw2.wav"));
    } else {
      EXPECT_TRUE(RowIs(1, txStatusDone));
      EXPECT_TRUE(Window->isVisible());
    }
    Window.reset();
  }
}

// Rows removed above the running row: its later cells must land in the row, found again by its status.
TEST_F(MainWindowTest, RowsRemovedAboveTheRunningRowDuringARun) {
  MakeWindow();
  std::string a = MakeWav("first.wav", 0.4, 3), b = MakeWav("second.wav", 2.5, 4);
  Add({a, b});
  bool removed = false;
  DuringRun([this] { return RowIs(2, txStatusRunning); },
            [&] {
              Grid()->SelectRow(1);
              Window->DelBtnClick();
              removed = true;
            });
  Window->RunBtnClick();
  ASSERT_TRUE(removed);
  EXPECT_EQ(Grid()->Cell(0, 1), "second.wav");
  EXPECT_TRUE(RowIs(1, txStatusDone));
  EXPECT_FALSE(Grid()->Cell(6, 1).isEmpty());
  EXPECT_TRUE(Grid()->Objects(1).StatCount.has_value());
  for (int c = 1; c < 7; ++c) EXPECT_EQ(Grid()->Cell(c, 2), "") << c;
}

TEST_F(MainWindowTest, SettingsFirstStartAndRoundTrip) {
  MakeWindow();
  EXPECT_EQ(Form()->SuffixEdit->text(), " #kw2");
  EXPECT_EQ(Form()->OutDirEdit->text(), "");
  EXPECT_EQ(Grid()->ColWidth(0), 115);
  EXPECT_EQ(Grid()->ColWidth(6), 63);
  EXPECT_EQ(Window->height(), 517);
  Form()->SuffixEdit->setText(" lead");
  Grid()->SetColWidth(2, 99);
  Window->resize(Window->width(), 600);
  Window->close();
  std::ifstream in(SettingsPath);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* key : {"Suffix=\" lead\"", "Path=\"\"", "FName=115", "Status=135", "Format=99",
                          "Length=70", "Clicks=54", "Dens=58", "ETA=63", "Height=600"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
  Window.reset();
  std::ofstream(SettingsPath, std::ios::app) << "";
  MakeWindow();
  EXPECT_EQ(Form()->SuffixEdit->text(), " lead");
  EXPECT_EQ(Grid()->ColWidth(2), 99);
  EXPECT_EQ(Window->height(), 600);
}

TEST_F(MainWindowTest, SettingsThatCannotBeSavedAreReportedAndTheWindowCloses) {
  std::filesystem::create_directory(SettingsPath);  // a folder where the file should be
  MakeWindow();
  Window->show();
  Window->close();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, QString::fromStdString("Unable to write to " + SettingsPath));
  EXPECT_FALSE(Window->isVisible());
}

TEST_F(MainWindowTest, DirButtonStartsInTheOutputFolderOrTheProgramsFolder) {
  MakeWindow();
  FolderAnswer = "";
  Form()->OutDirEdit->setText("/no/such/folder");
  Window->DirBtnClick();
  EXPECT_EQ(FolderTitle, "Output directory");
  EXPECT_EQ(FolderStart, QCoreApplication::applicationDirPath());
  EXPECT_EQ(Form()->OutDirEdit->text(), "/no/such/folder");  // cancelled: unchanged
  Form()->OutDirEdit->setText(QString::fromStdString(Dir + "/"));
  FolderAnswer = "/chosen";
  Window->DirBtnClick();
  EXPECT_EQ(FolderStart, QString::fromStdString(Dir));
  EXPECT_EQ(Form()->OutDirEdit->text(), "/chosen");
}

// A detection trace without any rise over the region has no range to scale; dividing by it would
// put infinities or NaNs into the extract chart.
TEST_F(MainWindowTest, ExtractWithAFlatTraceIsDrawnAlongTheSamplesMinimum) {
  MakeWindow();
  std::string path = MakeWav("flat.wav", 0.5);
  TWavRecord input;
  ASSERT_TRUE(OpenWav(path, input));
  TClickEngine engine;
  std::string error;
  ASSERT_TRUE(engine.InitEngine(input, -120, error)) << error;
  ASSERT_TRUE(engine.ReadBlock(input, 0, error)) << error;  // the trace is still all zero
  Window->CheckTick();
  Window->CaptureClickRegion(engine, true, 1000, 1100);
  Window->DrawClickExtract(engine);
  CloseWav(input);
  TGrCntrl* chart = Form()->ZoomGrCntrl;
  ASSERT_EQ(chart->CurvePointCount(1), 101);
  ASSERT_EQ(chart->CurvePointCount(0), 101);
  float lowest = *std::min_element(chart->CurveYValues(1), chart->CurveYValues(1) + 101);
  for (int i = 0; i < 101; ++i) {
    EXPECT_EQ(chart->CurveYValues(1)[i], engine.LeftBuf()[1000 + i]) << i;
    EXPECT_EQ(chart->CurveYValues(0)[i], lowest) << i;
  }
  EXPECT_TRUE(std::isfinite(chart->DispYMin()) && std::isfinite(chart->DispYMax()));
}

// Pictures for a person to look at: the idle window, and the window during a run on the demo
// material (its density chart and click extract live).
TEST_F(MainWindowTest, Screenshots) {
  const std::string artifacts = test::BinaryDir() + "/test-artifacts";
  std::filesystem::create_directories(artifacts);
  MakeWindow();
  Window->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(Window->grab().save(QString::fromStdString(artifacts + "/main-window-idle.png")));
  {
    SetLanguage(TLanguage::German);
    TMainFrm german(SettingsPath);
    german.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(german.grab().save(QString::fromStdString(artifacts + "/main-window-idle-de.png")));
    SetLanguage(TLanguage::English);
  }

  test::TSignal signal = test::MakeMusic(8.0, 44100, 2, 20261208);
  test::AddClicks(signal, 20, 3, 100, 44100 / 5, 77);
  std::string demo = Dir + "/vinyl-demo.wav";
  ASSERT_TRUE(test::WriteSignalWav(demo, signal, 2, false));
  Add({demo, MakeWav("next.wav", 0.5)});
  bool saved = false;
  DuringRun([this] { return RowIs(1, txStatusRunning) && Form()->StatGrCntrl->CurvePointCount(0) >= 3; },
            [&] {
              QCoreApplication::processEvents();
              saved = Window->grab().save(QString::fromStdString(artifacts + "/main-window-running.png"));
            });
  Window->RunBtnClick();
  EXPECT_TRUE(saved);
  EXPECT_TRUE(RowIs(1, txStatusDone));
}

}  // namespace
}  // namespace klarwell
