#include "cli/Options.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/RunTexts.h"
#include "app/Version.h"
#include "cli/CliTexts.h"
#include "numeric/RoutineSet.h"

namespace klarwell::cli {

namespace {

// What getopt refused, named as the user typed it. A long option is the whole argument (a value
// after '=' included); a short one is "-" and its letter, since it may sit in a cluster. `token` is
// the argument getopt looked at last, `optopt` says which option it took it for.
void ReportWrongOption(bool missingValue, const char* token, const option* longOptions) {
  bool isLong = std::strncmp(token, "--", 2) == 0;
  // "--json -xq" stops at x while the last argument looked at is still "--json".
  if (isLong && optopt > 0 && optopt < 256) {
    const char* eq = std::strchr(token, '=');
    const std::string name(token + 2, eq ? static_cast<size_t>(eq - token - 2) : std::strlen(token + 2));
    isLong = false;
    for (const option* o = longOptions; o->name; ++o)
      isLong = isLong || (o->val == optopt && std::strncmp(o->name, name.c_str(), name.size()) == 0);
  }
  const std::string what = isLong ? std::string(token) : std::string("-") + static_cast<char>(optopt);
  const TCliText key = missingValue ? kMissingValue
                       : isLong && optopt != 0 && std::strchr(token, '=') ? kNoValueTaken
                                                                          : kUnknownOption;
  std::fprintf(stderr, "klarwell-cli: %s%s\n%s\n", CliText(key), what.c_str(), CliText(kTryHelp));
}

}  // namespace

int ParseOptions(int argc, char** argv, int cores, TCliOptions& options) {
  options.Jobs = cores;
  enum { kOptJson = 1000, kOptReference, kOptFilesFrom, kOptRefine };
  static const option longOptions[] = {
      {"suffix", required_argument, nullptr, 's'},  {"outdir", required_argument, nullptr, 'o'},
      {"jobs", required_argument, nullptr, 'j'},    {"json", no_argument, nullptr, kOptJson},
      {"quiet", no_argument, nullptr, 'q'},         {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},       {"reference", no_argument, nullptr, kOptReference},
      {"recursive", no_argument, nullptr, 'r'},     {"files-from", required_argument, nullptr, kOptFilesFrom},
      {"refine", no_argument, nullptr, kOptRefine},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  int opt;
  while ((opt = getopt_long(argc, argv, ":s:o:j:qrhV", longOptions, nullptr)) != -1) {
    switch (opt) {
      case 's': options.Settings.Suffix = optarg; break;
      case 'o': options.Settings.OutDir = optarg; break;
      case 'j': {
        char* end = nullptr;
        long n = std::strtol(optarg, &end, 10);
        if (!*optarg || *end || n < 1 || n > 1024) {
          std::fprintf(stderr, "klarwell-cli: %s%s\n", CliText(kBadJobs), optarg);
          return 2;
        }
        options.Jobs = n;
        break;
      }
      case kOptJson: options.Json = true; break;
      case kOptReference:
        // The straightforward road: one block at a time, and the reference numeric routines.
        options.Reference = true;
        options.Engine.Routines = TRoutineSet::Reference;
        break;
      case kOptRefine: options.Engine.Refine = true; break;
      case 'q': options.Quiet = true; break;
      case 'r': options.Recursive = true; break;
      case kOptFilesFrom: options.FilesFrom = optarg; break;
      case 'h':
        std::printf("%s\n%s", CliText(kUsage), CliText(kHelp));
        return 0;
      case 'V':
        std::printf("klarwell-cli %s\n", ProgramVersion);
        return 0;
      default:
        ReportWrongOption(opt == ':', argv[optind - 1], longOptions);
        return 2;
    }
  }
  options.Arguments.assign(argv + optind, argv + argc);
  if (options.Arguments.empty() && !options.FilesFrom) {
    std::fprintf(stderr, "klarwell-cli: %s\n%s\n%s\n", CliText(kNoFiles), CliText(kUsage), CliText(kTryHelp));
    return 2;
  }
  // The window falls back to beside the input when its folder has gone; a script that names a folder
  // means that folder, and writing elsewhere would overwrite earlier results without a word.
  const std::string& outDir = options.Settings.OutDir;
  if (!outDir.empty() && !DirectoryExists(outDir)) {
    std::fprintf(stderr, "klarwell-cli: %s%s\n", CliText(kNoOutDir), outDir.c_str());
    return 2;
  }
  if (!OutputSettingsUsable(options.Settings)) {
    std::fprintf(stderr, "klarwell-cli: %s\n", MissingOutputText().c_str());
    return 2;
  }
  return -1;
}

}  // namespace klarwell::cli
