#include "app/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

TIniFile FromText(const std::string& text) {
  std::string dir = test::MakeTempDir();
  WriteAll(dir + "/t.ini", text);
  TIniFile ini;
  EXPECT_TRUE(ini.Load(dir + "/t.ini"));
  std::filesystem::remove_all(dir);
  return ini;
}

// Quote removal and blank trimming decide whether a suffix keeps its leading blank.
TEST(IniFile, ReadStringStripsBlanksThenOnePairOfQuotes) {
  TIniFile ini = FromText(
      "[Output]\r\n"
      "Suffix=\" #kw2\"\r\n"
      "Plain=  some text  \n"
      "Double=\"\"x\"\"\n"
      "Single=' a '\n"
      "Lone=\"open\n"
      "Mixed=\"a'\n"
      "Empty=\"\"\n"
      "  Spaced Key  =  v \n");
  struct {
    const char* key;
    const char* expected;
  } cases[] = {
      {"Suffix", " #kw2"}, {"Plain", "some text"}, {"Double", "\"x\""}, {"Single", " a "},
      {"Lone", "\"open"},  {"Mixed", "\"a'"},      {"Empty", ""},       {"Spaced Key", "v"},
  };
  for (const auto& c : cases) EXPECT_EQ(ini.ReadString("Output", c.key, "default"), c.expected) << c.key;
}

TEST(IniFile, MissingSectionOrKeyGivesTheDefaultAndNamesIgnoreCase) {
  TIniFile ini = FromText("; comment\n[Table]\nFName=120\n[Other]\nKey=1\n");
  EXPECT_EQ(ini.ReadString("table", "FNAME", "d"), "120");
  EXPECT_EQ(ini.ReadString("Table", "Key", "d"), "d");  // a key of another section is not found
  EXPECT_EQ(ini.ReadString("Missing", "FName", "d"), "d");
  TIniFile empty;
  EXPECT_FALSE(empty.Load("/nonexistent/dir/x.ini"));
  EXPECT_EQ(empty.ReadString("Table", "FName", "d"), "d");
}

TEST(IniFile, ReadValuesAreCutAt2047Characters) {
  TIniFile ini = FromText("[S]\nLong=" + std::string(3000, 'a') + "\n");
  EXPECT_EQ(ini.ReadString("S", "Long", "").size(), 2047u);
}

TEST(IniFile, IntegersAreDecimalOrHexAndAnythingElseIsTheDefault) {
  struct {
    const char* text;
    bool ok;
    int value;
  } cases[] = {
      {"115", true, 115},
      {"-3", true, -3},
      {"+7", true, 7},
      {"0x1F", true, 31},
      {"0XfF", true, 255},
      {"0xFFFFFFFF", true, -1},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"0x100000000", false, 0},
      {"abc", false, 0},
      {"12px", false, 0},
      {"", false, 0},
      {"0x", false, 0},
      {"1 2", false, 0},
      {"-", false, 0},
  };
  for (const auto& c : cases) {
    int value = 0;
    EXPECT_EQ(ParseIniInteger(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  TIniFile ini = FromText("[T]\nW=wide\nH= 0x20 \n");
  EXPECT_EQ(ini.ReadInteger("T", "W", 58), 58);
  EXPECT_EQ(ini.ReadInteger("T", "H", 0), 32);
}

// Writing must keep what the program does not own: other sections, other keys, comments, order.
TEST(IniFile, WriteKeepsOtherSectionsKeysAndOrder) {
  TIniFile ini = FromText("; mine\n[Output]\nSuffix=old\nExtra=keep\n\n[Other]\nA=1\n");
  ini.WriteString("output", "suffix", "\" x\"");
  ini.WriteString("Output", "Path", "\"\"");
  ini.WriteInteger("Window", "Height", 517);
  ini.WriteString("Other", "B", "2");
  EXPECT_EQ(ini.Text(),
            "; mine\n[Output]\nsuffix=\" "
            "x\"\nExtra=keep\nPath=\"\"\n\n[Other]\nA=1\nB=2\n\n[Window]\nHeight=517\n");
}

// A line break in a value would add a line of its own to the file, which could pose as a section.
TEST(IniFile, LineBreaksInAValueCannotInjectLines) {
  TIniFile ini;
  ini.WriteString("Output", "Path", "a\n[Table]\nFName=1");
  EXPECT_EQ(ini.ReadString("Table", "FName", "none"), "none");
  EXPECT_EQ(ini.Text(), "[Output]\nPath=a [Table] FName=1\n");
}

TEST(IniFile, SaveReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  std::string dir = test::MakeTempDir();
  std::string path = dir + "/k.ini";
  WriteAll(path, "[A]\nx=1\n");
  TIniFile ini;
  ini.Load(path);
  ini.WriteString("B", "y", "2");
  std::string error;
  ASSERT_TRUE(ini.Save(path, error)) << error;
  EXPECT_EQ(ReadAll(path), "[A]\nx=1\n\n[B]\ny=2\n");
  size_t files = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir)) (void)entry, ++files;
  EXPECT_EQ(files, 1u);
  std::filesystem::remove_all(dir);
}

// A failed save must report failure, leave what stood at the path alone and leave no temporary file.
TEST(IniFile, FailedSaveIsReportedAndLeavesNothingBehind) {
  std::string dir = test::MakeTempDir();
  WriteAll(dir + "/plain", "x");
  std::filesystem::create_directory(dir + "/k.ini");
  TIniFile ini;
  ini.WriteString("A", "x", "2");
  for (std::string path : {dir + "/k.ini", dir + "/plain/k.ini", dir + "/missing/k.ini"}) {
    std::string error;
    EXPECT_FALSE(ini.Save(path, error)) << path;
    EXPECT_FALSE(error.empty()) << path;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/k.ini"));
  EXPECT_EQ(ReadAll(dir + "/plain"), "x");
  size_t files = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir)) (void)entry, ++files;
  EXPECT_EQ(files, 2u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace klarwell
