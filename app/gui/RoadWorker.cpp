#include "app/gui/RoadWorker.h"

#include <utility>

#include "app/ParallelDriver.h"

namespace klarwell {

// The driver's observer on the road's thread: every report becomes a signal. Nothing here touches a
// widget; Idle has nothing to do, since the window's thread never waits for the road.
class TRoadWorker::TSignalObserver : public TDriverObserver {
 public:
  TSignalObserver(TRoadWorker& owner, std::atomic<bool>* extractRequest)
      : Owner(owner), Request(extractRequest) {}

  void Status(TFileStatus status, const std::string& message) override { emit Owner.Status(status, message); }
  void FiguresReset() override { emit Owner.FiguresReset(); }
  // A block's density point and the file's total come as two calls, and go as one signal.
  void DensityPoint(float minutes, float clicksPerSecond) override {
    Minutes = minutes;
    PerSecond = clicksPerSecond;
  }
  void Clicks(int64_t total) override { Total = total; }
  void BlockDone(int64_t, int32_t) override { emit Owner.BlockCounted(Minutes, PerSecond, Total); }
  void Estimate(double clicksPerSecond, double remainingSeconds) override {
    emit Owner.Estimate(clicksPerSecond, remainingSeconds);
  }
  void Finished(double clicksPerSecond, double elapsedSeconds) override {
    emit Owner.Finished(clicksPerSecond, elapsedSeconds);
  }
  void ProgressMax(uint32_t frames) override { emit Owner.ProgressMax(frames); }
  void Progress(uint32_t frames) override { emit Owner.Progress(frames); }
  void OutputCreated(const std::string& outputPath) override { emit Owner.OutputCreated(outputPath); }
  void DensityReset() override { emit Owner.DensityReset(); }
  std::atomic<bool>* ExtractRequest() override { return Request; }
  // The queued signal carries a copy: the driver's extract is valid during this call only.
  void ClickExtract(const TClickExtract& extract) override { emit Owner.ClickExtract(extract); }

 private:
  TRoadWorker& Owner;
  std::atomic<bool>* Request;
  float Minutes = 0, PerSecond = 0;
  int64_t Total = 0;
};

TRoadWorker::TRoadWorker(QObject* parent) : QObject(parent) {
  qRegisterMetaType<TFileStatus>();
  qRegisterMetaType<std::string>();
  qRegisterMetaType<TClickExtract>();
  qRegisterMetaType<TFileResult>();
}

TRoadWorker::~TRoadWorker() {
  Wait();
}

void TRoadWorker::Start(TRoadJob job, const std::atomic<bool>& cancel, std::atomic<bool>* extractRequest) {
  Wait();
  Thread = std::thread([this, job = std::move(job), &cancel, extractRequest] {
    TSignalObserver observer(*this, extractRequest);
    const TFileResult result =
        ProcessFileParallel(job.InputPath, job.Settings, observer, cancel, job.Workers, job.Engine);
    emit RoadEnded(result);
  });
}

void TRoadWorker::Wait() {
  if (Thread.joinable()) Thread.join();
}

}  // namespace klarwell
