#include "app/Settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/TestPaths.h"

namespace klarwell {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { Dir = test::MakeTempDir(); }
  void TearDown() override {
    std::filesystem::remove_all(Dir);
    SetLanguage(TLanguage::English);
  }
  std::string Dir;
};

TEST_F(SettingsTest, PortableFileBesideTheProgramWinsOverTheConfigFolder) {
  EXPECT_EQ(SettingsFilePath(Dir, "/cfg", "/home/u"), "/cfg/klarwell/klarwell.ini");
  EXPECT_EQ(SettingsFilePath(Dir, "", "/home/u"), "/home/u/.config/klarwell/klarwell.ini");
  // A relative XDG_CONFIG_HOME is not a valid base directory.
  EXPECT_EQ(SettingsFilePath(Dir, "rel", "/home/u"), "/home/u/.config/klarwell/klarwell.ini");
  WriteAll(Dir + "/klarwell.ini", "");
  EXPECT_EQ(SettingsFilePath(Dir, "/cfg", "/home/u"), Dir + "/klarwell.ini");
  // A folder of that name is not a settings file.
  std::filesystem::remove(Dir + "/klarwell.ini");
  std::filesystem::create_directory(Dir + "/klarwell.ini");
  EXPECT_EQ(SettingsFilePath(Dir, "/cfg", "/home/u"), "/cfg/klarwell/klarwell.ini");
}

// First start: nothing to read, designed values stay; the first save creates folder and all ten keys.
TEST_F(SettingsTest, FirstStartKeepsDesignedValuesAndSaveWritesAllTenKeys) {
  std::string path = Dir + "/cfg/klarwell/klarwell.ini";
  TSettingsValues values;
  LoadSettings(path, values);
  TSettingsValues designed;
  EXPECT_EQ(values.Suffix, " #kw2");
  EXPECT_EQ(values.OutDir, "");
  EXPECT_EQ(values.ColumnWidths, designed.ColumnWidths);
  EXPECT_EQ(values.WindowHeight, designed.WindowHeight);
  std::string error;
  ASSERT_TRUE(SaveSettings(path, values, error)) << error;
  EXPECT_EQ(ReadAll(path),
            "[Output]\nSuffix=\" #kw2\"\nPath=\"\"\n\n[Table]\nFName=115\nStatus=135\nFormat=88\nLength=70\n"
            "Clicks=54\nDens=58\nETA=63\n\n[Window]\nHeight=517\n");
}

TEST_F(SettingsTest, RoundTripEdgeCases) {
  struct {
    const char* name;
    const char* suffix;
    const char* outDir;
    const char* expectedSuffix;
    const char* expectedOutDir;
  } cases[] = {
      // An empty suffix is not applied: the default comes back.
      {"empty suffix", "", "/out", " #kw2", "/out"},
      // An empty output directory is applied.
      {"empty path", "_x", "", "_x", ""},
      {"leading blank", "  lead", "/a b/", "  lead", "/a b/"},
      {"trailing blank", "tail ", " /x ", "tail ", " /x "},
  };
  for (const auto& c : cases) {
    std::string path = Dir + "/k.ini";
    TSettingsValues saved;
    saved.Suffix = c.suffix;
    saved.OutDir = c.outDir;
    std::string error;
    ASSERT_TRUE(SaveSettings(path, saved, error)) << c.name;
    TSettingsValues loaded;
    loaded.OutDir = "was set";
    LoadSettings(path, loaded);
    EXPECT_EQ(loaded.Suffix, c.expectedSuffix) << c.name;
    EXPECT_EQ(loaded.OutDir, c.expectedOutDir) << c.name;
  }
}

TEST_F(SettingsTest, InvalidNumbersLeaveTheCurrentValues) {
  std::string path = Dir + "/k.ini";
  WriteAll(path,
           "[Table]\nFName=wide\nStatus=0x90\nFormat=-5\nLength=99999\nClicks=60\nDens=\nETA=7.5\n"
           "[Window]\nHeight=3\n[Mine]\nKeep=me\n");
  TSettingsValues values;
  LoadSettings(path, values);
  std::array<int, 7> expected = {115, 144, 88, 70, 60, 58, 63};
  EXPECT_EQ(values.ColumnWidths, expected);
  EXPECT_EQ(values.WindowHeight, 517);
  std::string error;
  ASSERT_TRUE(SaveSettings(path, values, error));
  EXPECT_NE(ReadAll(path).find("[Mine]\nKeep=me\n"), std::string::npos);
}

// The last folder used by a dialog is kept with its blanks; a file from before it was kept still
// loads whole and leaves the folder as it was.
TEST_F(SettingsTest, LastFolderIsKeptAndAFileWithoutItStillLoads) {
  std::string path = Dir + "/k.ini";
  WriteAll(path, "[Output]\nSuffix=\"_old\"\nPath=\"/o\"\n[Window]\nHeight=600\n");
  TSettingsValues values;
  values.LastFolder = "/was";
  LoadSettings(path, values);
  EXPECT_EQ(values.Suffix, "_old");
  EXPECT_EQ(values.WindowHeight, 600);
  EXPECT_EQ(values.LastFolder, "/was");
  values.LastFolder = " /music/a b ";
  std::string error;
  ASSERT_TRUE(SaveSettings(path, values, error)) << error;
  EXPECT_NE(ReadAll(path).find("[Window]\nHeight=600\nLastFolder=\" /music/a b \"\n"), std::string::npos);
  TSettingsValues loaded;
  LoadSettings(path, loaded);
  EXPECT_EQ(loaded.LastFolder, " /music/a b ");
}

TEST_F(SettingsTest, RefinedModeIsKeptAndAFileWithoutItLoadsWithItOff) {
  // Catches a mode read from the wrong key, a missing key taken as on, and a switch back to off that
  // is never written (the file would turn it on again at the next start).
  std::string path = Dir + "/k.ini";
  WriteAll(path, "[Output]\nSuffix=\"_old\"\nPath=\"/o\"\n");
  TSettingsValues values;
  values.Refine = true;
  LoadSettings(path, values);
  EXPECT_FALSE(values.Refine);
  std::string error;
  for (const bool refine : {true, false}) {
    values.Refine = refine;
    ASSERT_TRUE(SaveSettings(path, values, error)) << error;
    TSettingsValues loaded;
    loaded.Refine = !refine;
    LoadSettings(path, loaded);
    EXPECT_EQ(loaded.Refine, refine);
  }
}

// The folder of the settings file cannot be made (a file stands in the way) or the file's place
// is taken by a folder: the save fails with the message naming the path.
TEST_F(SettingsTest, UnwritableFileGivesTheMessageWithThePathInBothLanguages) {
  WriteAll(Dir + "/file", "x");
  std::filesystem::create_directory(Dir + "/k.ini");
  TSettingsValues values;
  std::string error;
  SetLanguage(TLanguage::German);
  EXPECT_FALSE(SaveSettings(Dir + "/file/klarwell/k.ini", values, error));
  EXPECT_EQ(error, "In " + Dir + "/file/klarwell/k.ini kann nicht geschrieben werden");
  SetLanguage(TLanguage::English);
  EXPECT_FALSE(SaveSettings(Dir + "/k.ini", values, error));
  EXPECT_EQ(error, "Unable to write to " + Dir + "/k.ini");
}

}  // namespace
}  // namespace klarwell
