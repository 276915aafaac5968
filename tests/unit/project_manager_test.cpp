// Projects: the project file made for a page's folder, the page list rebuilt from the folder,
// parameters and their switches, the project natives, and the page helpers that need no
// compiler (generator attributes, cache names, the recorded hash, the file collector).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "class_builder.h"
#include "compiler/class_file.h"
#include "native_frame.h"
#include "natives/project_natives.h"
#include "resource_support.h"
#include "resources/custom_resource.h"
#include "resources/generator.h"
#include "resources/page_loader.h"
#include "resources/param.h"
#include "resources/project_manager.h"
#include "runtime/errors.h"
#include "runtime/frame_scheduler.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

namespace fs = std::filesystem;
using testing::Crlf;
using testing::ReadFile;
using testing::WriteFile;

// A kernel with just what projects need: the globals list and the class of page entries.
constexpr const char* kKernel = R"(<resourcelist name="root">
 <resourcelist name="usrglobal">
 </resourcelist>
 <resourcelist name="classes">
  <resourcelist name="customres">
   <class name="page"/>
  </resourcelist>
 </resourcelist>
</resourcelist>
)";

class Projects : public testing::TreeTest {
protected:
  void SetUp() override {
    TreeTest::SetUp();
    testing::StringClassForTests();
    Root(kKernel);
    Fresh();
  }
  void TearDown() override {
    Fresh();
    TreeTest::TearDown();
  }
  static void Fresh() {
    ProjectManager() = TPrjManager();
    PageState() = TPageState();
    ProjectSwitches() = TProjectSwitches();
    Scheduler().pauseWhenInactive = false;
    FrameServices() = TFrameServices();
  }

  std::string Game() {
    fs::path game = Scratch() / "game";
    fs::create_directories(game);
    return game.string();
  }

  // The page entries as "name=file name", sorted.
  static std::vector<std::string> Pages() {
    std::vector<std::string> out;
    TResource* pages = ResourceRoot()->resolve("project.pages");
    for (auto it = pages ? pages->iterator() : nullptr; it && it->hasNext();) {
      TResource* page = it->next();
      out.push_back(page->name + "=" + fs::path(page->src).filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  TPrjManager& pm = ProjectManager();
};

TEST_F(Projects, APageInAFolderWithoutProjectGetsOneListingEveryPage) {
  std::string game = Game();
  for (const char* f : {"stage.cmml", "stage_2.cmml", "Bonus.CMML"}) WriteFile(game + "/" + f, "");
  WriteFile(game + "/notes.txt", "");
  fs::create_directories(game + "/folder.cmml");
  SetResourceBaseDir(game);

  pm.openProjectOf(game + "/stage_2.cmml");

  EXPECT_EQ(ReadFile(game + "/default.brovaprj"),
            Crlf("<resourcelist name=\"project\">\n <resourcelist name=\"pages\">\n"
                 " </resourcelist>\n</resourcelist>\n"));
  EXPECT_EQ(pm.projectFile, game + "/default.brovaprj");
  EXPECT_TRUE(PageState().projectOpening);
  EXPECT_EQ(Pages(), (std::vector<std::string>{"$page_Bonus=Bonus.CMML", "$page_stage=stage.cmml",
                                               "$page_stage_2=stage_2.cmml"}));
  EXPECT_EQ(pm.currentPageName, "$page_stage_2");
  auto* entry =
      dynamic_cast<TCustomResource*>(ResourceRoot()->resolve("project.pages.$page_stage"));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->tag, "page");
  EXPECT_EQ(entry->src, game + "/stage.cmml");

  EXPECT_EQ(pm.getParam("sound_stopOnPageLoad"), "1");
  EXPECT_EQ(pm.getParam("savedVersion"), "1240");
  std::string comment = pm.getParam("commentID");
  EXPECT_FALSE(comment.empty());
  EXPECT_TRUE(std::all_of(comment.begin(), comment.end(), ::isdigit)) << comment;

  EXPECT_FALSE(pm.isOtherProject(game + "/stage.cmml"));
  EXPECT_FALSE(pm.isOtherProject(game + "/../game/STAGE.cmml"));
  EXPECT_TRUE(pm.isOtherProject(Scratch().string() + "/other/stage.cmml"));

  PageState().currentPageFile = game + "/stage.cmml";
  pm.findCurrentPage();
  EXPECT_EQ(pm.currentPageName, "$page_stage");
}

// Entries are named after their files whatever order the folder lists them in.
TEST_F(Projects, PageNamesDoNotDependOnTheListingOrder) {
  std::string game = Game();
  for (bool secondFirst : {false, true}) {
    pm.closeProject();
    pm.openProjectOf(game + "/x.cmml");
    TResource* pages = ResourceRoot()->resolve("project.pages");
    ASSERT_TRUE(pages);
    std::vector<std::string> files{"stage.cmml", "stage_2.cmml"};
    if (secondFirst) std::reverse(files.begin(), files.end());
    for (const auto& f : files) pm.addPage("$page_" + BaseNameNoExt(f), f);
    EXPECT_EQ(Pages(),
              (std::vector<std::string>{"$page_stage=stage.cmml", "$page_stage_2=stage_2.cmml"}));
  }
}

TEST_F(Projects, AnExistingProjectIsReadAndItsPageListRebuilt) {
  std::string game = Game();
  WriteFile(game + "/default.brovaprj",
            Crlf("<resourcelist name=\"project\">\n"
                 " <resourcelist name=\"pages\">\n  <page name=\"$page_gone\" src=\"gone.cmml\"/>\n"
                 " </resourcelist>\n"
                 " <resourcelist name=\"params\">\n"
                 "  <param name=\"savedVersion\" value=\"7\"/>\n"
                 "  <param name=\"Deactivation_Pause\" value=\"1\"/>\n"
                 "  <param name=\"deactivation_disablekey\" value=\"0\"/>\n"
                 "  <param name=\"commentID\" value=\"abc\"/>\n"
                 "  <param name=\"title\" value=\"Game\"/>\n"
                 " </resourcelist>\n</resourcelist>\n"));
  WriteFile(game + "/main.cmml", "");
  testing::MessageLog log;
  pm.openProjectOf(game + "/main.cmml");
  EXPECT_TRUE(log.texts.empty()) << log.texts.front();
  EXPECT_EQ(Pages(), std::vector<std::string>{"$page_main=main.cmml"});
  EXPECT_EQ(pm.getParam("savedVersion"), "1240");
  EXPECT_EQ(pm.getParam("commentID"), "abc");
  EXPECT_EQ(pm.getParam("TITLE"), "Game");
  EXPECT_TRUE(Scheduler().pauseWhenInactive) << "switches are applied when the project opens";
  EXPECT_FALSE(ProjectSwitches().disableKeysWhenInactive);
}

// Without a page list, rebuilding it must not empty the project list, which holds the
// parameters and the shared classes.
TEST_F(Projects, AProjectWithoutPageListKeepsItsParameters) {
  std::string game = Game();
  WriteFile(game + "/default.brovaprj",
            Crlf("<resourcelist name=\"project\">\n <resourcelist name=\"params\">\n"
                 "  <param name=\"title\" value=\"Game\"/>\n </resourcelist>\n</resourcelist>\n"));
  WriteFile(game + "/a.cmml", "");
  pm.openProjectOf(game + "/a.cmml");
  EXPECT_EQ(pm.getParam("title"), "Game");
  EXPECT_EQ(pm.pagesPath(), "project.pages");
  EXPECT_EQ(Pages(), std::vector<std::string>{"$page_a=a.cmml"});
}

TEST_F(Projects, OpeningAProjectFileThatDoesNotExistChangesNothing) {
  pm.openProjectFile(Scratch().string() + "/none/default.brovaprj");
  EXPECT_FALSE(pm.isOpen());
  EXPECT_EQ(ResourceRoot()->findChild("project"), nullptr);
}

TEST_F(Projects, SwitchesFollowTheirParameters) {
  std::string game = Game();
  pm.openProjectOf(game + "/a.cmml");
  struct Case {
    const char* name;
    const char* value;
    bool expected;
    bool (*read)();
  };
  auto pause = [] { return Scheduler().pauseWhenInactive; };
  auto keys = [] { return ProjectSwitches().disableKeysWhenInactive; };
  auto noPause = [] { return ProjectSwitches().disablePause; };
  const Case cases[] = {
      {"deactivation_pause", "1", true, pause},      {"deactivation_pause", "true", false, pause},
      {"DEACTIVATION_PAUSE", "1", true, pause},      {"deactivation_pause", " 1", false, pause},
      {"deactivation_disablekey", "0", false, keys}, {"deactivation_disablekey", "1", true, keys},
      {"disable_pause", "1", true, noPause},         {"Disable_Pause", "", false, noPause},
  };
  for (const Case& c : cases) {
    pm.setParam(c.name, c.value);
    EXPECT_EQ(pm.getParam(c.name), c.value);
    EXPECT_EQ(c.read(), c.expected) << c.name << "=" << c.value;
  }
}

TEST_F(Projects, NativesSetAndGetParametersAsText) {
  pm.openProjectOf(Game() + "/a.cmml");
  pm.currentPageName = "$page_a";
  testing::TNativeFrame frame;
  TValue self = NullValue();
  frame.Call(natives::ProjectManagerOnSet, self, {IntValue(1)});
  EXPECT_EQ(pm.getParam("1"), "") << "one argument is too few";
  frame.Call(natives::ProjectManagerOnSet, self,
             {ObjectValue(MakeString("deactivation_pause")), IntValue(1)});
  EXPECT_EQ(pm.getParam("deactivation_pause"), "1");
  EXPECT_TRUE(Scheduler().pauseWhenInactive);
  EXPECT_EQ(ValueToText(frame.Call(natives::ProjectManagerOnGet, self,
                                   {ObjectValue(MakeString("deactivation_pause"))})),
            "1");
  const TValue& missing =
      frame.Call(natives::ProjectManagerOnGet, self, {ObjectValue(MakeString("nothing"))});
  EXPECT_TRUE(IsStringObject(missing));
  EXPECT_EQ(ValueToText(missing), "");
  EXPECT_EQ(ValueToText(frame.Call(natives::ProjectManagerCurrentPageName, self, {})), "$page_a");

  PageState().designMode = true;
  frame.Call(natives::PageOpen, self, {ObjectValue(MakeString("b.cmml"))});
  EXPECT_TRUE(pm.hasPendingPage());
  EXPECT_EQ(pm.pendingPage, "b.cmml");
  EXPECT_TRUE(pm.pendingDesign);
}

TEST_F(Projects, WithoutAProjectParametersAndListsAreEmpty) {
  testing::MessageLog log;
  EXPECT_EQ(pm.getParam("title"), "");
  pm.setParam("deactivation_pause", "1");
  EXPECT_FALSE(Scheduler().pauseWhenInactive) << "switched from the empty stored value";
  EXPECT_EQ(pm.getClassList(), nullptr);
  EXPECT_EQ(pm.getSoundList(), nullptr);
  EXPECT_EQ(log.texts, (std::vector<std::string>{"TPrjManager.getClassList :: !?",
                                                 "TPrjManager.getSoundList :: !?"}));
  pm.openProjectOf(Game() + "/a.cmml");
  TResource* classes = pm.getClassList();
  ASSERT_TRUE(classes);
  EXPECT_EQ(classes, ResourceRoot()->resolve("project.classes"));
  EXPECT_EQ(pm.getClassList(), classes);
}

TEST_F(Projects, TheFrameLoopAsksForHeldRequests) {
  InstallProjectManagerServices();
  ASSERT_TRUE(FrameServices().hasPendingPage);
  EXPECT_FALSE(FrameServices().hasPendingPage());
  pm.requestPageOpen(Scratch().string() + "/missing.cmml", false);
  EXPECT_TRUE(FrameServices().hasPendingPage());
  testing::MessageLog log;
  FrameServices().performPendingOpen();
  EXPECT_FALSE(pm.hasPendingPage());
  EXPECT_TRUE(log.Has("/missing.cmml does not exist."));
  EXPECT_TRUE(PageState().pageInvalid);
}

// ---- generators

class Generators : public testing::TreeTest {};

TEST_F(Generators, AttributesAreReplacedAppendedOrRemoved) {
  TGenerator gen;
  gen.instFields = {"speed=3", "title=\"a\""};
  struct Case {
    const char* field;
    const char* literal;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"Speed", "4", {"title=\"a\"", "Speed=4"}},
      {"x", "objectFromID(12)", {"title=\"a\"", "Speed=4", "x=objectFromID(12)"}},
      {"TITLE", "", {"Speed=4", "x=objectFromID(12)"}},
      {"absent", "", {"Speed=4", "x=objectFromID(12)"}},
  };
  for (const Case& c : cases) {
    SetGeneratorAttr(&gen, c.field, c.literal);
    EXPECT_EQ(gen.instFields, c.expected) << c.field;
  }
  SetGeneratorAttr(nullptr, "x", "1");

  testing::StringClassForTests();
  ChangeGeneratorAttr(NativeValue(gen.Handle()), ObjectValue(MakeString("speed")), IntValue(5));
  EXPECT_EQ(gen.instFields.back(), "speed=5");
  try {
    ChangeGeneratorAttr(IntValue(1), ObjectValue(MakeString("speed")), IntValue(5));
    FAIL() << "no generator";
  } catch (const EScriptError& e) {
    EXPECT_STREQ(e.what(), "invalid generator at chattr");
  }
}

// A string with quotes survives a save and a reading of the page.
TEST_F(Generators, SavedAttributesReadBackUnchanged) {
  testing::StringClassForTests();
  TGenerator gen;
  gen.name = "$sign";
  gen.className = "Sign";
  gen.constArgs = {"x=1"};
  SetGeneratorAttr(&gen, "text", ValueToLiteral(ObjectValue(MakeString("say \"hi\""))));
  std::string line = SavedText(gen);
  EXPECT_EQ(line.find("\"hi\""), std::string::npos) << line;
  auto back = parseResource(line);
  auto* read = dynamic_cast<TGenerator*>(back.get());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->instFields, gen.instFields);
  EXPECT_EQ(read->constArgs, gen.constArgs);
  EXPECT_EQ(read->className, "Sign");
}

// ---- names, hashes and files

class PageFiles : public testing::TreeTest {
protected:
  void TearDown() override {
    SetProgramFolder("");
    PageServices() = TPageServices();
    TreeTest::TearDown();
  }
};

TEST_F(PageFiles, CacheNamesComeFromThePathBelowTheProgramFolder) {
  std::string home = Scratch().string();
  SetProgramFolder(home);
  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {home + "/Usr/index.cmml", "i124_Usrindexcmml"},
      {home + "/Usr/my page-1.cmml", "i124_Usrmypage1cmml"},
      {home + "/../elsewhere/a_b.cmml", "i124_@elsewherea_bcmml"},
  };
  for (const Case& c : cases) EXPECT_EQ(tempName(c.path, "i124_"), home + "/Temp/" + c.expected);
  EXPECT_TRUE(fs::is_directory(home + "/Temp"));
  PageState().currentPageFile = home + "/Usr/index.cmml";
  EXPECT_EQ(ConstructionScriptPath(), home + "/Temp/i124_Usrindexcmml.brova");
  PageState() = TPageState();
}

TEST_F(PageFiles, TheRecordedHashIsReadFromTheFirstStatement) {
  struct Case {
    const char* text;
    bool found;
    int32_t hash;
  };
  const Case cases[] = {
      {"extends Object; $_exec_checkPoint=-1;\r\n$_hashCode=getPageHashCode()-(123);\r\n", true,
       123},
      {"extends Object; $_exec_checkPoint=-1;\r\n$_hashCode=getPageHashCode()-(-2147483648);", true,
       INT32_MIN},
      {"extends Object; $_exec_checkPoint=-1;\r\n$_hashCode=getPageHashCode()-(12", false, 0},
      {"extends Object; $_exec_checkPoint=-1;\r\nx=1;\r\n$_hashCode=getPageHashCode()-(1);", false,
       0},
      {"$_hashCode=getPageHashCode()-(1);", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    int32_t hash = 0;
    EXPECT_EQ(RecordedPageHash(c.text, hash), c.found) << c.text;
    if (c.found) {
      EXPECT_EQ(hash, c.hash) << c.text;
    }
  }
}

TEST_F(PageFiles, TheCollectorSumsTheHashesOfDistinctFiles) {
  std::string dir = Scratch().string();
  for (const char* f : {"a.brova", "b.bmp", "m.mid", "lib.dll"}) WriteFile(dir + "/" + f, "x");
  PageServices().fileHash = [](const std::string& path) {
    return path.ends_with("a.brova") ? INT32_MAX : 2;
  };
  Root("<resourcelist name=\"root\">\n"
       " <class name=\"A\" src=\"a.brova\"/>\n <class name=\"A2\" src=\"A.BROVA\"/>\n"
       " <cpattern name=\"b\" src=\"b.bmp\"/>\n <cpattern name=\"m\" src=\"m.mid\"/>\n"
       " <module name=\"l\" src=\"lib.dll\"/>\n <cpattern name=\"gone\" src=\"gone.bmp\"/>\n"
       "</resourcelist>\n",
       dir);
  TPageFileEnum collector;
  ResourceRoot()->accept(collector);
  std::vector<std::string> names;
  for (const auto& f : collector.files()) names.push_back(fs::path(f).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"a.brova", "b.bmp", "m.mid", "lib.dll", "gone.bmp"}));
  // INT32_MAX + 2 wraps; the .mid, .dll and missing files count 0.
  EXPECT_EQ(collector.total(), INT32_MIN + 1);
  EXPECT_EQ(pageHashCode(dir + "/m.mid"), 0);
  EXPECT_EQ(pageHashCode(dir + "/none.brova"), 0);
}

TEST_F(PageFiles, ANewPageHasItsEightLines) {
  std::string file = Scratch().string() + "/new.cmml";
  ASSERT_TRUE(WriteNewPageFile(file));
  EXPECT_EQ(ReadFile(file), Crlf("<resourcelist name=\"usr\">\n"
                                 " <resourcelist name=\"patterns\">\n </resourcelist>\n"
                                 " <resourcelist name=\"classes\">\n </resourcelist>\n"
                                 " <resourcelist name=\"gen\">\n </resourcelist>\n"
                                 "</resourcelist>\n"));
  WriteFile(file, "kept");
  ASSERT_TRUE(WriteNewPageFile(file));
  EXPECT_EQ(ReadFile(file), "kept");
}

} // namespace
} // namespace brova
