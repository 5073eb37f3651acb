// klarwell-cli as a user runs it: exit codes, the table and the JSON lines, the language, jobs that
// never change a result, and a cancel that leaves nothing behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
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

// The value of `key` in a JSON line: a string without its quotes, or the literal as written.
std::string Field(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  size_t at = line.find(tag);
  if (at == std::string::npos) return "<absent>";
  at += tag.size();
  if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
  return line.substr(at, line.find_first_of(",}", at) - at);
}

// The given field of every JSON line of a run's output.
std::vector<std::string> Fields(const TRunResult& r, const std::string& key) {
  std::vector<std::string> values;
  for (const std::string& line : Lines(r.Out)) values.push_back(Field(line, key));
  return values;
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
  EXPECT_EQ(RunCli({"--help"}).Exit, 0);
  TRunResult version = RunCli({"-V"});
  EXPECT_EQ(version.Exit, 0);
  EXPECT_NE(version.Out.find("2.70"), std::string::npos);
}

// A wrong option is named as the user typed it, and a missing value is called that: a long option's
// value was once cast to a character and printed as a raw byte.
TEST_F(CliTest, WrongOptionsAreNamedAsTyped) {
  const std::string f = MakeFile("a.wav", 0.3, 0, 1);
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{f, "-o"}, "Option needs a value: -o\n"},
      {{f, "--outdir"}, "Option needs a value: --outdir\n"},
      {{f, "--files-from"}, "Option needs a value: --files-from\n"},
      {{"--json=1", f}, "Option takes no value: --json=1\n"},
      {{"--bogus", f}, "Unknown option: --bogus\n"},
      {{"--json", "-qx", f}, "Unknown option: -x\n"},
  };
  for (const auto& c : cases) {
    TRunResult r = RunCli(c.args, {"LC_ALL=C"});
    EXPECT_EQ(r.Exit, 2);
    EXPECT_EQ(r.Err, "klarwell-cli: " + c.message + "Try: klarwell-cli --help\n");
  }
  // One table of every option, ahead of the exit rules.
  const std::string help = RunCli({"--help"}, {"LC_ALL=C"}).Out;
  EXPECT_NE(help.find("FILE|FOLDER"), std::string::npos) << help;
  size_t lastOption = 0;
  for (const char* option : {"--suffix", "--outdir", "--recursive", "--files-from", "--jobs", "--refine",
                             "--reference", "--json", "--quiet", "--help", "--version"})
    lastOption = std::max(lastOption, help.find(option));
  EXPECT_LT(lastOption, help.find("Exit status")) << help;
}

// A file shorter than its header is processed as far as it goes, and says so.
TEST_F(CliTest, ACutFileEndsDoneWithAWarning) {
  const std::string whole = MakeFile("whole.wav", 2.0, 2, 2), cut = MakeFile("cut.wav", 2.0, 2, 3);
  fs::resize_file(cut, fs::file_size(cut) / 2);
  TRunResult j = RunCli({"-q", "--json", whole, cut}, {"LC_ALL=C"});
  TRunResult t = RunCli({"-q", whole, cut}, {"LC_ALL=C"});
  EXPECT_EQ(j.Exit, 0);
  EXPECT_EQ(Fields(j, "code"), (std::vector<std::string>{"done", "done"}));
  EXPECT_EQ(Fields(j, "warnings"), (std::vector<std::string>{"[]", "[\"truncated\"]"}));
  const std::vector<std::string> rows = Lines(t.Out);
  ASSERT_EQ(rows.size(), 3u) << t.Out;
  EXPECT_EQ(Split(rows[1], '\t')[1], "done");
  EXPECT_EQ(Split(rows[2], '\t')[1], "done (file shorter than its header)");
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
  EXPECT_EQ(row[0], good);  // as given: two x.wav from two folders must be told apart
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

TEST_F(CliTest, RefineSwitchesTheModeThatEveryRepairReports) {
  // Catches the flag not reaching the engine (every repair would say "default") and a mode taken from
  // the wrong run.
  const std::string a = MakeFile("a.wav", 2.0, 6, 9);
  for (const bool refine : {false, true}) {
    const std::string dir = Path(refine ? "refined" : "default");
    fs::create_directory(dir);
    std::vector<std::string> args = {"-q", "--json", "-o", dir, "-s", ""};
    if (refine) args.push_back("--refine");
    args.push_back(a);
    TRunResult r = RunCli(args, {"LC_ALL=C"});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    size_t repairs = 0, mode = 0;
    for (size_t at = 0; (at = r.Out.find("\"counted\":", at)) != std::string::npos; ++at) ++repairs;
    const std::string key = refine ? "\"mode\":\"refined\"" : "\"mode\":\"default\"";
    for (size_t at = 0; (at = r.Out.find(key, at)) != std::string::npos; ++at) ++mode;
    EXPECT_GT(repairs, 0u) << r.Out;
    EXPECT_EQ(mode, repairs) << r.Out;
  }
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
    // Wait until the output is being written, i.e. the run is under way.
    for (int i = 0; i < 2000 && !test::OutputInProgress(dir_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGINT);
  });
  EXPECT_EQ(r.Exit, 130) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("cancelled"), std::string::npos) << r.Out;
  EXPECT_FALSE(FileExists(output));
  EXPECT_FALSE(test::OutputInProgress(dir_));
  EXPECT_EQ(ReadFileBytes(f), before);
}

TEST_F(CliTest, OutputFolderThatIsNoFolderIsAWrongCallAndNothingIsWritten) {
  const std::string f = MakeFile("x.wav", 0.5, 0, 1);
  for (const std::string& outDir : {Path("no/such/dir"), f}) {
    TRunResult r = RunCli({"-q", "-o", outDir, f}, {"LC_ALL=C"});
    EXPECT_EQ(r.Exit, 2) << outDir;
    EXPECT_NE(r.Err.find("Not an existing output directory: " + outDir), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "something was written";
}

TEST_F(CliTest, JsonAndTableCarryTheCodeTheSystemsReasonAndTheFormat) {
  const std::string pcm = MakeFile("pcm.wav", 0.5, 1, 2);
  const std::string flt = Path("float.wav");
  ASSERT_TRUE(test::WriteSignalWav(flt, test::MakeMusic(0.5, 44100, 1, 3), 4, true));
  const std::string junk = Path("junk.wav");
  { std::ofstream(junk) << "not a wave file"; }
  const std::string blocked = MakeFile("blocked.wav", 0.5, 0, 4);
  fs::create_directories(Path("out/blocked #kw2.wav"));  // the output's name is taken by a folder
  const std::vector<std::string> files{pcm, flt, Path("missing.wav"), junk, blocked};
  struct Expect {
    const char *code, *reason, *bits, *kind, *tableStatus;
  } expected[] = {
      {"done", "null", "16", "pcm", "done"},
      {"done", "null", "32", "float", "done"},
      {"open_error", "No such file or directory", "0", "null", "Open error: No such file or directory"},
      {"open_error", "null", "0", "null", "No Wav file"},
      {"create_error", "Is a directory", "16", "pcm", "Create error: Is a directory"},
  };
  std::vector<std::string> json{"-q", "--json", "-o", Path("out")}, table{"-q", "-o", Path("out")};
  json.insert(json.end(), files.begin(), files.end());
  table.insert(table.end(), files.begin(), files.end());
  TRunResult j = RunCli(json, {"LC_ALL=C"}), t = RunCli(table, {"LC_ALL=C"});
  EXPECT_EQ(j.Exit, 1);
  std::vector<std::string> rows = Lines(t.Out);
  ASSERT_EQ(Lines(j.Out).size(), files.size()) << j.Out;
  ASSERT_EQ(rows.size(), files.size() + 1) << t.Out;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(Fields(j, "code")[i], expected[i].code);
    EXPECT_EQ(Fields(j, "reason")[i], expected[i].reason);
    EXPECT_EQ(Fields(j, "bits_per_sample")[i], expected[i].bits);
    EXPECT_EQ(Fields(j, "format_kind")[i], expected[i].kind);
    std::vector<std::string> cells = Split(rows[i + 1], '\t');
    ASSERT_EQ(cells.size(), 7u);
    EXPECT_EQ(cells[1], expected[i].tableStatus);
  }
}

// Two files of one run must never write into one output: the later claim is refused before
// anything is written, whatever way the same place is named.
TEST_F(CliTest, AnOutputClaimedTwiceOrThatIsAnotherInputIsRefused) {
  fs::create_directories(Path("a"));
  fs::create_directories(Path("b"));
  const std::string ax = MakeFile("a/x.wav", 0.5, 2, 5), bx = MakeFile("b/x.wav", 0.5, 2, 6);
  const std::string y = MakeFile("a/y.wav", 0.5, 2, 7), yOut = MakeFile("a/y #kw2.wav", 0.5, 2, 8);
  const std::string yBefore = ReadFileBytes(yOut);
  fs::create_directory_symlink(Path("a"), Path("link"));
  fs::create_directories(Path("out"));
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> codes;
  } cases[] = {
      {{"-o", Path("out"), ax, bx}, {"done", "output_taken"}},                   // same name, two folders
      {{ax, Path("a/../a/x.wav")}, {"done", "output_taken"}},                    // one folder named two ways
      {{ax, Path("link/x.wav")}, {"done", "output_taken"}},                      // and through a link
      {{y, yOut}, {"output_taken", "done"}},                                     // an output that is an input
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"-q", "--json", "-j", "2"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args, {"LC_ALL=C"});
    SCOPED_TRACE(r.Out);
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(Fields(r, "code"), c.codes);
  }
  EXPECT_EQ(ReadFileBytes(yOut), yBefore) << "an input was overwritten as another file's output";
}

// A run cut short, by Ctrl-C or by a write failure, still reports every input in the order given.
TEST_F(CliTest, RunCutShortListsEveryInput) {
  const std::string first = MakeFile("first.wav", 30.0, 20, 9);
  const std::string second = MakeFile("second.wav", 0.5, 0, 10), third = MakeFile("third.wav", 0.5, 0, 11);
  const std::string output = Path("first #kw2.wav");
  auto interrupt = [&](pid_t pid) {
    for (int i = 0; i < 2000 && !test::OutputInProgress(dir_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGINT);
  };
  // Runs in the child: async-signal-safe calls only.
  auto smallFiles = [] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
  };
  struct Case {
    test::TChildSetup setup;
    int exit;
    const char *code, *reason;
  } cases[] = {
      {{{"LC_ALL=C"}, {}, interrupt}, 130, "cancelled", "null"},
      {{{"LC_ALL=C"}, smallFiles, {}}, 1, "write_error", "File too large"},
  };
  for (const Case& c : cases) {
    TRunResult r = test::RunChild(KLARWELL_CLI, {"-q", "--json", "-j", "1", first, second, third}, c.setup);
    SCOPED_TRACE(r.Out + r.Err);
    EXPECT_EQ(r.Exit, c.exit);
    EXPECT_EQ(Fields(r, "file"), (std::vector<std::string>{first, second, third}));
    EXPECT_EQ(Fields(r, "code"), (std::vector<std::string>{c.code, "not_started", "not_started"}));
    EXPECT_EQ(Fields(r, "reason")[0], c.reason);
    EXPECT_EQ(Fields(r, "status")[1], "not started");
    EXPECT_EQ(Fields(r, "ok")[2], "false");
    EXPECT_FALSE(FileExists(output));
  }
}

TEST_F(CliTest, FolderArgumentsStandForTheirWavFilesInNameOrder) {
  fs::create_directories(Path("f/sub"));
  fs::create_directories(Path("none"));
  fs::create_directories(Path("out"));
  for (const char* name : {"f/b.wav", "f/A.WAV", "f/a #kw2.wav", "f/sub/d.wav", "f/sub/d #kw2.wav"})
    MakeFile(name, 0.3, 0, 12);
  { std::ofstream(Path("f/c.txt")) << "text"; }
  { std::ofstream(Path("none/z.txt")) << "text"; }
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::vector<std::string> files;
    bool warnsNone;
  } cases[] = {
      {{Path("f")}, 0, {Path("f/A.WAV"), Path("f/b.wav")}, false},
      {{"-r", Path("f") + "/"}, 0, {Path("f/A.WAV"), Path("f/b.wav"), Path("f/sub/d.wav")}, false},
      {{Path("f/a #kw2.wav")}, 0, {Path("f/a #kw2.wav")}, false},  // named files are taken as they are
      {{Path("none"), Path("f/b.wav")}, 0, {Path("f/b.wav")}, true},
      {{"-r", Path("none")}, 2, {}, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"-q", "--json", "-o", Path("out")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args, {"LC_ALL=C"});
    SCOPED_TRACE(c.args.back() + "\n" + r.Out + r.Err);
    EXPECT_EQ(r.Exit, c.exit);
    EXPECT_EQ(Fields(r, "file"), c.files);
    EXPECT_EQ(r.Err.find("No audio files in folder: " + Path("none")) != std::string::npos, c.warnsNone);
  }
}

// A list's paths follow the arguments, one a line, from a file or from standard input; a list that
// cannot be read is a wrong call that reports and writes nothing.
TEST_F(CliTest, FilesFromAListFollowTheArgumentsAndAnUnreadableListIsAWrongCall) {
  const std::string a = MakeFile("a.wav", 0.3, 0, 21), b = MakeFile("b c.wav", 0.3, 0, 22);
  const std::string d = MakeFile("d.wav", 0.3, 0, 23), e = MakeFile("e.wav", 0.3, 0, 24);
  const std::string list = Path("list.txt"), missing = Path("missing.txt");
  { std::ofstream(list, std::ios::binary) << b << "\n\n" << d << "\r\n" << e; }  // no line end at the end
  fs::create_directories(Path("out"));
  const char* listOnStdin = list.c_str();
  auto fromStdin = [listOnStdin] { dup2(open(listOnStdin, O_RDONLY), 0); };
  struct Case {
    std::vector<std::string> args;
    std::function<void()> beforeExec;
    const char* language;
    int exit;
    std::vector<std::string> files;
    std::string error;
  } cases[] = {
      {{"--files-from", list, a}, {}, "LC_ALL=C", 0, {a, b, d, e}, ""},
      {{"--files-from=-"}, fromStdin, "LC_ALL=C", 0, {b, d, e}, ""},
      {{"--files-from", missing, a}, {}, "LC_ALL=C", 2, {}, "Cannot read file list: " + missing + ": No such file"},
      {{"--files-from", Path("out"), a}, {}, "LC_ALL=C", 2, {}, "Cannot read file list: " + Path("out") + ": Is a"},
      {{"--files-from", missing}, {}, "LC_ALL=de_DE.UTF-8", 2, {}, "Dateiliste nicht lesbar: " + missing},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"-q", "--json", "-o", Path("out")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = test::RunChild(KLARWELL_CLI, args, {{c.language}, c.beforeExec, {}});
    SCOPED_TRACE(c.args.front() + " " + c.args[1 % c.args.size()] + "\n" + r.Out + r.Err);
    EXPECT_EQ(r.Exit, c.exit);
    EXPECT_EQ(Fields(r, "file"), c.files);
    EXPECT_NE(r.Err.find(c.error), std::string::npos);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 4);
}

// The progress line is redrawn in place with "\r": a line wider than the terminal wraps and leaves
// a trail of broken lines. Widths from the terminal itself and from COLUMNS.
// The files are long enough that the program is still running when the line is first painted (after
// a quarter of a second), however fast the machine.
TEST_F(CliTest, ProgressLineNeverFillsTheTerminalWidth) {
  const std::string a = MakeFile("a rather long name for a narrow terminal, Seite \xc3\xa4.wav", 60.0, 5, 13);
  const std::string b = MakeFile("b.wav", 60.0, 5, 14);
  struct Case {
    unsigned short terminalColumns;
    std::string columnsVariable;
    int width;
  } cases[] = {{0, "COLUMNS=24", 24}, {0, "COLUMNS=60", 60}, {45, "COLUMNS=200", 45}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    int master = -1, slave = -1;
    winsize size{};
    size.ws_col = c.terminalColumns;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    std::string shown;
    test::TChildSetup setup;
    setup.Env = {"LC_ALL=C", c.columnsVariable};
    setup.BeforeExec = [slave] { dup2(slave, 2); };
    setup.WhileRunning = [&](pid_t) {
      close(slave);
      char buf[4096];
      ssize_t n;
      // Ends with EIO once the child has closed the terminal.
      while ((n = read(master, buf, sizeof buf)) > 0) shown.append(buf, static_cast<size_t>(n));
    };
    TRunResult r = test::RunChild(KLARWELL_CLI, {"-j", "2", "-s", " #p" + std::to_string(c.width), a, b}, setup);
    close(master);
    EXPECT_EQ(r.Exit, 0) << r.Out;
    size_t drawn = 0;
    for (std::string line : Split(shown, '\r')) {
      for (size_t at; (at = line.find("\033[K")) != std::string::npos;) line.erase(at, 3);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      size_t columns = 0;
      for (unsigned char ch : line) columns += (ch & 0xC0) != 0x80;
      EXPECT_LT(columns, static_cast<size_t>(c.width)) << line;
      drawn += line.find('%') != std::string::npos;
    }
    EXPECT_GT(drawn, 0u) << "no progress line was drawn";
  }
}

}  // namespace
}  // namespace klarwell
