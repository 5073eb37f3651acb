// Faults during a run, through klarwell-cli and ProcessFileParallel: a write refused, the input shrinking or
// vanishing, the output directory removed, memory refused at set-up, cancellation at any moment.
// Each case checks the message, that the input is untouched and that no partial output is left.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <thread>

#include "app/BatchDriver.h"
#include "app/ParallelDriver.h"
#include "app/RunTexts.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDirTest.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "text/LangText.h"

// ---- Allocation seam: while armed, every allocation of at least the threshold fails, as it would
// when the machine has no memory left for the engine's buffers.
namespace {
std::atomic<size_t> gFailFrom{0};  // 0: disarmed
}

// g++ 12 takes free() inside a replaced operator delete for a mismatched pair.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  const size_t from = gFailFrom.load(std::memory_order_relaxed);
  if (from != 0 && size >= from) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace klarwell {
namespace {

namespace fs = std::filesystem;
using test::FileExists;
using test::OutputInProgress;
using test::ReadFileBytes;

using test::TRunResult;

// Starts klarwell-cli (LC_ALL=C) with the arguments; `beforeExec` runs in the child (limits,
// signal dispositions); `whileRunning` runs on a thread of the parent with the child's pid.
TRunResult RunCli(const std::vector<std::string>& args, const std::function<void()>& beforeExec = {},
                  const std::function<void(pid_t)>& whileRunning = {}) {
  return test::RunChild(KLARWELL_CLI, args, {{"LC_ALL=C"}, beforeExec, whileRunning});
}

bool WaitFor(const std::function<bool()>& condition, int ms = 20000) {
  for (int i = 0; i < ms / 2; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}

// Whether a hidden temporary output in the folder has received its first bytes.
bool WritingStarted(const std::string& folder) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.path().filename().string().front() == '.' && e.file_size(ec) > 0) return true;
  return false;
}

// Files in a directory other than the listed ones (a partial output would show up here).
std::vector<std::string> Leftovers(const std::string& dir, const std::vector<std::string>& keep) {
  std::vector<std::string> extra;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (std::find(keep.begin(), keep.end(), name) == keep.end()) extra.push_back(name);
  }
  return extra;
}

class FaultTest : public test::TScratchDirTest {};

// A write refused by the file-size limit, at every stage of the output: while creating the header,
// in the first block and far into the file. The message names the failed write and nothing is left.
TEST_F(FaultTest, WriteRefusedByFileSizeLimitLeavesNoOutputAndKeepsTheInput) {
  const std::string f = MakeFile("in.wav", 8.0, 10, 3);
  const std::string before = ReadFileBytes(f);
  struct TCase {
    rlim_t Limit;
    std::vector<std::string> Messages;  // any of these
  } cases[] = {
      {0, {"Cannot create WAVE chunk", "Create error"}},
      {30, {"Cannot create FMT chunk", "Error writing FMT chunk", "Cannot create WAVE chunk"}},
      {50, {"Cannot create DATA chunk", "Error ascending FMT chunk", "Faild to write data"}},
      {4096, {"Faild to write data"}},
      {600000, {"Faild to write data"}},
      {static_cast<rlim_t>(before.size()) - 2, {"Faild to write data", "Error ascending DATA chunk"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Limit);
    TRunResult r = RunCli({"-q", f}, [&] {
      signal(SIGXFSZ, SIG_IGN);
      rlimit lim{c.Limit, c.Limit};
      setrlimit(RLIMIT_FSIZE, &lim);
    });
    EXPECT_NE(r.Exit, 0) << r.Out << r.Err;
    bool named = false;
    for (const std::string& m : c.Messages) named = named || r.Out.find(m) != std::string::npos;
    EXPECT_TRUE(named) << r.Out << r.Err;
    EXPECT_EQ(r.Out.find("done"), std::string::npos) << r.Out;
    EXPECT_EQ(Leftovers(dir_, {"in.wav"}), std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(f), before);
  }
}

// The input cut short while it is being read: the read fails, the run says so, no output is left.
TEST_F(FaultTest, InputShrinkingDuringARunFailsTheFileAndLeavesNoOutput) {
  const std::string f = MakeFile("in.wav", 30.0, 10, 4);
  TRunResult r = RunCli({"-q", f}, {}, [&](pid_t) {
    WaitFor([&] { return OutputInProgress(dir_); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(truncate(f.c_str(), 1000), 0);
  });
  EXPECT_NE(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Faild to read data"), std::string::npos) << r.Out;
  EXPECT_EQ(Leftovers(dir_, {"in.wav"}), std::vector<std::string>{});
  EXPECT_EQ(fs::file_size(f), 1000u);  // nothing was written to the input
}

// An input removed from its directory while it is processed is still read through the open file:
// the output is complete and the same as that of an undisturbed run.
TEST_F(FaultTest, InputVanishingDuringARunStillGivesTheCompleteOutput) {
  const std::string f = MakeFile("in.wav", 12.0, 10, 5);
  fs::create_directory(Path("ref"));
  fs::create_directory(Path("out"));
  TRunResult ref = RunCli({"-q", "-o", Path("ref"), f});
  ASSERT_EQ(ref.Exit, 0) << ref.Out << ref.Err;
  const std::string output = Path("out/in #kw2.wav");
  TRunResult r = RunCli({"-q", "-o", Path("out"), f}, {}, [&](pid_t) {
    WaitFor([&] { return OutputInProgress(Path("out")); });
    fs::remove(f);
  });
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("done"), std::string::npos) << r.Out;
  EXPECT_EQ(ReadFileBytes(output), ReadFileBytes(Path("ref/in #kw2.wav")));
}

// The output directory removed during a run: the output written into a file that no longer has a
// name (its temporary one is gone with the folder) must not be reported as done.
TEST_F(FaultTest, OutputDirectoryRemovedDuringARunIsReportedAsAFailure) {
  const std::string f = MakeFile("in.wav", 20.0, 10, 6);
  const std::string before = ReadFileBytes(f);
  fs::create_directory(Path("out"));
  const std::string output = Path("out/in #kw2.wav");
  TRunResult r = RunCli({"-q", "-o", Path("out"), "-s", "", f}, {}, [&](pid_t) {
    // Once the writer holds its temporary file open: before that, the folder's removal is a
    // refusal to create the output, not a vanished one.
    WaitFor([&] { return WritingStarted(Path("out")); });
    fs::remove_all(Path("out"));
  });
  EXPECT_NE(r.Exit, 0) << r.Out << r.Err;
  EXPECT_EQ(r.Out.find("done"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Output file has vanished"), std::string::npos) << r.Out;
  EXPECT_FALSE(fs::exists(Path("out")));
  EXPECT_EQ(ReadFileBytes(f), before);
}

// A re-run that does not finish, by a signal or by a full disk (the file-size limit), leaves the
// earlier complete output byte for byte and no temporary file.
TEST_F(FaultTest, ARerunThatDoesNotFinishKeepsTheEarlierOutput) {
  const std::string f = MakeFile("in.wav", 20.0, 10, 9);
  const std::string output = Path("in #kw2.wav");
  ASSERT_EQ(RunCli({"-q", f}).Exit, 0);
  const std::string earlier = ReadFileBytes(output);
  struct TCase {
    const char* Name;
    std::function<void()> BeforeExec;
    std::function<void(pid_t)> WhileRunning;
    const char* Status;
  } cases[] = {
      {"interrupt", {},
       [&](pid_t pid) {
         WaitFor([&] { return OutputInProgress(dir_); });
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
         kill(pid, SIGINT);
       },
       "cancelled"},
      {"full disk",
       [] {
         signal(SIGXFSZ, SIG_IGN);
         rlimit lim{600000, 600000};
         setrlimit(RLIMIT_FSIZE, &lim);
       },
       {}, "Faild to write data: File too large"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRunResult r = RunCli({"-q", "--reference", f}, c.BeforeExec, c.WhileRunning);
    EXPECT_NE(r.Exit, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find(c.Status), std::string::npos) << r.Out;
    EXPECT_EQ(ReadFileBytes(output), earlier);
    EXPECT_EQ(Leftovers(dir_, {"in.wav", "in #kw2.wav"}), std::vector<std::string>{});
  }
}

// SIGINT at random moments, from before the output exists to the very end: every run either
// finished completely (and then equals the undisturbed output) or left nothing; the input never changes.
TEST_F(FaultTest, InterruptAtRandomMomentsLeavesACompleteOutputOrNone) {
  const std::string f = MakeFile("in.wav", 3.0, 8, 7);
  const std::string before = ReadFileBytes(f);
  fs::create_directory(Path("ref"));
  ASSERT_EQ(RunCli({"-q", "-o", Path("ref"), f}).Exit, 0);
  const std::string reference = ReadFileBytes(Path("ref/in #kw2.wav"));
  const std::string output = Path("in #kw2.wav");
  test::TRandom random(11);
  int cancelled = 0, finished = 0;
  for (int run = 0; run < 40; ++run) {
    const int delayUs = random.Int(0, 1500000);
    SCOPED_TRACE(delayUs);
    const int sig = random.Int(0, 1) ? SIGINT : SIGTERM;
    TRunResult r = RunCli({"-q", f}, {}, [&](pid_t pid) {
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
      kill(pid, sig);
    });
    if (r.Exit == 0) {
      ++finished;
      EXPECT_EQ(ReadFileBytes(output), reference);
      fs::remove(output);
    } else {
      ++cancelled;
      // A signal that arrives before the program has set up its handlers ends it at once, before
      // it has touched any file.
      EXPECT_TRUE(r.Exit == 130 || r.Exit == 128 + sig) << r.Exit << r.Out << r.Err;
      if (r.Out.find("\tdone\t") != std::string::npos) {
        // The interrupt came after the file had been finished: it keeps its complete output.
        EXPECT_EQ(ReadFileBytes(output), reference);
        fs::remove(output);
      } else {
        EXPECT_FALSE(FileExists(output));
      }
    }
    EXPECT_EQ(Leftovers(dir_, {"in.wav", "ref"}), std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(f), before);
  }
  EXPECT_GT(cancelled, 0);
}

// The address space limited at every size from "nothing fits" to "just enough": each run gives the
// memory message or a clean failure of its block (no thread to be had), never an abort with a
// half-written output.
TEST_F(FaultTest, AddressSpaceLimitGivesAMessageAtEveryStageAndNeverAPartialOutput) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than any limit here";
#else
  test::TSignal s = test::MakeMusic(1.0, 192000, 2, 12);
  const std::string f = Path("in.wav");
  ASSERT_TRUE(test::WriteSignalWav(f, s, 3, false));
  const std::string before = ReadFileBytes(f);
  int outOfMemory = 0, done = 0;
  // The upper end leaves room for the transform library that the default routines map (about 2.3 MB)
  // and their plans, on top of two block workers' stacks.
  for (rlim_t kib = 6000; kib <= 60000; kib += 3000) {
    SCOPED_TRACE(kib);
    TRunResult r = RunCli({"-q", f}, [&] {
      rlimit lim{kib * 1024, kib * 1024};
      setrlimit(RLIMIT_AS, &lim);
    });
    if (r.Exit == 127) continue;  // the program itself could not be loaded
    ASSERT_TRUE(r.Exit == 0 || r.Exit == 1) << r.Exit << r.Out << r.Err;
    if (r.Exit == 0) {
      ++done;
      fs::remove(Path("in #kw2.wav"));
    } else {
      if (r.Out.find("Out of Memory") != std::string::npos) ++outOfMemory;
      else EXPECT_NE(r.Out.find("FilePos"), std::string::npos) << r.Out << r.Err;
    }
    EXPECT_EQ(Leftovers(dir_, {"in.wav"}), std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(f), before);
  }
  EXPECT_GT(outOfMemory, 0);
  EXPECT_GT(done, 0);
#endif
}

// ---- ProcessFileParallel with memory refused while the engine sets up.
class TSeamObserver : public TDriverObserver {
 public:
  void Status(TFileStatus status, const std::string& message) override {
    // Arm the seam just for the set-up; the driver's own small strings stay below the threshold.
    gFailFrom.store(status == TFileStatus::Initialize ? 4096 : 0);
    Statuses.push_back(StatusText(status, message));
  }
  std::vector<std::string> Statuses;
};

TEST_F(FaultTest, MemoryRefusedAtEngineSetUpGivesTheMemoryMessageInBothLanguages) {
  const std::string f = MakeFile("in.wav", 2.0, 2, 8);
  const std::string before = ReadFileBytes(f);
  const struct {
    TLanguage Language;
    const char* Message;
  } cases[] = {{TLanguage::English, "Out of Memory"}, {TLanguage::German, "Kein Speicher"}};
  for (const auto& c : cases) {
    const TLanguage previous = CurrentLanguage();
    SetLanguage(c.Language);
    TSeamObserver observer;
    std::atomic<bool> cancel{false};
    TOutputSettings settings;
    TFileResult result = ProcessFileParallel(f, settings, observer, cancel, 1);
    gFailFrom.store(0);
    SetLanguage(previous);
    EXPECT_EQ(result.Outcome, TFileOutcome::Failed);
    EXPECT_EQ(StatusText(result), c.Message);
    EXPECT_TRUE(result.OutputPath.empty());
    EXPECT_EQ(Leftovers(dir_, {"in.wav"}), std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(f), before);
  }
}

}  // namespace
}  // namespace klarwell
