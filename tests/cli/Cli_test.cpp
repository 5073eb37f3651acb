// klarwell-cli as a user runs it: exit codes, the table and the JSON lines, the language, jobs that
// never change a result, and a cancel that leaves nothing behind.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "cli/Json.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDirTest.h"
#include "tests/support/SignalWav.h"

namespace klarwell {
namespace {

namespace fs = std::filesystem;
using test::FileExists;
using test::ReadFileBytes;

using test::TRunResult;

// Starts klarwell-cli with the arguments and extra environment variables; when `whileRunning` is
// given it is called with the child's pid once the child has started.
TRunResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                  const std::function<void(pid_t)>& whileRunning = {}) {
  return test::RunChild(KLARWELL_CLI, args, {env, {}, whileRunning});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : line) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

class CliTest : public test::TScratchDirTest {};

TEST_F(CliTest, WrongCallsExitWithTwo) {
  const std::string f = MakeFile("a.wav", 0.5, 0, 1);
  TRunResult none = RunCli({});
  EXPECT_EQ(none.Exit, 2);
  TRunResult blank = RunCli({"-s", "  ", f}, {"LC_ALL=C"});
  EXPECT_EQ(blank.Exit, 2);
  EXPECT_NE(blank.Err.find("File suffix or output directory must be given."), std::string::npos) << blank.Err;
  EXPECT_FALSE(FileExists(Path("a.wav.wav")));
  EXPECT_EQ(RunCli({"--jobs", "0", f}).Exit, 2);
  EXPECT_EQ(RunCli({"--bogus", f}).Exit, 2);
  EXPECT_EQ(RunCli({"--help"}).Exit, 0);
  TRunResult version = RunCli({"-V"});
  EXPECT_EQ(version.Exit, 0);
  EXPECT_NE(version.Out.find("2.70"), std::string::npos);
}

TEST_F(CliTest, TableHasTheSevenColumnsAndExitReflectsEveryFile) {
  const std::string good = MakeFile("good.wav", 1.0, 2, 3);
  const std::string bad = Path("bad.wav");
  { std::ofstream(bad) << "RIFF????WAVEjunk"; }
  TRunResult r = RunCli({"-q", good, bad}, {"LC_ALL=C"});
  EXPECT_EQ(r.Exit, 1);
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 3u) << r.Out;
  EXPECT_EQ(lines[0], "File\tStatus\tFormat\tLength\tClicks\tClicks/sec\tTime");
  std::vector<std::string> row = Split(lines[1], '\t');
  ASSERT_EQ(row.size(), 7u);
  EXPECT_EQ(row[0], "good.wav");
  EXPECT_EQ(row[1], "done");
  EXPECT_EQ(row[2], "44100/2/PCM");
  EXPECT_EQ(row[3], "00:00:01");
  EXPECT_EQ(Split(lines[2], '\t')[1], "Format not found");
  EXPECT_TRUE(FileExists(Path("good #kw2.wav")));
  EXPECT_FALSE(FileExists(Path("bad #kw2.wav")));

  EXPECT_EQ(RunCli({"-q", good}, {"LC_ALL=C"}).Exit, 0);
}

TEST_F(CliTest, GermanLocaleGivesGermanTextsAndDecimalComma) {
  const std::string f = MakeFile("de.wav", 1.0, 3, 5);
  TRunResult r = RunCli({"-q", f}, {"LC_ALL=de_DE.UTF-8"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Datei\tStatus\tFormat\tLänge\tKlicks\tKlicks/sek\tZeit");
  std::vector<std::string> row = Split(lines[1], '\t');
  EXPECT_EQ(row[1], "fertig");
  EXPECT_NE(row[5].find(','), std::string::npos) << row[5];
  TRunResult blank = RunCli({"-s", "", f}, {"LC_ALL=de_DE.UTF-8"});
  EXPECT_NE(blank.Err.find("Es muß ein Dateisuffix oder ein Ausgabeverzeichnis angegeben werden."),
            std::string::npos);
}

TEST_F(CliTest, JsonLinesCarryTheFieldsAndCountedRepairsMatchTheClicks) {
  const std::string a = MakeFile("a.wav", 4.5, 10, 7);
  const std::string b = MakeFile("b.wav", 1.0, 0, 8, 1);
  fs::create_directory(Path("out"));
  TRunResult r = RunCli({"-q", "--json", "-o", Path("out"), "-s", "", a, b}, {"LC_ALL=C"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 2u) << r.Out;
  const std::string& j = lines[0];
  for (const char* key : {"\"file\":", "\"output\":", "\"ok\":true", "\"status\":\"done\"", "\"format\":\"44100/2/PCM\"",
                          "\"length\":\"00:00:04\"", "\"sample_rate\":44100", "\"channels\":2", "\"frames\":198450",
                          "\"clicks\":", "\"clicks_per_sec\":", "\"seconds\":", "\"blocks\":[", "\"repairs\":["}) {
    EXPECT_NE(j.find(key), std::string::npos) << key << " in " << j;
  }
  EXPECT_NE(j.find("\"file\":" + cli::JsonQuote(a)), std::string::npos);
  EXPECT_NE(j.find("\"output\":" + cli::JsonQuote(Path("out") + "/a.wav")), std::string::npos);
  // Three blocks: 0, 83790 and the last one moved back to end at frame 198450.
  EXPECT_NE(j.find("{\"position\":0,"), std::string::npos);
  EXPECT_NE(j.find("{\"position\":83790,"), std::string::npos);
  EXPECT_NE(j.find("{\"position\":110250,"), std::string::npos);

  long long clicks = -1;
  sscanf(j.c_str() + j.find("\"clicks\":"), "\"clicks\":%lld", &clicks);
  size_t counted = 0;
  for (size_t at = 0; (at = j.find("\"counted\":true", at)) != std::string::npos; ++at) ++counted;
  EXPECT_EQ(static_cast<long long>(counted), clicks);
  EXPECT_GT(clicks, 0);
  EXPECT_NE(lines[1].find("\"channels\":1"), std::string::npos);
}

TEST_F(CliTest, NumberOfJobsNeverChangesAnOutput) {
  std::vector<std::string> inputs;
  for (int i = 0; i < 4; ++i) {
    std::string name = "f";  // built piecewise: g++ 12 warns falsely on "f" + to_string(i) here
    name += std::to_string(i);
    name += ".wav";
    inputs.push_back(MakeFile(name, 2.5, 6, 20 + i));
  }
  fs::create_directory(Path("j1"));
  fs::create_directory(Path("j4"));
  std::vector<std::string> a1{"-q", "--json", "-j", "1", "-o", Path("j1")}, a4{"-q", "--json", "-j", "4", "-o", Path("j4")};
  a1.insert(a1.end(), inputs.begin(), inputs.end());
  a4.insert(a4.end(), inputs.begin(), inputs.end());
  TRunResult r1 = RunCli(a1), r4 = RunCli(a4);
  ASSERT_EQ(r1.Exit, 0);
  ASSERT_EQ(r4.Exit, 0);
  for (int i = 0; i < 4; ++i) {
    const std::string name = "/f" + std::to_string(i) + " #kw2.wav";
    EXPECT_EQ(ReadFileBytes(Path("j1") + name), ReadFileBytes(Path("j4") + name)) << name;
  }
  // The click lists agree too (elapsed seconds and output folders aside).
  auto strip = [](std::string s) {
    for (const char* key : {"\"seconds\":", "\"output\":"}) {
      size_t at = s.find(key);
      if (at != std::string::npos) s.erase(at, s.find(',', at) - at);
    }
    return s;
  };
  std::vector<std::string> l1 = Lines(r1.Out), l4 = Lines(r4.Out);
  ASSERT_EQ(l1.size(), l4.size());
  for (size_t i = 0; i < l1.size(); ++i) EXPECT_EQ(strip(l1[i]), strip(l4[i]));
}

TEST_F(CliTest, InterruptCancelsLeavesNoOutputAndKeepsTheInput) {
  const std::string f = MakeFile("long.wav", 30.0, 20, 9);
  const std::string before = ReadFileBytes(f);
  const std::string output = Path("long #kw2.wav");
  TRunResult r = RunCli({"-q", f}, {"LC_ALL=C"}, [&](pid_t pid) {
    // Wait until the output exists, i.e. the run is under way.
    for (int i = 0; i < 2000 && !FileExists(output); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGINT);
  });
  EXPECT_EQ(r.Exit, 130) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("cancelled"), std::string::npos) << r.Out;
  EXPECT_FALSE(FileExists(output));
  EXPECT_EQ(ReadFileBytes(f), before);
}

}  // namespace
}  // namespace klarwell
