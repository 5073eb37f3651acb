// The two charts of the window: the extract of a processed click, asked for at most twice a
// second during a run, and the click-density curve a row keeps after its file was processed.

#include <algorithm>
#include <vector>

#include "app/BatchDriver.h"
#include "app/gui/MainLight.h"
#include "app/gui/MainLightDetail.h"
#include "app/gui/MyGrid.h"
#include "chart/Graphic.h"
#include "ui_MainLight.h"

namespace klarwell {

using window_detail::TickCount;

// At most one click is asked for at a time, and only half a second after the last one was asked for
// or drawn: the workers keep a click only on request, and the chart is redrawn at most twice a second.
void TMainFrm::CheckTick() {
  const uint64_t now = TickCount();
  if (ExtractAwaited || now <= LastTick + 500) return;
  LastTick = now;
  ExtractAwaited = true;
  ExtractRequest = true;
}

void TMainFrm::DrawClickExtract(const TClickExtract& extract) {
  PlotClickRegion(extract);
  TGrCntrl* chart = UiForm->ZoomGrCntrl;
  for (size_t i = 0; i < extract.Repaired.size(); ++i)
    chart->AddPoint(2, static_cast<float>(extract.RepairOffset + static_cast<int32_t>(i)),
                    extract.Repaired[i]);
  chart->Invalidate();
  ExtractAwaited = false;
  LastTick = TickCount();
}

void TMainFrm::PlotClickRegion(const TClickExtract& extract) {
  TGrCntrl* chart = UiForm->ZoomGrCntrl;
  chart->ClearCurves();
  chart->SetCurveColor(1, Qt::blue);
  chart->SetCurveColor(2, Qt::red);
  chart->SetCurveColor(0, QColor(0xc0, 0xc0, 0xc0));
  const std::vector<float>& samples = extract.Before;
  const std::vector<float>& trace = extract.Trace;
  if (samples.empty() || trace.size() != samples.size()) return;
  float m1 = samples[0], big1 = samples[0];
  for (size_t i = 0; i < samples.size(); ++i) {
    chart->AddPoint(1, static_cast<float>(i), samples[i]);
    m1 = std::min(m1, samples[i]);
    big1 = std::max(big1, samples[i]);
  }
  const auto [lowest, highest] = std::minmax_element(trace.begin(), trace.end());
  const float m2 = *lowest, big2 = *highest;
  // A flat trace has no shape to scale: it is drawn along the samples' minimum.
  const double scale = big2 > m2 ? (static_cast<double>(big1) - m1) / (static_cast<double>(big2) - m2) : 0.0;
  for (size_t i = 0; i < trace.size(); ++i)
    chart->AddPoint(0, static_cast<float>(i), static_cast<float>((trace[i] - m2) * scale + m1));
  chart->FitToData();
}

void TMainFrm::StoreRowStatistics(int row) {
  TMyGrid* grid = Grid();
  if (row < 1 || row >= grid->RowCount()) return;
  const TGrCntrl* chart = UiForm->StatGrCntrl;
  const int n = chart->CurvePointCount(0);
  TRowObjects& objects = grid->Objects(row);
  const float* x = chart->CurveXValues(0);
  const float* y = chart->CurveYValues(0);
  objects.StatX = n > 0 ? std::vector<float>(x, x + n) : std::vector<float>();
  objects.StatY = n > 0 ? std::vector<float>(y, y + n) : std::vector<float>();
  objects.StatCount = n;
}

void TMainFrm::ShowRowStatistics(int row) {
  TGrCntrl* chart = UiForm->StatGrCntrl;
  chart->ClearCurves();
  chart->SetCurveColor(0, Qt::blue);
  const TRowObjects& objects = Grid()->Objects(row);
  if (objects.StatX && objects.StatY) {
    const size_t n = std::min(objects.StatX->size(), objects.StatY->size());
    for (size_t i = 0; i < n; ++i) chart->AddPoint(0, (*objects.StatX)[i], (*objects.StatY)[i]);
    chart->FitToData();
  }
  chart->Invalidate();
}

void TMainFrm::FreeRowStatistics(int row) {
  if (row < 1 || row >= Grid()->RowCount()) return;
  TRowObjects& objects = Grid()->Objects(row);
  objects.StatCount.reset();
  objects.StatX.reset();
  objects.StatY.reset();
}

}  // namespace klarwell
