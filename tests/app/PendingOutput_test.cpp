#include "app/PendingOutput.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/ScratchDirTest.h"
#include "tests/support/SignalWav.h"

namespace klarwell {
namespace {

class PendingOutputTest : public test::TScratchDirTest {};

// Two outputs of one process written towards one name would each replace the other's result: the
// second is refused until the first has given the name back. A road left without its finish (an
// exception, an early return) must not leave its temporary file behind.
TEST_F(PendingOutputTest, OneNameOneWriterAndNothingLeftBehind) {
  const std::string final = Path("side #kw2.wav");
  int errorNumber = -1;
  {
    TPendingOutput first(final), second(final);
    ASSERT_TRUE(first.Create(errorNumber));
    EXPECT_FALSE(second.Create(errorNumber));
    EXPECT_EQ(errorNumber, 0);
    EXPECT_TRUE(test::OutputInProgress(dir_));
    first.Discard();
    EXPECT_TRUE(second.Create(errorNumber));
  }
  EXPECT_FALSE(test::OutputInProgress(dir_));
  EXPECT_FALSE(test::FileExists(final));

  // Committed, the output takes the name whole; a link at the name keeps pointing at it, and the
  // earlier file's permissions stay (a temporary file is made private to its owner by default).
  std::filesystem::create_directory(Path("real"));
  std::ofstream(Path("real/side.wav")) << "earlier";
  ::chmod(Path("real/side.wav").c_str(), 0640);
  std::filesystem::create_symlink(Path("real/side.wav"), Path("link.wav"));
  TPendingOutput linked(Path("link.wav"));
  ASSERT_TRUE(linked.Create(errorNumber));
  std::ofstream(linked.TempPath()) << "new";
  bool vanished = true;
  ASSERT_TRUE(linked.Commit(vanished, errorNumber));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.wav")));
  EXPECT_EQ(test::ReadFileBytes(Path("real/side.wav")), "new");
  struct stat st {};
  ASSERT_EQ(::stat(Path("real/side.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_FALSE(test::OutputInProgress(Path("real")));
}

}  // namespace
}  // namespace klarwell
