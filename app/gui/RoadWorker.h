#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "app/BatchDriver.h"

namespace klarwell {

// What one file's road needs, fixed on the UI thread before the road starts.
struct TRoadJob {
  std::string InputPath;
  TOutputSettings Settings;
  int Workers = 1;
  TEngineOptions Engine;
};

// Takes one file along its road (ProcessFileParallel) on a thread of its own, so that the window's
// thread never waits for a block. What the driver reports comes out as the signals below, emitted
// on the road's thread in the driver's order, RoadEnded last: connect them with Qt::QueuedConnection,
// so that they arrive on the receiver's thread as plain events, one after another.
//
// Start, Wait and the destructor belong to one thread (the UI thread). The flags handed to Start
// must outlive the road; to end a road early, set `cancel` and Wait.
class TRoadWorker : public QObject {
  Q_OBJECT

 public:
  explicit TRoadWorker(QObject* parent = nullptr);
  // Waits for a road still going: set its cancel flag first, or this waits for the whole file.
  ~TRoadWorker() override;

  // Starts a road; one still going is waited for first. `extractRequest` may be null (no extracts).
  void Start(TRoadJob job, const std::atomic<bool>& cancel, std::atomic<bool>* extractRequest);
  // Returns once the road's thread has ended; at once when none was started.
  void Wait();

 signals:
  void Status(klarwell::TFileStatus status, const std::string& message);
  void FiguresReset();
  void Estimate(double clicksPerSecond, double remainingSeconds);
  void Finished(double clicksPerSecond, double elapsedSeconds);
  void ProgressMax(quint32 frames);
  void Progress(quint32 frames);
  void OutputCreated(const std::string& outputPath);
  void DensityReset();
  // One block counted: its density point and the file's click total so far, in one event, so that
  // the total and the density chart never disagree.
  void BlockCounted(float minutes, float clicksPerSecond, qint64 total);
  void ClickExtract(const klarwell::TClickExtract& extract);
  void RoadEnded(const klarwell::TFileResult& result);

 private:
  class TSignalObserver;

  std::thread Thread;
};

}  // namespace klarwell
