// The batch run from the window: RunBtnClick walks the list, the observer turns what the driver
// reports into the row's cells, the progress bar and the charts, and the running state and the
// cancel question.

#include <QCoreApplication>
#include <QLocale>
#include <QProgressBar>
#include <atomic>
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
#include "chart/Graphic.h"
#include "ui_MainLight.h"

namespace klarwell {

using window_detail::TickCount;
using window_detail::ToPath;
using window_detail::TwoLineCaption;

// What the batch driver reports for one file, turned into the row's cells, the progress bar and
// the two charts. Rows may move while events are processed during a block (rows removed or sorted),
// so the row is found again by its mark (OnRoad) before it is written after such a pause.
class TMainFrm::TRunObserver : public TDriverObserver {
 public:
  TRunObserver(TMainFrm& form, int row) : Form(form), Row(row) {}

  int CurrentRow() {
    Refind();
    return Row;
  }

  void Status(TFileStatus status, const std::string& message) override {
    Form.ShowStatus(CurrentRow(), status, message);
  }
  void FiguresReset() override {
    for (int column : {colClicksPerSec, colClicks, colTime}) SetCell(column, std::string());
  }
  void Clicks(int64_t total) override { SetCell(colClicks, std::to_string(total)); }
  void Estimate(double clicksPerSecond, double remainingSeconds) override {
    SetCell(colTime, FormatSeconds(remainingSeconds));
    SetCell(colClicksPerSec, FormatClicksPerSec(clicksPerSecond, Form.DecimalPoint()));
  }
  void Finished(double clicksPerSecond, double elapsedSeconds) override {
    SetCell(colClicksPerSec, FormatClicksPerSec(clicksPerSecond, Form.DecimalPoint()));
    SetCell(colTime, FormatSeconds(elapsedSeconds));
  }
  void ProgressMax(uint32_t frames) override {
    // The bar counts in int: very long files are counted in coarser units.
    Shift = 0;
    while ((frames >> Shift) > static_cast<uint32_t>(INT_MAX)) ++Shift;
    Form.UiForm->ProgressBar1->setMaximum(static_cast<int>(frames >> Shift));
  }
  void Progress(uint32_t frames) override {
    QProgressBar* bar = Form.UiForm->ProgressBar1;
    bar->setValue(static_cast<int>(frames >> Shift));
    if (bar->maximum() > 0)
      Form.Batch.Clock.FileProgress(Form.Batch.Number - 1, double(bar->value()) / bar->maximum());
    Form.ShowBatchPlace();
  }
  void OutputCreated(const std::string&) override { Form.UpdatePlayModes(); }
  void DensityReset() override {
    // A click asked for during the previous file went with its blocks.
    Form.LastTick = TickCount();
    Form.ExtractAwaited = false;
    Form.ExtractRequest = false;
    TGrCntrl* chart = Form.UiForm->StatGrCntrl;
    chart->ClearCurves();
    chart->SetCurveColor(0, Qt::blue);
    chart->Invalidate();
  }
  void DensityPoint(float minutes, float clicksPerSecond) override {
    TGrCntrl* chart = Form.UiForm->StatGrCntrl;
    chart->AddPoint(0, minutes, clicksPerSecond);
    chart->FitToData();
    chart->Invalidate();
  }
  void Idle() override {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    MayHaveMoved = true;
    Form.CheckTick();
  }
  std::atomic<bool>* ExtractRequest() override { return &Form.ExtractRequest; }
  void ClickExtract(const TClickExtract& extract) override { Form.DrawClickExtract(extract); }

 private:
  void SetCell(int column, const std::string& text) {
    Form.Grid()->SetCell(column, CurrentRow(), QString::fromStdString(text));
  }
  void Refind() {
    if (!MayHaveMoved) return;
    MayHaveMoved = false;
    int found = Form.FindRunningRow();
    if (found > 0) Row = found;
  }

  TMainFrm& Form;
  int Row;
  bool MayHaveMoved = false;
  int Shift = 0;
};

char TMainFrm::DecimalPoint() const {
  QString point = QLocale().decimalPoint();
  return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode()) : '.';
}

int TMainFrm::FindRunningRow() const {
  for (int r = 1; r < Grid()->RowCount(); ++r)
    if (Grid()->Objects(r).OnRoad) return r;
  return 0;
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
}

void TMainFrm::LeaveRunningState() {
  UiForm->SuffixEdit->setEnabled(true);
  UiForm->OutDirEdit->setEnabled(true);
  UiForm->DirBtn->setEnabled(true);
  UiForm->RefineCheck->setEnabled(true);
  Grid()->setEnabled(true);
  UiForm->RunBtn->setText(TwoLineCaption(MainText(txRunBtnIdle)));
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

void TMainFrm::StartBatch() {
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
  UiForm->ProgressBar1->setTextVisible(true);
}

void TMainFrm::ShowBatchPlace() {
  // The count follows the list: rows added or removed during the run change it.
  int left = 0;
  if (const int running = FindRunningRow(); running > 0)
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
  StartBatch();
  TMyGrid* grid = Grid();
  std::vector<std::string> reached;  // the inputs this run has come to, in order
  PlanRows(1, reached, settings);
  // Every entry is processed, whatever stands between them.
  for (int row = 1; row < grid->RowCount(); ++row) {
    if (!RowInBatch(row)) continue;
    const std::string path = ToPath(*grid->Objects(row).FullPath);
    // Rows added while the run goes were not planned at its start.
    if (!grid->Objects(row).OutputTaken) PlanRows(row, reached, settings);
    const bool taken = grid->Objects(row).OutputTaken.value_or(false);
    grid->Objects(row).OutputTaken.reset();
    reached.push_back(path);
    if (Batch.Number++ >= static_cast<int>(Batch.Clock.FileCount())) Batch.Clock.Add(path);
    if (taken) {
      ShowStatus(row, TFileStatus::OutputTaken);
      for (int c = colClicks; c <= colTime; ++c) grid->SetCell(c, row, QString());
      FreeRowStatistics(row);
      Batch.Clock.FileEnded(Batch.Number - 1, false);
      ++Batch.Failed;
      continue;
    }
    const TFileResult result = RunRow(row, path, settings);
    if (result.Outcome == TFileOutcome::Cancelled || result.Outcome == TFileOutcome::RunFailed) {
      EndBatch(row);
      if (result.Outcome == TFileOutcome::Cancelled && CloseAfterCancel) {
        CloseAfterCancel = false;
        close();
      }
      return;
    }
  }
  EndBatch(0);
}

TFileResult TMainFrm::RunRow(int& row, const std::string& path, const TOutputSettings& settings) {
  TMyGrid* grid = Grid();
  const int visible = grid->VisibleRowCount();
  if (row >= grid->TopRow() + visible) grid->SetTopRow(row - visible + 1);
  SelectRow(row);
  grid->Objects(row).OnRoad = true;
  ShowBatchPlace();
  TRunObserver observer(*this, row);
  const TFileResult result =
      ProcessFileParallel(path, settings, observer, CancelRequested, UsableProcessors(),
                          TEngineOptions{UiForm->RefineCheck->isChecked()});
  row = observer.CurrentRow();
  grid->Objects(row).OnRoad = false;
  // The end of the road in full: the system's reason and what the user should know of a done file.
  ShowStatus(row, result.Status, result.Message);
  grid->SetCell(colStatus, row, QString::fromStdString(ResultText(result)));
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
  return result;
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
