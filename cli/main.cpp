// klarwell-cli: the batch driver for scripts. Each FILE goes the road a list row goes in the window,
// several at once (--jobs); results are printed in the order the files were given.

#include <signal.h>

#include <atomic>
#include <cstdio>

#include "app/ParallelDriver.h"
#include "cli/BatchRun.h"
#include "cli/CliTexts.h"
#include "cli/InputList.h"
#include "cli/Options.h"

using namespace klarwell;
using namespace klarwell::cli;

namespace {

std::atomic<bool> gCancel{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnSignal(int) { gCancel.store(true); }

}  // namespace

int main(int argc, char** argv) {
  // First of all, so that an interrupt at any moment cancels cooperatively instead of killing us.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  const int cores = UsableProcessors();
  TCliOptions options;
  const int status = ParseOptions(argc, argv, cores, options);
  if (status >= 0) return status;
  // The list's paths follow the arguments and are taken exactly like them.
  if (options.FilesFrom) {
    std::string reason;
    if (!ReadInputList(*options.FilesFrom, options.Arguments, reason)) {
      std::fprintf(stderr, "klarwell-cli: %s%s: %s\n", CliText(kCannotReadList), options.FilesFrom->c_str(),
                   reason.c_str());
      return 2;
    }
  }

  const TInputList inputs = CollectInputs(options.Arguments, options.Recursive, options.Settings.Suffix);
  for (const std::string& warning : inputs.Warnings) std::fprintf(stderr, "klarwell-cli: %s\n", warning.c_str());
  if (inputs.Files.empty()) {
    std::fprintf(stderr, "klarwell-cli: %s\n%s\n", CliText(kNoFiles), CliText(kTryHelp));
    return 2;
  }
  return RunBatch(options, inputs.Files, cores, gCancel);
}
