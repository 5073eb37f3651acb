// The batch run from the window: RunBtnClick starts a batch that walks the list one road at a time,
// each road on a thread of its own; what the road reports is turned into the row's cells, the
// progress bar and the charts; and the running state and the cancel question.

#include <QLocale>
#include <QProgressBar>
#include <QTimer>
#include <climits>
#include <string>
#include <vector>

#include "app/BatchDriver.h"
#include "app/OutputPlan.h"
#include "app/ParallelDriver.h"
#include "app/RunTexts.h"
#include "app/gui/MainLight.h"
#include "app/gui/MainLightDetail.h"
#include "app/gui/MainTexts.h"
#include "app/gui/MyGrid.h"
#include "app/gui/RoadWorker.h"
#include "chart/Graphic.h"
#include "ui_MainLight.h"

namespace klarwell {

using window_detail::TickCount;
using window_detail::ToPath;
using window_detail::TwoLineCaption;

void TMainFrm::SetUpRun() {
  Road = std::make_unique<TRoadWorker>();
  ConnectRoad();
  // The road never waits for the window, so the window asks for a click extract on its own beat.
  ExtractTimer = new QTimer(this);
  ExtractTimer->setInterval(50);
  connect(ExtractTimer, &QTimer::timeout, this, &TMainFrm::CheckTick);
}

// The road's reports arrive as queued events on this thread, in the driver's order and each road's
// before its end, so a report always belongs to the road Batch.Road names; its row is wherever that
// road's number stands now, since rows may be removed, sorted or closed up meanwhile.
void TMainFrm::ConnectRoad() {
  constexpr Qt::ConnectionType queued = Qt::QueuedConnection;
  TRoadWorker* road = Road.get();
  connect(
      road, &TRoadWorker::Status, this,
      [this](TFileStatus status, const std::string& message) {
        // The road's end is taken whole, with the row's curve, when the road has ended.
        if (status > TFileStatus::Running) return;
        if (const int row = RoadRow(); row > 0) ShowStatus(row, status, message);
      },
      queued);
  connect(
      road, &TRoadWorker::FiguresReset, this,
      [this] {
        for (int column : {colClicksPerSec, colClicks, colTime}) SetRoadCell(column, std::string());
      },
      queued);
  auto figures = [this](double clicksPerSecond, double seconds) {
    SetRoadCell(colTime, FormatSeconds(seconds));
    SetRoadCell(colClicksPerSec, FormatClicksPerSec(clicksPerSecond, DecimalPoint()));
  };
  connect(road, &TRoadWorker::Estimate, this, figures, queued);
  connect(road, &TRoadWorker::Finished, this, figures, queued);
  connect(
      road, &TRoadWorker::ProgressMax, this,
      [this](quint32 frames) {
        // The bar counts in int: very long files are counted in coarser units.
        Batch.ProgressShift = 0;
        while ((frames >> Batch.ProgressShift) > static_cast<uint32_t>(INT_MAX)) ++Batch.ProgressShift;
        UiForm->ProgressBar1->setMaximum(static_cast<int>(frames >> Batch.ProgressShift));
      },
      queued);
  connect(road, &TRoadWorker::Progress, this, &TMainFrm::RoadProgress, queued);
  connect(
      road, &TRoadWorker::OutputCreated, this, [this] { UpdatePlayModes(); }, queued);
  connect(road, &TRoadWorker::DensityReset, this, &TMainFrm::RoadDensityReset, queued);
  connect(road, &TRoadWorker::BlockCounted, this, &TMainFrm::RoadBlockCounted, queued);
  connect(road, &TRoadWorker::ClickExtract, this, &TMainFrm::DrawClickExtract, queued);
  connect(road, &TRoadWorker::RoadEnded, this, &TMainFrm::RoadEnded, queued);
}

int TMainFrm::RoadRow() const {
  return Grid()->RowOfRoad(Batch.Road);
}

void TMainFrm::SetRoadCell(int column, const std::string& text) {
  if (const int row = RoadRow(); row > 0) Grid()->SetCell(column, row, QString::fromStdString(text));
}

void TMainFrm::RoadProgress(uint32_t frames) {
  QProgressBar* bar = UiForm->ProgressBar1;
  bar->setValue(static_cast<int>(frames >> Batch.ProgressShift));
  if (bar->maximum() > 0) Batch.Clock.FileProgress(Batch.Number - 1, double(bar->value()) / bar->maximum());
  ShowBatchPlace();
}

void TMainFrm::RoadDensityReset() {
  TGrCntrl* chart = UiForm->StatGrCntrl;
  chart->ClearCurves();
  chart->SetCurveColor(0, Qt::blue);
  chart->Invalidate();
}

void TMainFrm::RoadBlockCounted(float minutes, float clicksPerSecond, qint64 total) {
  TGrCntrl* chart = UiForm->StatGrCntrl;
  chart->AddPoint(0, minutes, clicksPerSecond);
  chart->FitToData();
  chart->Invalidate();
  SetRoadCell(colClicks, std::to_string(total));
}

char TMainFrm::DecimalPoint() const {
  QString point = QLocale().decimalPoint();
  return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode()) : '.';
}

void TMainFrm::ShowStatus(int row, TFileStatus status, const std::string& message) {
  Grid()->SetCell(colStatus, row, QString::fromStdString(StatusText(status, message)));
  Grid()->Objects(row).Status = status;
}

bool TMainFrm::AskCancel() {
  if (ShowMessage(QMessageBox::Question, MainText(txCancelCaption), MainText(txCancelQuestion),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) != QMessageBox::Yes)
    return false;
  CancelRequested = true;
  return true;
}

void TMainFrm::EnterRunningState() {
  Running = true;
  UiForm->SuffixEdit->setEnabled(false);
  UiForm->OutDirEdit->setEnabled(false);
  UiForm->DirBtn->setEnabled(false);
  UiForm->RefineCheck->setEnabled(false);
  UiForm->RunBtn->setText(TwoLineCaption(MainText(txRunBtnRunning)));
  ExtractTimer->start();
}

void TMainFrm::LeaveRunningState() {
  UiForm->SuffixEdit->setEnabled(true);
  UiForm->OutDirEdit->setEnabled(true);
  UiForm->DirBtn->setEnabled(true);
  UiForm->RefineCheck->setEnabled(true);
  Grid()->setEnabled(true);
  UiForm->RunBtn->setText(TwoLineCaption(MainText(txRunBtnIdle)));
  ExtractTimer->stop();
  Running = false;
}

void TMainFrm::SelectRow(int row) {
  Grid()->SelectRow(row);
}

bool TMainFrm::OutputSettingsChecked(const TOutputSettings& settings) {
  if (!OutputSettingsUsable(settings)) {
    ShowMessage(QMessageBox::Warning, MainText(txErrorCaption), MainText(txMissingOutput), QMessageBox::Ok);
    return false;
  }
  // A folder that is named but not there would send every output beside its input without a word.
  const QString outDir = UiForm->OutDirEdit->text();
  if (!outDir.isEmpty() && !DirectoryExists(settings.OutDir)) {
    ShowMessage(QMessageBox::Warning, MainText(txErrorCaption), WindowText(wtOutDirMissing).arg(outDir),
                QMessageBox::Ok);
    return false;
  }
  return true;
}

bool TMainFrm::RowInBatch(int row) const {
  return Grid()->HasFullPath(row) && (Batch.RunAll || Grid()->Objects(row).Status != TFileStatus::Done);
}

void TMainFrm::StartBatch(const TOutputSettings& settings) {
  // Going on after a stop: only the rows not done yet; once every row is done, all of them again.
  TMyGrid* grid = Grid();
  Batch = TBatch{};
  Batch.RunAll = true;
  for (int r = 1; LastBatchStopped && r < grid->RowCount(); ++r)
    if (grid->HasFullPath(r) && grid->Objects(r).Status != TFileStatus::Done) Batch.RunAll = false;
  std::vector<std::string> paths;
  for (int r = 1; r < grid->RowCount(); ++r)
    if (RowInBatch(r)) paths.push_back(ToPath(*grid->Objects(r).FullPath));
  Batch.Clock.Start(paths);
  Batch.Start = TickCount();
  Batch.Settings = settings;
  UiForm->ProgressBar1->setTextVisible(true);
}

void TMainFrm::ShowBatchPlace() {
  // The count follows the list: rows added or removed during the run change it.
  int left = 0;
  if (const int running = RoadRow(); running > 0)
    for (int r = running + 1; r < Grid()->RowCount(); ++r)
      if (RowInBatch(r)) ++left;
  const QString number = QString::number(Batch.Number), count = QString::number(Batch.Number + left);
  const double seconds = Batch.Clock.RemainingSeconds();
  UiForm->ProgressBar1->setFormat(
      seconds < 0
          ? WindowText(wtBatchPlaceNoTime).arg(number, count)
          : WindowText(wtBatchPlace).arg(number, count, QString::fromStdString(FormatSeconds(seconds))));
}

void TMainFrm::EndBatch(int stoppedAfterRow) {
  // Rows the stopped run never reached keep nothing of an earlier run: their figures are not this run's.
  TMyGrid* grid = Grid();
  LastBatchStopped = stoppedAfterRow > 0;
  for (int r = stoppedAfterRow + 1; stoppedAfterRow > 0 && r < grid->RowCount(); ++r) {
    if (!RowInBatch(r)) continue;
    ShowStatus(r, TFileStatus::NotStarted);
    for (int c = colClicks; c <= colTime; ++c) grid->SetCell(c, r, QString());
    FreeRowStatistics(r);
    ++Batch.NotStarted;
  }
  QProgressBar* bar = UiForm->ProgressBar1;
  bar->setValue(bar->maximum());
  const double seconds = (TickCount() - Batch.Start) / 1000.0;
  bar->setFormat(WindowText(wtBatchSummary)
                     .arg(Batch.Done)
                     .arg(Batch.Failed)
                     .arg(Batch.NotStarted)
                     .arg(Batch.Clicks)
                     .arg(QString::fromStdString(FormatSeconds(seconds))));
  LeaveRunningState();
  // A deleted output must no longer be offered by the player.
  UpdatePlayModes();
  // A close confirmed during the run waits for its end, however it ended: the cancel may have come
  // after the last file was already done.
  if (CloseAfterCancel) {
    CloseAfterCancel = false;
    close();
  }
}

void TMainFrm::RunBtnClick() {
  if (Running) {
    AskCancel();
    return;
  }
  const TOutputSettings settings = CurrentOutputSettings();
  if (!OutputSettingsChecked(settings)) return;
  CancelRequested = false;
  EnterRunningState();
  StartBatch(settings);
  PlanRows(1, Batch.Reached, settings);
  StartNextRoad();
}

// Every entry is processed, whatever stands between them; a row refused by the plan ends at once.
void TMainFrm::StartNextRoad() {
  TMyGrid* grid = Grid();
  for (int row = Batch.NextRow; row < grid->RowCount(); ++row) {
    if (!RowInBatch(row)) continue;
    const std::string path = ToPath(*grid->Objects(row).FullPath);
    // Rows added while the run goes were not planned at its start.
    if (!grid->Objects(row).OutputTaken) PlanRows(row, Batch.Reached, Batch.Settings);
    const bool taken = grid->Objects(row).OutputTaken.value_or(false);
    grid->Objects(row).OutputTaken.reset();
    Batch.Reached.push_back(path);
    if (Batch.Number++ >= static_cast<int>(Batch.Clock.FileCount())) Batch.Clock.Add(path);
    if (taken) {
      ShowStatus(row, TFileStatus::OutputTaken);
      for (int c = colClicks; c <= colTime; ++c) grid->SetCell(c, row, QString());
      FreeRowStatistics(row);
      Batch.Clock.FileEnded(Batch.Number - 1, false);
      ++Batch.Failed;
      continue;
    }
    StartRoad(row, path);
    return;
  }
  EndBatch(0);
}

void TMainFrm::StartRoad(int row, const std::string& path) {
  TMyGrid* grid = Grid();
  const int visible = grid->VisibleRowCount();
  if (row >= grid->TopRow() + visible) grid->SetTopRow(row - visible + 1);
  SelectRow(row);
  Batch.Road = ++LastRoad;
  Batch.NextRow = row + 1;
  grid->Objects(row).Road = Batch.Road;
  // The row says at once that its road has begun; the road reports the same when it gets there.
  ShowStatus(row, TFileStatus::Open);
  for (int c = colClicks; c <= colTime; ++c) grid->SetCell(c, row, QString());
  ShowBatchPlace();
  // A click asked for during the previous file went with its blocks.
  LastTick = TickCount();
  ExtractAwaited = false;
  ExtractRequest = false;
  Road->Start(
      TRoadJob{path, Batch.Settings, UsableProcessors(), TEngineOptions{UiForm->RefineCheck->isChecked()}},
      CancelRequested, &ExtractRequest);
}

void TMainFrm::RoadEnded(const TFileResult& result) {
  // The road's last report: its thread is about to end.
  Road->Wait();
  TMyGrid* grid = Grid();
  const int row = RoadRow();
  Batch.Road = 0;
  if (row > 0) {
    grid->Objects(row).Road = 0;
    Batch.NextRow = row + 1;
    // The end of the road in full: the system's reason and what the user should know of a done file.
    ShowStatus(row, result.Status, result.Message);
    grid->SetCell(colStatus, row, QString::fromStdString(ResultText(result)));
  }
  const bool done = result.Outcome == TFileOutcome::Done;
  Batch.Clock.FileEnded(Batch.Number - 1, done);
  if (done) {
    ++Batch.Done;
    Batch.Clicks += result.Clicks;
    StoreRowStatistics(row);
    // The output has taken its name only now.
    UpdatePlayModes();
  } else {
    ++Batch.Failed;
  }
  if (result.Outcome == TFileOutcome::Cancelled || result.Outcome == TFileOutcome::RunFailed) {
    EndBatch(Batch.NextRow - 1);
    return;
  }
  StartNextRoad();
}

// Decides, before anything is written, which of the entries from `fromRow` down may write their
// outputs: the inputs already reached by the run come first and keep what they claimed.
void TMainFrm::PlanRows(int fromRow, const std::vector<std::string>& reached,
                        const TOutputSettings& settings) {
  TMyGrid* grid = Grid();
  std::vector<std::string> inputs = reached;
  std::vector<int> rows;
  for (int r = fromRow; r < grid->RowCount(); ++r) {
    if (!grid->HasFullPath(r)) continue;
    inputs.push_back(ToPath(*grid->Objects(r).FullPath));
    rows.push_back(r);
  }
  const std::vector<TOutputPlanEntry> plan = PlanOutputs(inputs, settings);
  for (size_t i = 0; i < rows.size(); ++i)
    grid->Objects(rows[i]).OutputTaken = plan[reached.size() + i].Taken;
}

}  // namespace klarwell
