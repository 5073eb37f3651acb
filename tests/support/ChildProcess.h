#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace klarwell::test {

// What a child program left behind: its exit code (128 + the signal when a signal ended it, -1 when
// it could not be started) and everything it wrote to standard output and standard error.
struct TRunResult {
  int Exit = -1;
  std::string Out, Err;
};

// What to arrange around one run of a child program.
struct TChildSetup {
  // "NAME=value" entries put into the child's environment before it starts.
  std::vector<std::string> Env;
  // Runs in the child after the environment is set, just before the program starts (limits,
  // signal dispositions). Only async-signal-safe calls belong here: the parent may have threads.
  std::function<void()> BeforeExec;
  // Runs on a thread of the parent with the child's pid once the child has started (a signal to
  // send, a file to disturb); the run ends when both the child and this have ended.
  std::function<void(pid_t)> WhileRunning;
};

// Runs `program` with `args` (argv[0] is the program's path) and waits for it, reading its
// standard output and standard error to their ends. Call from the test's main thread.
TRunResult RunChild(const std::string& program, const std::vector<std::string>& args,
                    const TChildSetup& setup = {});

}  // namespace klarwell::test
