#include "app/gui/FolderPicker.h"

#include <gtest/gtest.h>

#include "tests/app/gui/GuiTestApp.h"

namespace klarwell {
namespace {

TEST(FolderPicker, StartFolderLosesOneTrailingSeparatorButTheRootStays) {
  struct {
    const char* initial;
    const char* root;
    const char* expected;
  } cases[] = {
      {"/home/u/", "", "/home/u"}, {"/home/u", "", "/home/u"}, {"/", "", "/"},
      {"/a//", "", "/a/"},         {"", "/srv/", "/srv"},      {"", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FolderPickerStart(c.initial, c.root), c.expected) << c.initial;
}

TEST(FolderPicker, PathIsEmptiedAndOnlyAChosenFolderCounts) {
  test::EnsureGuiApp();
  QString seenTitle, seenStart;
  auto answer = [&](const QString& result) {
    return [&, result](QWidget*, const QString& title, const QString& start) {
      seenTitle = title;
      seenStart = start;
      return result;
    };
  };
  QString path = "old";
  EXPECT_FALSE(BrowseForFolder("Output directory", "/tmp/", "", path, true, nullptr, answer("")));
  EXPECT_EQ(path, "");
  EXPECT_EQ(seenTitle, "Output directory");
  EXPECT_EQ(seenStart, "/tmp");
  EXPECT_TRUE(BrowseForFolder("T", "/tmp", "", path, true, nullptr, answer("/srv/out")));
  EXPECT_EQ(path, "/srv/out");
}

}  // namespace
}  // namespace klarwell
