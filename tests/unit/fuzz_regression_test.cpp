// Inputs the fuzzers once failed on, kept in tests/fuzz_regressions/<target>/, and the seed
// corpora of fuzz/corpus/<target>/, fed through the same entry functions the fuzz targets
// call. A fault comes back as a crash, a sanitizer report or an abort from a violated round
// trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"

namespace brova {
namespace {

namespace fs = std::filesystem;

struct TargetCase {
  const char* folder;
  void (*entry)(const uint8_t*, size_t);
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.folder; }

const TargetCase kTargets[] = {
    {"class_source", fuzz::FuzzClassSource}, {"markup", fuzz::FuzzMarkup},
    {"class_file", fuzz::FuzzClassFile},     {"base64", fuzz::FuzzBase64},
    {"snippet", fuzz::FuzzSnippet},
};

class FuzzRegressions : public ::testing::TestWithParam<TargetCase> {};

TEST_P(FuzzRegressions, KeptInputsAndSeedsRunCleanly) {
  ASSERT_TRUE(fuzz::BootKernel(BROVA_SOURCE_DIR));
  const fs::path root(BROVA_SOURCE_DIR);
  std::vector<fs::path> files;
  for (const fs::path& folder : {root / "tests" / "fuzz_regressions" / GetParam().folder,
                                 root / "fuzz" / "corpus" / GetParam().folder}) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) continue;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty()) << "every target has seeds";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    GetParam().entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressions, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<TargetCase>& info) {
                           return std::string(info.param.folder);
                         });

} // namespace
} // namespace brova
