// Pages end to end with the compiler and a small kernel (tests/fixtures/pages/kernel): loading
// a page into the tree, Boot's root process, the construction script with its cache, held
// page-open requests, generators made during initialisation, and page files that name files
// outside the project.
#include "script_world.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "compiler_support.h"
#include "natives/project_natives.h"
#include "platform/host_clock.h"
#include "resources/generator.h"
#include "resources/page_loader.h"
#include "resources/project_manager.h"
#include "runtime/frame_scheduler.h"

namespace brova {
namespace {

namespace fs = std::filesystem;
using testing::Printed;
using testing::ReadBytes;
using testing::WriteBytes;

void SuspendBody(TValue*, int32_t, int32_t) { Suspend(currentProcess); }
void PageHashBody(TValue* result, int32_t, int32_t) {
  SetInt(*result, pageHashCode(PageState().currentPageFile));
}
void NothingBody(TValue*, int32_t, int32_t) {}

// A content hash standing in for the player's file hash.
int32_t ContentHash(const std::string& path) {
  uint32_t h = 2166136261u;
  for (unsigned char c : ReadBytes(path)) h = (h ^ c) * 16777619u;
  return static_cast<int32_t>(h);
}

class Pages : public ::testing::Test {
protected:
  void SetUp() override {
    testing::ResetInterpreter();
    defaultStackSize = 64 * 1024;
    savedStringClass_ = StringClass();
    savedFolder_ = fs::current_path();
    Printed().clear();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    home_ = fs::temp_directory_path() / ("brova_" + std::string(info->test_suite_name()) + "_" +
                                         info->name() + "_" + std::to_string(::getpid()));
    fs::remove_all(home_);
    fs::create_directories(home_);
    fs::path fixtures = fs::path(BROVA_FIXTURES_DIR) / "pages";
    fs::copy(fixtures / "kernel", home_ / "kernel", fs::copy_options::recursive);
    fs::copy(fixtures / "game", home_ / "game", fs::copy_options::recursive);
    SetProgramFolder(home_.string());
    SetClassCacheFolder((home_ / "Temp").string());
    SetResourceBaseDir(home_.string());
    SetGlobalResolver(GlobalSlotInTree);
    InstallClassCompiler();
    InstallSnippetEvaluator();
    SetResourceRoot(loadResourceFile((home_ / "kernel" / "resource.brovares").string()));
    ResourceRoot()->initialize();
    TRTTI* object = findClass("classes.lang.Object");
    BindNative(object, "print", testing::PrintBody);
    BindNative(object, "suspend", SuspendBody);
    BindNative(object, "getPageHashCode", PageHashBody);
    BindNative(object, "_n_refresh", NothingBody);
    TRTTI* boot = findClass("Boot");
    for (size_t i = 0; i < natives::kBootNativeCount; ++i)
      BindNative(boot, natives::kBootNatives[i].name, natives::kBootNatives[i].body);
    BindNative(boot, "_n_open", natives::PageOpen);
    SetStringClass(findClass("classes.lang.String"));
    SetObjectClass(object);
    SetArrayClass(findClass("classes.lang.Array"));
    PageServices().fileHash = ContentHash;
    InstallProjectManagerServices();
  }

  void TearDown() override {
    stopPage();
    Scheduler().autoExecution = false;
    ProjectManager() = TPrjManager();
    PageState() = TPageState();
    PageServices() = TPageServices();
    FrameServices() = TFrameServices();
    testing::ForgetScriptWorld(savedStringClass_);
    fs::current_path(savedFolder_);
    fs::remove_all(home_);
  }

  std::string Page(const char* name) const { return (home_ / "game" / name).string(); }
  std::string Script() const { return (home_ / "Temp" / "i124_gamestagecmml.brova").string(); }

  // One slice of the root process: Boot.execute builds the page and waits for the next frame.
  void RunFrame() {
    ASSERT_TRUE(Scheduler().rootProcess);
    brova::Run(Scheduler().rootProcess, kDefaultSteps);
  }

  std::string Global(const char* name) { return ValueToText(*GlobalSlotInTree(name)); }

  fs::path home_;

private:
  TRTTI* savedStringClass_ = nullptr;
  fs::path savedFolder_;
};

TEST_F(Pages, RunningAPageBuildsItsObjectsFromACachedScript) {
  testing::MessageLog log;
  runPage(Page("stage.cmml"));
  EXPECT_EQ(ProjectManager().projectFile, Page("default.brovaprj"));
  EXPECT_EQ(ProjectManager().currentPageName, "$page_stage");
  EXPECT_TRUE(PageState().classesCompiled);
  EXPECT_FALSE(PageState().pageInvalid);
  EXPECT_FALSE(PageState().designMode);
  ASSERT_TRUE(BootObject());
  EXPECT_EQ(ClassOf(BootObject()), findClass("Boot"));
  EXPECT_TRUE(findClass("project.classes.Player")) << "the page's class is shared";

  RunFrame();
  EXPECT_EQ(Printed(), (std::vector<std::string>{
                           "chars.clear",
                           "generated player hi 3 from usr.gen.$player",
                           "appear player hi 3",
                           "generated player  1 from usr.$hidden",
                           "hash 0",
                       }));
  EXPECT_EQ(log.shown,
            std::vector<std::string>{"$ghost: ClassGhost does not exist. Cannot create."});
  EXPECT_EQ(Global("$level"), "7");
  EXPECT_EQ(Global("$_exec_checkPoint"), "14");

  std::string hash = std::to_string(ContentHash(Page("stage.cmml")));
  const char* statements[] = {
      "$_hashCode=getPageHashCode()-(", // the hash follows
      "if (!$_design_mode) { for (p in $procs) p.kill();} $chars.clear();",
      "$player=new Player();",
      "$hidden=new Player();",
      "$level=7;",
      "$player.speed=3;",
      "$player.title=\"hi\";",
      "$player.setGenerator( getResource(\"usr.gen.$player\").getTObject() );",
      "$player.onGenerate();",
      "if ($_design_mode==0) { appear($player); }else $chars.add($player);",
      "_n_refresh();",
      "$hidden.speed=1;",
      "$hidden.setGenerator( getResource(\"usr.$hidden\").getTObject() );",
      "$hidden.onGenerate();",
  };
  std::string expected = "extends Object; $_exec_checkPoint=-1;\r\n";
  int k = 0;
  for (std::string s : statements) {
    if (k == 0) s += hash + ");";
    expected += s + "\r\n$_exec_checkPoint=" + std::to_string(++k) + ";\r\n";
  }
  EXPECT_EQ(ReadBytes(Script()), expected);
}

TEST_F(Pages, AnUnchangedPageReusesItsScriptAndAnEditedOneRebuildsIt) {
  runPage(Page("stage.cmml"));
  RunFrame();
  auto firstTime = fs::last_write_time(Script());
  testing::NoteLog notes;

  Printed().clear();
  runPage(Page("stage.cmml"));
  RunFrame();
  EXPECT_FALSE(notes.Has("Page Reconstruction"));
  EXPECT_EQ(fs::last_write_time(Script()), firstTime);
  EXPECT_EQ(Printed().at(2), "appear player hi 3");

  std::string page = ReadBytes(Page("stage.cmml"));
  page.replace(page.find("inst_speed=\"3\""), 14, "inst_speed=\"9\"");
  WriteBytes(Page("stage.cmml"), page);
  Printed().clear();
  runPage(Page("stage.cmml"));
  RunFrame();
  EXPECT_TRUE(notes.Has("Page Reconstruction"));
  EXPECT_EQ(Printed().at(2), "appear player hi 9") << "the old objects must not come back";
  EXPECT_EQ(Printed().back(), "hash 0");
  EXPECT_NE(ReadBytes(Script()).find("$player.speed=9;"), std::string::npos);
}

TEST_F(Pages, DesignCollectsTheObjectsInsteadOfShowingThem) {
  ASSERT_EQ(loadPage(Page("stage.cmml")), 0);
  designPage();
  EXPECT_TRUE(PageState().designMode);
  RunFrame();
  EXPECT_EQ(Printed(), (std::vector<std::string>{
                           "chars.clear",
                           "generated player hi 3 from usr.gen.$player",
                           "chars.add player hi 3",
                           "generated player  1 from usr.$hidden",
                           "designed",
                       }));
}

// The request made in the second frame of a pass stops the pass there; the page opens after.
TEST_F(Pages, APageOpenRequestTakesEffectAfterTheFrame) {
  platform::SetVirtualClock(true);
  runPage(Page("stage.cmml"));
  SetGlobalInTree("$openAtFrame", IntValue(2));
  SetGlobalInTree("$nextPage", ObjectValue(MakeString("stage_2.cmml")));
  TProcess* first = Scheduler().rootProcess;
  Scheduler().autoExecution = true;
  InstallScheduler();
  platform::AdvanceVirtualClock(5 * 17);
  bool done = false;
  Main(done);
  EXPECT_EQ(Global("$frames"), "2") << "no further frame of the pass ran";
  EXPECT_FALSE(ProjectManager().hasPendingPage());
  EXPECT_EQ(PageState().currentPageFile, Page("stage_2.cmml"));
  EXPECT_EQ(ProjectManager().currentPageName, "$page_stage_2");
  EXPECT_NE(Scheduler().rootProcess, first);

  SetGlobalInTree("$openAtFrame", IntValue(0));
  Printed().clear();
  RunFrame();
  EXPECT_EQ(Printed().at(2), "appear player two 3");
  platform::SetVirtualClock(false);
}

TEST_F(Pages, GeneratorsMadeDuringInitialisationGetArgumentsAndFields) {
  WriteBytes(Page("made.cmml"),
             "<resourcelist name=\"usr\">\n <resourcelist name=\"classes\">\n"
             "  <class name=\"Player\" src=\"Player.brova\"/>\n </resourcelist>\n"
             " <resourcelist name=\"gen\">\n"
             "  <generator classname=\"Player\" name=\"$p\" const_x=\"10\" Const_y=\"20\""
             " inst_speed=\"2\" inst_missing=\"1\"/>\n"
             " </resourcelist>\n</resourcelist>\n");
  ASSERT_EQ(loadPage(Page("made.cmml")), 0);
  auto* gen = dynamic_cast<TGenerator*>(ResourceRoot()->resolve("usr.gen.$p"));
  ASSERT_TRUE(gen);
  TInitContext first;
  gen->initPass(first);
  EXPECT_EQ(EvalCache().lastCode, "extends classes.lang.Object;\r\n$p=new Player(10,null);\r\n");
  EXPECT_EQ(gen->state, TGenerator::kCreated);
  EXPECT_EQ(first.pending, 1);
  ASSERT_TRUE(ResourceRoot()->resolve("usr.gen")->initialize()) << "the second pass ends it";
  EXPECT_EQ(gen->state, TGenerator::kNewOrDone);
  EXPECT_EQ(EvalCache().lastCode,
            "extends classes.lang.Object;\r\n$p.speed=2;\r\n$p.setGenerator($_tmp_gen);\r\n"
            "$p.onGenerate();\r\n");
  TValue* p = GlobalSlotInTree("$p");
  ASSERT_TRUE(IsLiveInstanceValue(*p));
  TfObject* obj = ObjectPtr(*p);
  EXPECT_EQ(ValueToText(*FieldSlotByName(obj, "px")), "10");
  EXPECT_EQ(FieldSlotByName(obj, "py")->kind, vtNull) << "Const_y is no constructor argument";
  EXPECT_EQ(ValueToText(*FieldSlotByName(obj, "speed")), "2");
  TValue* link = FieldSlotByName(obj, "_generator");
  EXPECT_EQ(GeneratorOf(*link), gen);

  // Freeing the page frees the generator; the object must not keep pointing at it.
  detachResource("usr");
  EXPECT_EQ(link->kind, vtNull);
}

TEST_F(Pages, AGeneratorWithoutItsClassFailsItsInitialisation) {
  WriteBytes(Page("ghost.cmml"), "<resourcelist name=\"usr\">\n <resourcelist name=\"gen\">\n"
                                 "  <generator className=\"Ghost\" name=\"$g\"/>\n"
                                 " </resourcelist>\n</resourcelist>\n");
  loadPage(Page("ghost.cmml"));
  testing::MessageLog log;
  EXPECT_THROW(ResourceRoot()->resolve("usr.gen")->initialize(), EScriptError);
  EXPECT_EQ(log.shown.at(0), "ClassGhost does not exist. Cannot create.");
  auto* gen = dynamic_cast<TGenerator*>(ResourceRoot()->resolve("usr.gen.$g"));
  EXPECT_EQ(gen->state, TGenerator::kClassMissing);
}

// Files a page names outside its project folder are never read, and missing ones are
// reported; the rest of the page loads and runs.
TEST_F(Pages, FilesOutsideTheProjectOrMissingAreReportedAndSkipped) {
  WriteBytes(home_ / "outside.brovares", "<resourcelist name=\"x\">\n</resourcelist>\n");
  WriteBytes(home_ / "Evil.brova", "extends classes.lang.Object;\n");
  WriteBytes(home_ / "game" / "inner.brovares",
             "<resourcelist name=\"inner\">\n <resourcelist name=\"deep\">\n"
             "  <link src=\"../outside.brovares\"/>\n </resourcelist>\n</resourcelist>\n");
  WriteBytes(home_ / "game" / "fine.brovares", "<resourcelist name=\"fine\">\n</resourcelist>\n");
  WriteBytes(Page("bad.cmml"),
             "<resourcelist name=\"usr\">\n <resourcelist name=\"classes\">\n"
             "  <class name=\"Player\" src=\"Player.brova\"/>\n"
             "  <class name=\"Evil\" src=\"..\\Evil.brova\"/>\n"
             "  <class name=\"Lost\" src=\"lost.brova\"/>\n </resourcelist>\n"
             " <link src=\"../outside.brovares\"/>\n"
             " <link src=\"missing.brovares\"/>\n"
             " <link src=\"inner.brovares\"/>\n"
             " <link src=\"fine.brovares\"/>\n"
             " <resourcelist name=\"gen\">\n"
             "  <generator className=\"Player\" name=\"$player\" inst_speed=\"1\"/>\n"
             " </resourcelist>\n</resourcelist>\n");
  testing::MessageLog log;
  runPage(Page("bad.cmml"));
  const std::string home = home_.string();
  EXPECT_EQ(log.shown,
            (std::vector<std::string>{
                home + "/Evil.brova lies outside the project folder; it is not used.",
                home + "/game/lost.brova does not exist.",
                home + "/outside.brovares lies outside the project folder; it is not used.",
                home + "/game/missing.brovares does not exist.",
                home + "/outside.brovares lies outside the project folder; it is not used.",
                home + "/game/inner.brovares names files that cannot be used.",
            }));
  TResource* usr = ResourceRoot()->findChild("usr");
  ASSERT_TRUE(usr);
  EXPECT_TRUE(usr->resolve("classes.Player"));
  EXPECT_FALSE(usr->resolve("classes.Evil"));
  EXPECT_FALSE(usr->resolve("classes.Lost"));
  EXPECT_FALSE(usr->findChild("x"));
  EXPECT_FALSE(usr->findChild("inner"));
  EXPECT_TRUE(usr->findChild("fine"));
  EXPECT_TRUE(PageState().classesCompiled);
  RunFrame();
  EXPECT_EQ(Printed().at(2), "appear player  1");
}

TEST_F(Pages, ADeeplyNestedPageIsCutWithAMessage) {
  std::string page = "<resourcelist name=\"usr\">\n";
  for (int i = 0; i < 100000; ++i) page += "<resourcelist name=\"n\">";
  WriteBytes(Page("deep.cmml"), page);
  testing::MessageLog log;
  runPage(Page("deep.cmml"));
  EXPECT_NE(std::find(log.shown.begin(), log.shown.end(),
                      "n: Resource lists nested too deeply; skipped."),
            log.shown.end());
  EXPECT_TRUE(ResourceRoot()->findChild("usr"));
  EXPECT_TRUE(BootObject());
}

TEST_F(Pages, AMissingPageIsReportedAndANewOneCanBeOpened) {
  runPage(Page("stage.cmml"));
  TProcess* running = Scheduler().rootProcess;
  testing::MessageLog log;
  EXPECT_EQ(loadPage(Page("none.cmml")), 0);
  runPage(Page("none.cmml"));
  EXPECT_EQ(log.shown, std::vector<std::string>(2, Page("none.cmml") + " does not exist."));
  EXPECT_TRUE(PageState().pageInvalid);
  EXPECT_EQ(Scheduler().rootProcess, running) << "nothing further is done";
  EXPECT_EQ(PageState().currentPageFile, Page("stage.cmml"));

  openPage(Page("fresh.cmml"));
  EXPECT_EQ(ReadBytes(Page("fresh.cmml")), NewPageText());
  EXPECT_EQ(PageState().currentPageFile, Page("fresh.cmml"));
  RunFrame();
  EXPECT_EQ(Printed(), (std::vector<std::string>{"chars.clear", "hash 0"}));
}

} // namespace
} // namespace brova
