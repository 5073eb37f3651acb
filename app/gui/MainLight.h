#pragma once

#include <QMessageBox>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/BatchClock.h"
#include "app/BatchDriver.h"
#include "app/Settings.h"
#include "playback/WaveOutPlayer.h"

namespace Ui {
class TMainFrm;
}

class QMenu;
class QTimer;

namespace klarwell {

class TMyGrid;
class TPlaybackController;
class TRoadWorker;

// The dialogs the window shows, replaceable so that tests can answer them. Empty members use the
// real dialogs.
struct TMainSeams {
  // The add-file dialog: several existing files, opening in `startDir` (empty: the dialog's own
  // choice); returns the chosen paths (empty when cancelled).
  std::function<QStringList(QWidget* parent, const QString& filter, const QString& startDir)>
      GetOpenFileNames;
  // A message box; returns the button pressed.
  std::function<QMessageBox::StandardButton(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                            const QString& text, QMessageBox::StandardButtons buttons)>
      MessageBox;
  // The folder dialog behind DirBtn: returns the chosen folder or an empty text.
  std::function<QString(QWidget* parent, const QString& title, const QString& startDir)> GetExistingDirectory;
  // Opening a link label's address, and a folder in the desktop's file manager.
  std::function<void(const QString& address)> OpenUrl;
  // The README the link label opens; empty: the one installed with the program, if any.
  QString ReadmePath;
  // The audio output of the player; null for the platform's.
  std::unique_ptr<TWaveOutDevice> WaveOutDevice;
};

// The main window: the two charts, the progress bar, the file list, the player panel, the
// buttons and output settings below it, and the hidden help view.
//
// Everything runs on the UI thread but a file's road, which goes on a thread of its own (TRoadWorker)
// and reports through queued signals; the road and its block workers touch only ExtractRequest and
// CancelRequested, both atomic. RunBtnClick starts a batch and returns; IsRunning says when it is over.
class TMainFrm : public QWidget {
  Q_OBJECT

 public:
  // Builds the window from its form and runs FormCreate. `settingsPath` is the settings file (see
  // SettingsFilePath).
  TMainFrm(std::string settingsPath, TMainSeams seams = {}, QWidget* parent = nullptr);
  ~TMainFrm() override;

  // Handlers, connected explicitly to their controls.
  void FormCreate();
  // Runs on every attempt to close; false refuses the close (a run is active).
  bool FormCloseQuery();
  void Label1Click();
  void MailLblClick();
  void Image1Click();
  void AddBtnClick();
  void DelBtnClick();
  void SortGridClick();
  void MyGrid1Click();
  void RunBtnClick();
  void DirBtnClick();
  // The list's context menu: shows the output folder of the row it was opened on.
  void OpenOutputFolderClick();

  // Adds files to the list as the add-file dialog does (also for files dropped onto the list).
  void AddFiles(const QStringList& paths);
  // Adds the files named on the command line (the program's name left out): paths, or file URLs
  // as some launchers hand them over.
  void AddFileArguments(const QStringList& arguments);

  // The help text as rich text, in the current language.
  static QString BuildHelpText();

  // Batch driver services.
  bool AskCancel();
  void EnterRunningState();
  void LeaveRunningState();
  void SelectRow(int row);
  void StoreRowStatistics(int row);
  void ShowRowStatistics(int row);
  void FreeRowStatistics(int row);
  bool IsRunning() const { return Running; }

  // Settings as the controls hold them now, and applying them.
  TSettingsValues CurrentSettings() const;
  TOutputSettings CurrentOutputSettings() const;
  void LoadSettings();
  bool SaveSettings();

  // The click extract (see the .cpp), UI thread: CheckTick asks the driver for a click now and
  // then, DrawClickExtract draws the click it delivers, PlotClickRegion the region before repair.
  void CheckTick();
  void DrawClickExtract(const TClickExtract& extract);
  void PlotClickRegion(const TClickExtract& extract);

  // Called whenever the rows change; the player uses it to offer the processed play modes.
  void UpdatePlayModes();

  TMyGrid* Grid() const;
  TPlaybackController* PlaybackController() const { return Player.get(); }
  // Takes the batch's files along their roads; its signals come on the road's thread.
  TRoadWorker* RoadWorker() const { return Road.get(); }
  Ui::TMainFrm* Form() const { return UiForm.get(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class TPlayerHost;
  struct TAnchored {
    QWidget* Widget;
    QRect Designed;
  };

  QMessageBox::StandardButton ShowMessage(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                          QMessageBox::StandardButtons buttons);
  void ConnectHandlers();
  // The parts of the window's assembly: what stays put when the height changes, the list, the
  // charts and the player panel.
  void SetUpAnchors();
  void SetUpList();
  void SetUpCharts();
  void SetUpPlayer();
  void SetUpRun();
  void SetUpLinks();
  void ShowContextMenu(const QPoint& pos);
  void OpenAddress(const QString& address);
  void SetCaptions();
  void LayoutForHeight(int height);
  // The Status cell of `row` and the kind the row keeps of it.
  void ShowStatus(int row, TFileStatus status, const std::string& message = {});
  void PlanRows(int fromRow, const std::vector<std::string>& reached, const TOutputSettings& settings);
  // The run's pieces: the output settings checked (with the message when not usable), the batch
  // started, the next row's road started (or the batch ended when no row is left), a road's end
  // taken into its row, where the batch stands, and its end with the summary (`stoppedAfterRow` > 0:
  // the run stopped there, and the rows after it were never reached).
  bool OutputSettingsChecked(const TOutputSettings& settings);
  bool RowInBatch(int row) const;
  void StartBatch(const TOutputSettings& settings);
  void StartNextRoad();
  void StartRoad(int row, const std::string& path);
  void RoadEnded(const TFileResult& result);
  void ShowBatchPlace();
  void EndBatch(int stoppedAfterRow);
  // What the road reports, turned into its row's cells, the progress bar and the charts.
  void ConnectRoad();
  int RoadRow() const;  // the row of the road going; 0 when none
  void SetRoadCell(int column, const std::string& text);
  void RoadProgress(uint32_t frames);
  void RoadDensityReset();
  void RoadBlockCounted(float minutes, float clicksPerSecond, qint64 total);
  // Folders among `paths` replaced by the WAV files found in them and their subfolders.
  QStringList ExpandFolders(const QStringList& paths);
  void RememberFolder(const QString& folder);
  char DecimalPoint() const;

  std::unique_ptr<Ui::TMainFrm> UiForm;
  TMainSeams Seams;
  std::string SettingsPath;
  std::unique_ptr<TPlayerHost> PlayerHost;
  std::unique_ptr<TPlaybackController> Player;
  QMenu* PopupMenu1 = nullptr;
  QAction* OpenOutputFolderAction = nullptr;
  int ContextRow = 0;  // the data row the context menu was opened on
  QString OpenDialogFilter;
  std::vector<TAnchored> BottomAnchored;
  QString LastFolder;  // where the add dialog and the folder picker last were used

  // Driver state.
  bool Running = false;
  std::atomic<bool> CancelRequested{false};
  bool CloseAfterCancel = false;
  std::unique_ptr<TRoadWorker> Road;
  uint64_t LastRoad = 0;                    // the number of the last road started
  QTimer* ExtractTimer = nullptr;           // paces CheckTick while a batch runs
  uint64_t LastTick = 0;                    // when a click was last asked for or drawn
  std::atomic<bool> ExtractRequest{false};  // read and cleared by the block workers
  bool ExtractAwaited = false;              // asked for and not drawn yet

  // The batch a run takes: which rows, where it stands and what it has done so far.
  struct TBatch {
    bool RunAll = false;  // every row was done at the start: all of them run again
    int Number = 0;       // 1-based number of the file on its road
    int Done = 0, Failed = 0, NotStarted = 0;
    int64_t Clicks = 0;
    uint64_t Start = 0;  // tick count at the start
    TBatchClock Clock;
    TOutputSettings Settings;          // as they were at the start
    std::vector<std::string> Reached;  // the inputs the batch has come to, in order
    int NextRow = 1;                   // where the search for the next road's row begins
    uint64_t Road = 0;                 // the road going, 0 between roads
    int ProgressShift = 0;             // the bar counts frames >> this, to stay within int
  };
  TBatch Batch;
  // The last batch stopped before it reached every row (a cancel, or a failure that ends the run):
  // the next one goes on with the rows not done. After a batch that reached every row, the next
  // runs them all again, so a row that cannot succeed (its output is another row's) never keeps the
  // others from running.
  bool LastBatchStopped = false;
};

}  // namespace klarwell
