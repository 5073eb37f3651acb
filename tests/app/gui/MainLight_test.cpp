#include "app/gui/MainLight.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/BatchDriver.h"
#include "app/RunTexts.h"
#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "app/gui/QtLanguage.h"
#include "app/gui/RoadWorker.h"
#include "audio/WavFile.h"
#include "chart/Graphic.h"
#include "playback/PlaybackController.h"
#include "tests/app/gui/GuiTestApp.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"
#include "tests/support/playback/CaptureWaveOut.h"
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
    seams.GetOpenFileNames = [this](QWidget*, const QString& filter, const QString& start) {
      SeenFilter = filter;
      SeenStart = start;
      return NextFiles;
    };
    seams.MessageBox = [this](QWidget*, QMessageBox::Icon, const QString& caption, const QString& text,
                              QMessageBox::StandardButtons) {
      Boxes.push_back({caption, text});
      if (WhileBoxOpen) WhileBoxOpen();
      return Answer;
    };
    seams.GetExistingDirectory = [this](QWidget*, const QString& title, const QString& start) {
      FolderTitle = title;
      FolderStart = start;
      return FolderAnswer;
    };
    seams.OpenUrl = [this](const QString& address) { Opened << address; };
    Readme = Dir + "/README.md";
    std::ofstream(Readme) << "# Klarwell";
    seams.ReadmePath = QString::fromStdString(Readme);
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

  QString Status(int row) { return Grid()->Cell(1, row); }
  static QString Status(TFileStatus status) { return QString::fromStdString(StatusText(status)); }

  std::string Dir, SettingsPath, Readme;
  std::unique_ptr<TMainFrm> Window;
  QStringList NextFiles;
  QString SeenFilter, SeenStart;
  std::vector<TBox> Boxes;
  QMessageBox::StandardButton Answer = QMessageBox::Ok;
  std::function<void()> WhileBoxOpen;  // what happens while a box waits for its answer
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
       "Audiodateien (*.wav *.flac *.aif *.aiff);;Wave-Dateien (*.wav)"},
      {TLanguage::English, "Add\nFiles", "Process\nFiles", "File", "Clicks/sec",
       "Audio files (*.wav *.flac *.aif *.aiff);;Wave-Files (*.wav)"},
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
    // The controls without a caption explain themselves.
    for (QWidget* w : {static_cast<QWidget*>(Form()->TrackBar2), static_cast<QWidget*>(Form()->CBWavDev),
                       static_cast<QWidget*>(Form()->Image1), static_cast<QWidget*>(Form()->RBDiff100),
                       static_cast<QWidget*>(Form()->RBDiff95)})
      EXPECT_FALSE(w->toolTip().isEmpty()) << w->objectName().toStdString();
  }
}

TEST_F(MainWindowTest, TextTableIsCompleteInBothLanguages) {
  for (int key = 0; key < txMainTextCount; ++key) {
    ASSERT_NE(MainTextPair(key).German, nullptr) << key;
    ASSERT_NE(MainTextPair(key).English, nullptr) << key;
    EXPECT_STRNE(MainTextPair(key).English, "") << key;
    EXPECT_STRNE(MainTextPair(key).German, "") << key;
  }
  for (int key = 0; key < wtWindowTextCount; ++key) {
    EXPECT_STRNE(WindowTextPair(key).German, "") << key;
    EXPECT_STRNE(WindowTextPair(key).English, "") << key;
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
  // The links point at something that exists: the README; the mail link has no address and is gone.
  Window->Label1Click();
  Window->MailLblClick();
  EXPECT_EQ(Opened, QStringList{QUrl::fromLocalFile(QString::fromStdString(Readme)).toString()});
  EXPECT_FALSE(Form()->MailLbl->isVisibleTo(Window.get()));
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

// Setting the row count to first + count would cut off entries added after a failed file; the
// failed row stands after them and is the one the next add overwrites.
TEST_F(MainWindowTest, EntriesBelowAFailedRowSurviveTheNextAdd) {
  MakeWindow();
  std::string bad = Dir + "/bad.wav";
  std::ofstream(bad) << "no wave";
  std::string a = MakeWav("a.wav", 0.3), c = MakeWav("c.wav", 0.3), d = MakeWav("d.wav", 0.3);
  Add({a, bad, c});
  Add({d});
  EXPECT_EQ(Grid()->Cell(0, 1), "a.wav");
  EXPECT_EQ(Grid()->Cell(0, 2), "c.wav");
  EXPECT_EQ(Grid()->Cell(0, 3), "d.wav");
  EXPECT_TRUE(Grid()->HasFullPath(3));
}

// A file that could not be added left a row without a file between the entries, and every run
// ended there: the fourth file stayed "waiting" without a word.
TEST_F(MainWindowTest, AFailedAddLeavesNoGapAndTheRunTakesEveryFile) {
  MakeWindow();
  std::string bad = Dir + "/text.wav";
  std::ofstream(bad) << "a text file with the name of a wave file";
  Add({MakeWav("1.wav", 0.3), MakeWav("2.wav", 0.3), bad, MakeWav("4.wav", 0.3)});
  ASSERT_EQ(Boxes.size(), 1u);
  for (int row = 1; row <= 3; ++row) EXPECT_TRUE(Grid()->HasFullPath(row)) << row;
  EXPECT_EQ(Grid()->Cell(0, 3), "4.wav");
  EXPECT_FALSE(Grid()->HasFullPath(4));
  EXPECT_FALSE(Grid()->Cell(1, 4).isEmpty());  // the reader's message
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  for (int row = 1; row <= 3; ++row) EXPECT_TRUE(RowIs(row, txStatusDone)) << row;
}

// Two rows of one run writing one output: the later one overwrote the earlier one's result, or an
// output overwrote another input of the run. The later row is refused before anything is written.
TEST_F(MainWindowTest, AnOutputClaimedEarlierInTheRunIsRefused) {
  MakeWindow();
  for (const char* sub : {"/one", "/two", "/out"}) std::filesystem::create_directory(Dir + sub);
  const std::string x1 = Dir + "/one/x.wav", x2 = Dir + "/two/x.wav", a = MakeWav("a.wav", 0.3);
  std::filesystem::copy_file(a, x1);
  std::filesystem::copy_file(a, x2);
  const std::string original = test::ReadFileBytes(x2);
  const QString taken = QString::fromStdString(StatusText(TFileStatus::OutputTaken));
  struct {
    const char* name;
    std::vector<std::string> files;
    const char* suffix;
    std::string outDir;
    bool firstDone;
  } cases[] = {
      {"the same file twice", {a, a, x1}, " #kw2", "", true},
      {"one name from two folders", {x1, x2, a}, " #kw2", Dir + "/out", true},
      // The first output would be the second input; the second input's output is itself, which
      // the create refuses.
      {"an output that is another input", {x1, x2, a}, "", Dir + "/two", false},
  };
  for (const auto& c : cases) {
    Grid()->setRangeSelected(QTableWidgetSelectionRange(0, 0, Grid()->RowCount() - 2, 6), true);
    Window->DelBtnClick();
    Add(c.files);
    Form()->SuffixEdit->setText(c.suffix);
    Form()->OutDirEdit->setText(QString::fromStdString(c.outDir));
    Window->RunBtnClick();
    test::WaitWhileRunning(*Window);
    const int refusedRow = c.firstDone ? 2 : 1;
    EXPECT_EQ(Grid()->Cell(1, refusedRow), taken) << c.name;
    EXPECT_EQ(RowIs(1, txStatusDone), c.firstDone) << c.name;
    EXPECT_FALSE(RowIs(2, txStatusDone)) << c.name;
    for (int col = 4; col <= 6; ++col) EXPECT_EQ(Grid()->Cell(col, refusedRow), "") << c.name;
    EXPECT_TRUE(RowIs(3, txStatusDone)) << c.name;  // the run goes on
    EXPECT_EQ(test::ReadFileBytes(x2), original) << c.name;
  }
}

// A folder added to the list stood as one row saying "Open error". It stands for the WAV files in it
// and its subfolders, without earlier outputs; a file that cannot be added keeps its name.
TEST_F(MainWindowTest, AFolderAddsItsWavFilesAndAFailedFileKeepsItsName) {
  MakeWindow();
  std::filesystem::create_directories(Dir + "/side/sub");
  for (const char* name : {"side/b.wav", "side/a.wav", "side/a #kw2.wav", "side/sub/c.wav"})
    MakeWav(name, 0.2);
  std::ofstream(Dir + "/side/text.wav") << "no wave";
  Window->AddFileArguments({QString::fromStdString(Dir + "/side")});
  const QStringList expected{"a.wav", "b.wav", "c.wav", "text.wav"};
  for (int row = 1; row <= 4; ++row) {
    EXPECT_EQ(Grid()->Cell(0, row), expected[row - 1]) << row;
    EXPECT_EQ(Grid()->HasFullPath(row), row < 4) << row;
  }
  EXPECT_EQ(Status(4), "No Wav file");
  // Hovering over a file shows its full path.
  const QRect cell = Grid()->visualItemRect(Grid()->item(2, 0));
  QHelpEvent hover(QEvent::ToolTip, cell.center(), Grid()->viewport()->mapToGlobal(cell.center()));
  QApplication::sendEvent(Grid()->viewport(), &hover);
  EXPECT_EQ(QToolTip::text(), QString::fromStdString(Dir + "/side/sub/c.wav"));
}

// A row's status ends as the command line's does: the system's reason after a failure, a note on a
// file that is done but shorter than its header.
TEST_F(MainWindowTest, StatusCarriesTheSystemsReasonAndTheWarning) {
  MakeWindow();
  const std::string blocked = MakeWav("blocked.wav", 0.3), cut = MakeWav("cut.wav", 2.0);
  std::filesystem::create_directory(Dir + "/blocked #kw2.wav");
  std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
  Add({blocked, cut});
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  EXPECT_EQ(Status(1), "Create error: Is a directory");
  EXPECT_EQ(Status(2), "done (file shorter than its header)");
}

// After a stop, rows the run never reached kept "done" from an earlier run. They say "not started";
// the next run takes only the rows not done, and once all are done (or a batch went through the
// whole list), all of them again. The bar
// says where the batch stands, then sums it up.
TEST_F(MainWindowTest, AStoppedBatchMarksWhatItNeverReachedAndTheNextGoesOn) {
  MakeWindow();
  Add({MakeWav("1.wav", 0.3), MakeWav("2.wav", 2.5), MakeWav("3.wav", 0.3)});
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  EXPECT_TRUE(Form()->ProgressBar1->text().startsWith("3 done, 0 failed, 0 not started"))
      << Form()->ProgressBar1->text().toStdString();
  Answer = QMessageBox::Yes;
  QString place;
  DuringRun([this] { return RowIs(2, txStatusRunning); },
            [&] {
              place = Form()->ProgressBar1->text();
              Window->RunBtnClick();
            });
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  EXPECT_TRUE(place.startsWith("file 2 of 3")) << place.toStdString();
  EXPECT_TRUE(RowIs(2, txStatusCancelled));
  EXPECT_EQ(Status(3), Status(TFileStatus::NotStarted));
  EXPECT_EQ(Grid()->Cell(4, 3), "");
  EXPECT_TRUE(Form()->ProgressBar1->text().startsWith("1 done, 1 failed, 1 not started"));
  std::filesystem::remove(Dir + "/1 #kw2.wav");
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  EXPECT_FALSE(test::FileExists(Dir + "/1 #kw2.wav")) << "a done row ran again";
  EXPECT_TRUE(RowIs(2, txStatusDone) && RowIs(3, txStatusDone));
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  EXPECT_TRUE(test::FileExists(Dir + "/1 #kw2.wav"));
  // A row that fails on its own does not stop the batch; it must not keep the others from the next.
  const std::string blocked = MakeWav("blocked.wav", 0.2);
  std::filesystem::create_directory(Dir + "/blocked #kw2.wav");
  Add({blocked});
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  std::filesystem::remove(Dir + "/1 #kw2.wav");
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  EXPECT_TRUE(test::FileExists(Dir + "/1 #kw2.wav")) << "a failed row kept the done ones from running";
}

// The context menu opens the row's output folder in the file manager.
TEST_F(MainWindowTest, ContextMenuOpensTheOutputFolder) {
  MakeWindow();
  std::filesystem::create_directory(Dir + "/out");
  Add({MakeWav("a.wav", 0.2)});
  Form()->OutDirEdit->setText(QString::fromStdString(Dir + "/out"));
  const QPoint onRow = Grid()->visualItemRect(Grid()->item(0, 1)).center();
  emit Grid()->customContextMenuRequested(onRow);
  QMenu* menu = Window->findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  menu->actions().last()->trigger();
  menu->hide();
  EXPECT_EQ(Opened, QStringList{QUrl::fromLocalFile(QString::fromStdString(Dir + "/out")).toString()});
}

TEST_F(MainWindowTest, ANamedOutputFolderThatDoesNotExistStopsTheRunBeforeItStarts) {
  MakeWindow();
  Add({MakeWav("a.wav", 0.2)});
  const QString missing = QString::fromStdString(Dir + "/missing");
  Form()->OutDirEdit->setText(missing);
  Window->RunBtnClick();
  test::WaitWhileRunning(*Window);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Caption, "Error");
  EXPECT_EQ(Boxes[0].Text, "The output directory \"" + missing + "\" does not exist.");
  EXPECT_TRUE(RowIs(1, txStatusWaiting));
  EXPECT_FALSE(test::FileExists(Dir + "/a #kw2.wav"));
}

// Files named on the command line, as a path or as a file URL, come in as an add brings them.
TEST_F(MainWindowTest, FileArgumentsAreAddedLikeChosenFiles) {
  MakeWindow();
  std::string bad = Dir + "/bad.wav";
  std::ofstream(bad) << "no wave";
  const std::string a = MakeWav("a b.wav", 0.2), b = MakeWav("c.wav", 0.2);
  Window->AddFileArguments({QString::fromStdString(a),
                            QUrl::fromLocalFile(QString::fromStdString(b)).toString(),
                            QString::fromStdString(bad)});
  EXPECT_EQ(*Grid()->Objects(1).FullPath, QString::fromStdString(a));
  EXPECT_EQ(*Grid()->Objects(2).FullPath, QString::fromStdString(b));
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Caption, "Error on opening");
}

// The keys act through the list's buttons: when a button is disabled its key does nothing.
TEST_F(MainWindowTest, DeleteAndCtrlOFollowTheirButtons) {
  MakeWindow();
  Window->show();
  Window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
  const std::string a = MakeWav("a.wav", 0.2);
  struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QPushButton* button;
    bool enabled;
    int rowsAfter;  // entries after the key
  } cases[] = {
      {Qt::Key_O, Qt::ControlModifier, Form()->AddBtn, true, 2},
      {Qt::Key_O, Qt::ControlModifier, Form()->AddBtn, false, 1},
      {Qt::Key_Delete, Qt::NoModifier, Form()->DelBtn, true, 0},
      {Qt::Key_Delete, Qt::NoModifier, Form()->DelBtn, false, 1},
  };
  for (const auto& c : cases) {
    Grid()->setRangeSelected(QTableWidgetSelectionRange(0, 0, Grid()->RowCount() - 2, 6), true);
    Window->DelBtnClick();
    Add({a});
    Grid()->setFocus();
    Grid()->SelectRow(1);
    NextFiles = {QString::fromStdString(a)};
    c.button->setEnabled(c.enabled);
    QTest::keyClick(Grid(), c.key, c.modifiers);
    c.button->setEnabled(true);
    int entries = 0;
    while (Grid()->HasFullPath(entries + 1)) ++entries;
    EXPECT_EQ(entries, c.rowsAfter) << c.key << " enabled " << c.enabled;
  }
}

// The default widths must show every title whole in both languages ("Clicks/sec" was cut), and
// stay as designed where the titles fit.
TEST_F(MainWindowTest, DefaultColumnWidthsShowEveryTitleWhole) {
  const int designed[7] = {115, 135, 88, 70, 54, 58, 63};
  MakeWindow();
  const QHeaderView* header = Grid()->horizontalHeader();
  const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  for (int c = 0; c < 7; ++c) {
    int needed = 0;
    for (const char* title : {MainTextPair(txColFile + c).German, MainTextPair(txColFile + c).English}) {
      const int width = header->fontMetrics().horizontalAdvance(QString::fromUtf8(title)) + margins;
      EXPECT_GE(Grid()->ColWidth(c), width) << title;
      needed = std::max(needed, width);
    }
    if (designed[c] >= needed) {
      EXPECT_EQ(Grid()->ColWidth(c), designed[c]) << c;
    }
  }
}

// The add dialog and the folder picker open where one of them was used last, also after a restart.
TEST_F(MainWindowTest, DialogsOpenInTheFolderUsedLast) {
  MakeWindow();
  const QString in = QString::fromStdString(Dir + "/in"), out = QString::fromStdString(Dir + "/out");
  std::filesystem::create_directory(Dir + "/in");
  std::filesystem::create_directory(Dir + "/out");
  Add({});
  EXPECT_EQ(SeenStart, "");
  Add({MakeWav("in/a.wav", 0.2)});
  Add({});
  EXPECT_EQ(SeenStart, in);
  Window->DirBtnClick();  // no output folder set: the picker starts where the files came from
  EXPECT_EQ(FolderStart, in);
  FolderAnswer = out;
  Window->DirBtnClick();
  Window->close();
  Window.reset();
  MakeWindow();
  Add({});
  EXPECT_EQ(SeenStart, out);
}

TEST_F(MainWindowTest, DeleteSkipsTheRunningRowAndNeverGoesBelowFiveRows) {
  MakeWindow();
  std::vector<std::string> files;
  for (const char* n : {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"}) files.push_back(MakeWav(n, 0.2));
  Add(files);
  ASSERT_EQ(Grid()->RowCount(), 6);
  Grid()->Objects(3).Road = 1;
  Grid()->SelectRow(2);
  Grid()->setRangeSelected(QTableWidgetSelectionRange(1, 0, 3, 6), true);
  Window->DelBtnClick();
  EXPECT_EQ(Grid()->Cell(0, 1), "1.wav");
  EXPECT_EQ(Grid()->Cell(0, 2), "3.wav");
  EXPECT_EQ(Grid()->Cell(0, 3), "5.wav");
  EXPECT_FALSE(Grid()->HasFullPath(4));
  EXPECT_EQ(Grid()->RowCount(), 5);

  Grid()->Objects(2).Road = 0;
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
  test::WaitWhileRunning(*Window);
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
  test::WaitWhileRunning(*Window);
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
    const std::string earlier = test::ReadFileBytes(Dir + "/c #kw2.wav");  // of the pass before, if any
    Add({a, b});
    DuringRun([this] { return RowIs(1, txStatusRunning); },
              [this] {
                EXPECT_EQ(Form()->RunBtn->text(), "Cancel\nprocessing");
                EXPECT_FALSE(Form()->SuffixEdit->isEnabled());
                Window->RunBtnClick();
              });
    Window->RunBtnClick();
    test::WaitWhileRunning(*Window);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, "Cancel");
    EXPECT_EQ(Boxes[0].Text, "Do you really want to cancel ?");
    EXPECT_FALSE(Window->IsRunning());
    EXPECT_TRUE(Form()->SuffixEdit->isEnabled());
    if (answer == QMessageBox::Yes) {
      EXPECT_TRUE(RowIs(1, txStatusCancelled));
      // No further file starts, and the row says so.
      EXPECT_EQ(Grid()->Cell(1, 2), QString::fromStdString(StatusText(TFileStatus::NotStarted)));
      // A cancelled pass leaves the earlier output as it was.
      EXPECT_FALSE(earlier.empty());
      EXPECT_EQ(test::ReadFileBytes(Dir + "/c #kw2.wav"), earlier);
      EXPECT_FALSE(test::OutputInProgress(Dir));
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
    const std::string earlier = test::ReadFileBytes(Dir + "/e #kw2.wav");  // of the pass before, if any
    bool visibleAfterClose = false;
    DuringRun([this] { return RowIs(1, txStatusRunning); },
              [&] {
                Window->close();
                visibleAfterClose = Window->isVisible();
                EXPECT_TRUE(test::FileExists(SettingsPath));  // saved whatever the answer
              });
    Window->RunBtnClick();
    test::WaitWhileRunning(*Window);
    EXPECT_TRUE(visibleAfterClose);
    ASSERT_GE(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Do you really want to cancel ?");
    if (answer == QMessageBox::Yes) {
      EXPECT_TRUE(RowIs(1, txStatusCancelled));
      EXPECT_FALSE(Window->isVisible());
      // Closed during a second pass: the first pass's output stays as it was.
      EXPECT_FALSE(earlier.empty());
      EXPECT_EQ(test::ReadFileBytes(Dir + "/e #kw2.wav"), earlier);
      EXPECT_FALSE(test::OutputInProgress(Dir));
    } else {
      EXPECT_TRUE(RowIs(1, txStatusDone));
      EXPECT_TRUE(Window->isVisible());
    }
    Window.reset();
  }
}

// The close was confirmed after the last file had ended, before the window heard of it, or while the
// question was open: the run ended as done and the window stayed open, to close at a later cancel.
TEST_F(MainWindowTest, ACloseConfirmedAsTheLastFileEndsStillClosesTheWindow) {
  MakeWindow();
  Window->show();
  Answer = QMessageBox::Yes;
  Add({MakeWav("f.wav", 0.3)});
  std::atomic<bool> ended{false};
  QObject::connect(Window->RoadWorker(), &TRoadWorker::RoadEnded,
                   [&ended](const TFileResult&) { ended = true; });
  Window->RunBtnClick();
  // The window's thread is held, so the road's end waits in its queue.
  for (int ms = 0; !ended && ms < 60000; ms += 5) QThread::msleep(5);
  Window->close();
  test::WaitWhileRunning(*Window);
  EXPECT_TRUE(RowIs(1, txStatusDone));
  EXPECT_FALSE(Window->isVisible());
  // The run ends while the question is open: nothing is left to close the window afterwards.
  Window->show();
  WhileBoxOpen = [this] { test::WaitWhileRunning(*Window); };
  Window->RunBtnClick();
  Window->close();
  EXPECT_TRUE(RowIs(1, txStatusDone));
  EXPECT_FALSE(Window->isVisible());
}

// Rows removed above the running row: its later cells must land in the row, wherever it stands now.
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
  test::WaitWhileRunning(*Window);
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
  for (const std::string& key :
       {std::string("Suffix=\" lead\""), std::string("Path=\"\""), std::string("FName=115"),
        std::string("Status=135"), std::string("Format=99"), std::string("Length=70"),
        std::string("Clicks=54"), "Dens=" + std::to_string(Grid()->ColWidth(5)), std::string("ETA=63"),
        std::string("Height=600")})
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
// put infinities or NaNs into the extract chart. The repaired span lands at its place in the region.
TEST_F(MainWindowTest, ExtractWithAFlatTraceIsDrawnAlongTheSamplesMinimum) {
  MakeWindow();
  TClickExtract extract;
  for (int i = 0; i < 101; ++i) extract.Before.push_back(static_cast<float>((i * 37) % 101 - 50));
  extract.Trace.assign(101, 0.0f);
  extract.RepairOffset = 40;
  extract.Repaired = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  Window->DrawClickExtract(extract);
  TGrCntrl* chart = Form()->ZoomGrCntrl;
  ASSERT_EQ(chart->CurvePointCount(1), 101);
  ASSERT_EQ(chart->CurvePointCount(0), 101);
  ASSERT_EQ(chart->CurvePointCount(2), 5);
  for (int i = 0; i < 101; ++i) {
    EXPECT_EQ(chart->CurveYValues(1)[i], extract.Before[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(chart->CurveYValues(0)[i], -50.0f) << i;
  }
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(chart->CurveXValues(2)[i], 40.0f + static_cast<float>(i));
    EXPECT_EQ(chart->CurveYValues(2)[i], extract.Repaired[static_cast<size_t>(i)]);
  }
  EXPECT_TRUE(std::isfinite(chart->DispYMin()) && std::isfinite(chart->DispYMax()));
}

// A run through the window asks the parallel road for clicks and draws what it delivers: a region
// with its trace over the same range, and the repaired span inside it. The road's thread is held
// past the half second before its first block, so that the request comes while blocks remain,
// however fast they go; meanwhile the window's thread goes on.
TEST_F(MainWindowTest, RunDrawsAClickExtractFromTheParallelRoad) {
  MakeWindow();
  Add({MakeWav("long.wav", 9.0, 21)});
  std::atomic<bool> held{false};
  QObject::connect(Window->RoadWorker(), &TRoadWorker::Progress, [&held](quint32) {
    if (!held.exchange(true)) QThread::msleep(600);
  });
  Window->RunBtnClick();
  EXPECT_TRUE(Window->IsRunning());  // the click returns while the file is processed
  test::WaitWhileRunning(*Window);
  ASSERT_TRUE(RowIs(1, txStatusDone));
  const TGrCntrl* chart = Form()->ZoomGrCntrl;
  const int n = chart->CurvePointCount(1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(chart->CurvePointCount(0), n);
  ASSERT_GE(chart->CurvePointCount(2), 4);
  const auto [low, high] = std::minmax_element(chart->CurveYValues(1), chart->CurveYValues(1) + n);
  for (int i = 0; i < n; ++i) {
    EXPECT_GE(chart->CurveYValues(0)[i], *low - 0.5f);
    EXPECT_LE(chart->CurveYValues(0)[i], *high + 0.5f);
  }
  for (int i = 0; i < chart->CurvePointCount(2); ++i) {
    EXPECT_GE(chart->CurveXValues(2)[i], 0.0f);
    EXPECT_LT(chart->CurveXValues(2)[i], static_cast<float>(n));
  }
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

  test::TSignal signal = test::MakeMusic(30.0, 44100, 2, 20261208);
  test::AddClicks(signal, 75, 3, 100, 44100 / 5, 77);
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
  test::WaitWhileRunning(*Window);
  EXPECT_TRUE(saved);
  EXPECT_TRUE(RowIs(1, txStatusDone));
}

}  // namespace
}  // namespace klarwell
