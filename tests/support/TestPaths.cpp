#include "tests/support/TestPaths.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace klarwell::test {

std::string SourceDir() { return KLARWELL_SOURCE_DIR; }

std::string BinaryDir() { return KLARWELL_BINARY_DIR; }

std::string CorpusDir() {
  std::filesystem::path p = std::filesystem::path(KLARWELL_SOURCE_DIR) / ".." / "shared" / "wav-corpus";
  std::error_code ec;
  if (std::filesystem::is_directory(p, ec)) return std::filesystem::weakly_canonical(p).string();
  return {};
}

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "klarwell-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace klarwell::test
