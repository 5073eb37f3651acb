#include "tests/support/ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace klarwell::test {

namespace {

// Appends everything that can be read from fd until its end.
void ReadAll(int fd, std::string& into) {
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) into.append(buf, static_cast<size_t>(n));
}

}  // namespace

TRunResult RunChild(const std::string& program, const std::vector<std::string>& args,
                    const TChildSetup& setup) {
  TRunResult r;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0) return r;
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return r;
  }
  // Built before the fork: the child only uses what already exists.
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    for (const std::string& e : setup.Env) putenv(const_cast<char*>(e.c_str()));
    if (setup.BeforeExec) setup.BeforeExec();
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return r;
  }
  std::thread errReader([&] { ReadAll(errPipe[0], r.Err); });
  std::thread watcher;
  if (setup.WhileRunning) watcher = std::thread([&] { setup.WhileRunning(pid); });
  ReadAll(outPipe[0], r.Out);
  errReader.join();
  if (watcher.joinable()) watcher.join();
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid)
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

}  // namespace klarwell::test
