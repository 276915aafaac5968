#include "tools/path_functions.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace brova {
namespace {

struct PathCase {
  const char* function;
  std::string a;
  std::string b;
  std::string expected; // "true" / "false" for the tests
};

std::string Apply(const PathCase& c) {
  auto flag = [](bool v) { return std::string(v ? "true" : "false"); };
  std::string f = c.function;
  if (f == "RelativePath") return RelativePath(c.a, c.b);
  if (f == "JoinPath") return JoinPath(c.a, c.b);
  if (f == "IsInsideFolder") return flag(IsInsideFolder(c.a, c.b));
  if (f == "CommonFolder") return CommonFolder(c.a, c.b);
  if (f == "SamePath") return flag(SamePath(c.a, c.b));
  if (f == "ParentFolder") return ParentFolder(c.a);
  if (f == "BaseNameNoExt") return BaseNameNoExt(c.a);
  if (f == "IsAbsolutePath") return flag(IsAbsolutePath(c.a));
  ADD_FAILURE() << "unknown function " << f;
  return {};
}

class PathFunctions : public testing::TestWithParam<PathCase> {};

TEST_P(PathFunctions, Table) {
  const PathCase& c = GetParam();
  EXPECT_EQ(Apply(c), c.expected) << c.function << "(" << c.a << ", " << c.b << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PathFunctions,
    testing::Values(
        PathCase{"RelativePath", "/Game/Usr/a.txt", "/Game", "Usr/a.txt"},
        PathCase{"RelativePath", "/Other/x", "/Game/Usr", "../../Other/x"},
        PathCase{"RelativePath", "/x", "/Game", "../x"},
        PathCase{"RelativePath", "/game", "/Game/", ""},
        PathCase{"RelativePath", "\\Game\\Usr\\index.cmml", "/GAME", "Usr/index.cmml"},
        PathCase{"RelativePath", "Usr\\a.txt", "/Game", "Usr/a.txt"},
        PathCase{"RelativePath", "/x/y", "rel/base", "/x/y"},
        PathCase{"JoinPath", "../b", "/a/c", "/a/b"},
        PathCase{"JoinPath", "./x", "/a", "/a/x"},
        PathCase{"JoinPath", "/y", "/a", "/y"},
        PathCase{"JoinPath", "..\\..\\..\\b", "\\a\\c\\", "/b"},
        PathCase{"JoinPath", "files\\save//game1.dat", "/Game/Usr/", "/Game/Usr/files/save/game1.dat"},
        PathCase{"JoinPath", "x", "", "x"},
        PathCase{"JoinPath", "../../x", "a", "../x"},
        PathCase{"JoinPath", "", "/a/", "/a"},
        PathCase{"IsInsideFolder", "/Gamex", "/Game", "false"},
        PathCase{"IsInsideFolder", "/Game/x", "/game/", "true"},
        PathCase{"IsInsideFolder", "/Game", "/Game", "true"},
        PathCase{"IsInsideFolder", "/Game/files/../secret", "/Game/files", "false"},
        PathCase{"IsInsideFolder", "/anything", "/", "true"},
        PathCase{"IsInsideFolder", "../x", ".", "false"},
        PathCase{"IsInsideFolder", "", "/", "false"},
        PathCase{"CommonFolder", "/a/x/1", "/a/y", "/a"},
        PathCase{"CommonFolder", "/a/x", "/A", "/A"},
        PathCase{"CommonFolder", "/a", "/a/x", "/a"},
        PathCase{"CommonFolder", "/p/x", "/q/y", "/"},
        PathCase{"CommonFolder", "p/x", "q/y", ""},
        PathCase{"SamePath", "/Game/", "/game", "true"},
        PathCase{"SamePath", "/a/./b", "\\a\\b", "true"},
        PathCase{"SamePath", "/a/b", "/a/c", "false"},
        PathCase{"SamePath", "/a", "/a/b", "false"},
        // The second byte of a double-byte character keeps its case.
        PathCase{"SamePath", "/\x83\x41", "/\x83\x61", "false"},
        PathCase{"ParentFolder", "/a/b", "", "/a"},
        PathCase{"ParentFolder", "/a", "", "/"},
        PathCase{"ParentFolder", "/", "", ""},
        PathCase{"ParentFolder", "a", "", ""},
        PathCase{"ParentFolder", "a\\b\\", "", "a"},
        PathCase{"BaseNameNoExt", "/a/b.tar.gz", "", "b.tar"},
        PathCase{"BaseNameNoExt", "Usr\\dir.x\\Main", "", "Main"},
        PathCase{"BaseNameNoExt", "", "", ""},
        PathCase{"IsAbsolutePath", "/a", "", "true"},
        PathCase{"IsAbsolutePath", "\\a", "", "true"},
        PathCase{"IsAbsolutePath", "a/b", "", "false"}));

TEST(ResolveExistingPath, FindsEachComponentIgnoringCase) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("brova_paths_" + std::to_string(::getpid()));
  fs::create_directories(root / "Usr" / "Classes");
  std::ofstream(root / "Usr" / "Classes" / "Main.brova") << "x";
  std::string base = root.string();

  EXPECT_EQ(ResolveExistingPath(base + "/usr/CLASSES/main.Brova"), base + "/Usr/Classes/Main.brova");
  EXPECT_EQ(ResolveExistingPath(base + "\\usr\\classes"), base + "/Usr/Classes");
  EXPECT_EQ(ResolveExistingPath(base + "/Usr/./classes/../Classes"), base + "/Usr/./Classes/../Classes");
  // Nothing matches: the input comes back as it was.
  EXPECT_EQ(ResolveExistingPath(base + "\\usr\\missing.txt"), base + "\\usr\\missing.txt");
  fs::remove_all(root);
}

} // namespace
} // namespace brova
