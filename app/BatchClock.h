#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace klarwell {

// The time a whole batch still needs, estimated from how far its files have come and how long that
// took. Files are weighed by their size in bytes, since a file's frames are known only once it has
// opened; for a batch of one format that is exactly their playing time. A file that ends without
// being processed (failed, refused, never reached) weighs nothing. Not thread-safe: the caller locks.
class TBatchClock {
 public:
  // Starts the clock for these inputs (a file that cannot be measured weighs nothing).
  void Start(const std::vector<std::string>& paths);
  // A file added while the batch runs; returns its index.
  size_t Add(const std::string& path);

  size_t FileCount() const { return files_.size(); }

  // File `index` has come `fraction` (0..1) of its way.
  void FileProgress(size_t index, double fraction);
  // File `index` ended: done (it counts whole) or not (it no longer counts).
  void FileEnded(size_t index, bool done);

  // Seconds the batch still needs; negative while nothing can be told yet (nothing done so far).
  double RemainingSeconds() const;

 private:
  struct TFile {
    double Weight = 0;
    double Fraction = 0;
  };
  std::vector<TFile> files_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace klarwell
