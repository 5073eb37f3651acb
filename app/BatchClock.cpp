#include "app/BatchClock.h"

#include <sys/stat.h>

#include <algorithm>

namespace klarwell {

namespace {

double FileWeight(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<double>(st.st_size) : 0.0;
}

}  // namespace

void TBatchClock::Start(const std::vector<std::string>& paths) {
  files_.clear();
  for (const std::string& p : paths) Add(p);
  start_ = std::chrono::steady_clock::now();
}

size_t TBatchClock::Add(const std::string& path) {
  files_.push_back({FileWeight(path), 0.0});
  return files_.size() - 1;
}

void TBatchClock::FileProgress(size_t index, double fraction) {
  if (index < files_.size()) files_[index].Fraction = std::clamp(fraction, 0.0, 1.0);
}

void TBatchClock::FileEnded(size_t index, bool done) {
  if (index >= files_.size()) return;
  if (done)
    files_[index].Fraction = 1.0;
  else
    files_[index].Weight = 0.0;
}

double TBatchClock::RemainingSeconds() const {
  double total = 0, done = 0;
  for (const TFile& f : files_) {
    total += f.Weight;
    done += f.Weight * f.Fraction;
  }
  if (done <= 0) return -1.0;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  return elapsed * (total - done) / done;
}

}  // namespace klarwell
