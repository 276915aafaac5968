// The boot of the kernel, the message table, environment values and recent pages, the cache
// and settings folders, and the splash timing that holds the first frame back.
#include <gtest/gtest.h>

#include <fstream>

#include <algorithm>
#include <string>
#include <vector>

#include "boot_support.h"
#include "platform/host_clock.h"
#include "resources/message_table.h"
#include "resources/resource_list.h"

namespace brova {
namespace {

using testing::BootNotes;
using testing::MessageLog;
namespace fs = std::filesystem;
using testing::WriteFile;

class Boot : public testing::BootTest {};

TEST_F(Boot, TheRepositoryKernelBootsInACopiedProgramFolder) {
  CopyRealKernel();
  MessageLog log;
  BootNotes notes;
  BootServices().patternCount = [] { return 3; };
  PageServices().fileHash = [](const std::string& file) {
    return file.ends_with(".brova") ? 1 : 100;
  };
  std::vector<std::string> shown;
  PageServices().showFileList = [&](const std::vector<std::string>& files) { shown = files; };
  ASSERT_TRUE(BootKernel(Home().string() + "/"));
  EXPECT_TRUE(log.texts.empty()) << log.texts.front();

  const TBootState& state = BootState();
  EXPECT_EQ(state.programDir, Home().string()) << "no trailing slash";
  EXPECT_EQ(state.projectFilePath, (Home() / "Usr/default.brovaprj").string());
  EXPECT_EQ(state.cacheFolder, (Home() / "Temp").string());
  EXPECT_TRUE(state.starting);
  EXPECT_FALSE(state.systemReady);
  EXPECT_FALSE(BootPending()) << "a paint during the boot must not boot again";
  EXPECT_EQ(state.kernelPatternCount, 3);
  EXPECT_EQ(ResourceBaseDir(), Home().string());
  // The resource file and one source per class it lists.
  std::ifstream kernelFile(Home() / "kernel/resource.brovares");
  int32_t classes = 0;
  for (std::string line; std::getline(kernelFile, line);)
    if (line.find("<class ") != std::string::npos) ++classes;
  ASSERT_EQ(state.kernelFiles.size(), static_cast<size_t>(classes + 1));
  EXPECT_EQ(state.kernelFiles.front(), (Home() / "kernel/resource.brovares").string());
  EXPECT_EQ(state.kernelHash, 100 + classes);
  EXPECT_EQ(shown, state.kernelFiles);

  for (const char* path : {"classes.lang.Object", "classes.lang.String", "classes.lang.Array",
                           "classes.util.HashTable", "classes.io.FileReader"}) {
    SCOPED_TRACE(path);
    TRTTI* cls = findClass(path);
    ASSERT_NE(cls, nullptr);
    EXPECT_TRUE(cls->compiled);
  }
  EXPECT_EQ(StringClass(), findClass("classes.lang.String"));
  EXPECT_FALSE(fs::is_empty(Home() / "Temp")) << "compiled-class files go to Temp";

  // The start-up table bound the natives: a String native works from script.
  ASSERT_EQ(EvalSnippet("extends Object; $s = \"brova\"; $n = $s.length();"), 0);
  EXPECT_EQ(ValueToText(*GlobalSlotInTree("$n")), "5");

  const std::vector<std::string> expected = {"Welcome to Brova System Ver 1.24",
                                             "",
                                             "Starting System..",
                                             "TValue=8",
                                             "TVType=1",
                                             "TfObject=20",
                                             "Extended=10",
                                             "Loading Enviroment Values",
                                             "Loading Modules..",
                                             "Loading Kernel Resources..",
                                             "Compiling Kernel Resources.."};
  ASSERT_GE(notes.notes.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(notes.notes.begin(), notes.notes.begin() + expected.size()),
            expected);
  auto binding = std::find(notes.notes.begin(), notes.notes.end(), "Setting Native Interfaces..");
  EXPECT_NE(binding, notes.notes.end()) << "after the compile notes";
  EXPECT_EQ(notes.notes.back(), "Ready");
}

TEST_F(Boot, AKernelThatCannotLoadStopsTheBootWithItsMessage) {
  struct Case {
    const char* what;
    const char* classSource; // Object's source; null: no kernel file at all
    const char* message;
  };
  const Case cases[] = {
      {"missing kernel", nullptr, "resource.brovares is not found."},
      {"compile error", "function broken( {", "Initialization Failed"},
      {"missing source", "", "Object.brova is not found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Home());
    fs::create_directories(Home());
    if (c.classSource) {
      WriteFile(Home() / "kernel/resource.brovares",
                "<resourcelist name=\"kernel\"><classlist name=\"classes\"><classlist "
                "name=\"lang\"><class name=\"Object\" src=\"Object.brova\"/></classlist>"
                "</classlist><resourcelist name=\"usrglobal\"/></resourcelist>");
      if (*c.classSource) WriteFile(Home() / "kernel/Object.brova", c.classSource);
    }
    MessageLog log;
    EXPECT_FALSE(BootKernel(Home().string()));
    ASSERT_FALSE(log.texts.empty());
    EXPECT_TRUE(log.Has(c.message)) << log.texts.back();
  }
}

TEST_F(Boot, AKernelWithoutTheRootClassIsRefused) {
  WriteFile(Home() / "kernel/resource.brovares",
            "<resourcelist name=\"kernel\"><resourcelist name=\"usrglobal\"/></resourcelist>");
  MessageLog log;
  EXPECT_FALSE(BootKernel(Home().string()));
  EXPECT_TRUE(log.Has("The kernel has no class classes.lang.Object."));
}

TEST_F(Boot, TheMessageTableTranslatesEveryMessage) {
  WriteFile(Home() / "Kernel/message.ini",
            " is not found.= fehlt.\r\nlocale=de\r\nEmpty=\r\nlocale=second line loses\n"
            "no equals sign\r\nTag Error=Etikettfehler\r\n");
  MessageLog log;
  EXPECT_FALSE(BootKernel(Home().string())) << "there is no kernel";
  EXPECT_EQ(log.texts.size(), 1u);
  EXPECT_TRUE(log.Has("resource.brovares fehlt.")) << log.texts.front();

  EXPECT_EQ(MessageTable().size(), 4u);
  const std::pair<const char*, const char*> lookups[] = {
      {"locale", "de"},
      {"LOCALE", "de"},
      {"Empty", "Empty"},
      {"tag error", "Etikettfehler"},
      {"is not found.", "is not found."},
      {"unknown", "unknown"},
  };
  for (const auto& [text, translated] : lookups) EXPECT_EQ(Translate(text), translated) << text;
}

TEST_F(Boot, SettingsFilesComeFromTheUserFolderWhenTheProgramFolderHasNone) {
  WriteFile(UserCache() / "Kernel/message.ini", "locale=user\r\n");
  WriteFile(UserCache() / "Kernel/Cookies.ini", "env:statusBar=0\r\n");
  BootKernel(Home().string());
  EXPECT_EQ(Translate("locale"), "user");
  EXPECT_EQ(GetEnv("statusBar"), "0");

  WriteFile(Home() / "Kernel/message.ini", "locale=own\r\n");
  BootKernel(Home().string());
  EXPECT_EQ(Translate("locale"), "own") << "the program folder's file comes first";
}

TEST_F(Boot, EnvironmentValuesAndRecentPages) {
  WriteFile(Home() / "games/a/a.cmml", "");
  WriteFile(Home() / "games/b/b.cmml", "");
  WriteFile(Home() / "Kernel/Cookies.ini",
            "env:statusBar=0\r\nenv:RecentPage0=games/a/a.cmml\r\nenv:RecentPage1=gone.cmml\r\n"
            "other line\r\nenv:RecentPage3=" +
                (Home() / "games/b/b.cmml").string() + "\r\nenv:SvDelay=120\n");
  BootKernel(Home().string());
  EXPECT_EQ(GetEnv("STATUSBAR"), "0");
  EXPECT_EQ(GetEnv("SvDelay"), "120");
  EXPECT_EQ(GetEnv("missing"), "");
  EXPECT_EQ(GetEnv("status"), "") << "a name is matched whole";
  EXPECT_EQ(RecentPages(), (std::vector<std::string>{(Home() / "games/a/a.cmml").string(),
                                                     (Home() / "games/b/b.cmml").string()}));

  SetEnv("statusbar", "1");
  SetEnv("AutoLoadPage", "x.cmml");
  EXPECT_EQ(GetEnv("statusBar"), "1") << "the older spelling is gone";
  EXPECT_EQ(EnvironmentLines().back(), "env:AutoLoadPage=x.cmml");
  size_t lines = EnvironmentLines().size();
  SetEnv("AUTOLOADPAGE", "y.cmml");
  EXPECT_EQ(EnvironmentLines().size(), lines);
  EXPECT_EQ(GetEnv("AutoLoadPage"), "y.cmml");
}

TEST_F(Boot, RecordingRecentPages) {
  std::string home = Home().string();
  FillRecentPages(home);
  RecordRecentPage(home + "/Usr/index.cmml", home);
  EXPECT_TRUE(RecentPages().empty()) << "the bundled project's pages are not recorded";
  for (int i = 0; i < 12; ++i) RecordRecentPage(home + "/g" + std::to_string(i) + "/p.cmml", home);
  ASSERT_EQ(RecentPages().size(), kMaxRecentPages);
  EXPECT_EQ(RecentPages().front(), home + "/g11/p.cmml");
  EXPECT_EQ(RecentPages().back(), home + "/g3/p.cmml");

  RecordRecentPage("G5/other.cmml", home);
  EXPECT_EQ(RecentPages().front(), home + "/G5/other.cmml");
  EXPECT_EQ(RecentPages().size(), kMaxRecentPages) << "the entry of the same folder is replaced";
  for (size_t i = 1; i < RecentPages().size(); ++i)
    EXPECT_NE(RecentPages()[i], home + "/g5/p.cmml");
}

TEST_F(Boot, TempFallsBackToTheUserCacheFolderWhenItCannotBeWritten) {
  std::string home = Home().string();
  EXPECT_EQ(ChooseCacheFolder(home), home + "/Temp");
  EXPECT_TRUE(fs::is_directory(Home() / "Temp")) << "made when missing";

  std::vector<std::string> asked;
  SetFolderWritableCheck([&](const std::string& folder) {
    asked.push_back(folder);
    return false;
  });
  EXPECT_EQ(ChooseCacheFolder(home), UserCache().string());
  EXPECT_TRUE(fs::is_directory(UserCache()));
  EXPECT_EQ(asked, (std::vector<std::string>{home + "/Temp"}));
  SetFolderWritableCheck({});

  // A program folder below a regular file cannot hold Temp, whoever runs the player.
  WriteFile(Home() / "plain", "");
  EXPECT_EQ(ChooseCacheFolder(home + "/plain/program"), UserCache().string());

  const char* realHome = std::getenv("HOME");
  std::string savedHome = realHome ? realHome : "";
  ::setenv("XDG_CACHE_HOME", "relative/cache", 1);
  ::setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(UserCacheFolder(), home + "/.cache/brova") << "a relative XDG_CACHE_HOME is ignored";
  if (realHome)
    ::setenv("HOME", savedHome.c_str(), 1);
  else
    ::unsetenv("HOME");
}

TEST_F(Boot, TheKernelCompilesIntoTheFallbackFolder) {
  CopyRealKernel();
  SetFolderWritableCheck([](const std::string&) { return false; });
  ASSERT_TRUE(BootKernel(Home().string()));
  EXPECT_EQ(CacheFolder(), UserCache().string());
  EXPECT_FALSE(fs::exists(Home() / "Temp"));
  EXPECT_FALSE(fs::is_empty(UserCache()));
}

TEST_F(Boot, TheFirstFrameWaitsForTheSplashOnTheVirtualClock) {
  struct Case {
    uint64_t readyAt; // ms after the splash appeared
    uint64_t firstFrameAt;
  };
  for (const Case& c : {Case{300, 2000}, Case{2500, 2500}}) {
    SCOPED_TRACE(c.readyAt);
    platform::SetVirtualClock(true);
    BootState().systemReady = false;
    Scheduler().autoExecution = false;
    uint64_t start = platform::TicksMs();
    TSplashTimer splash;
    splash.Show(start);
    uint64_t switchedOn = 0;
    for (uint64_t t = 0; t <= 4000 && !switchedOn; t += 100) {
      if (t >= c.readyAt) BootState().systemReady = true;
      EXPECT_EQ(splash.BarWidth(400, start + t), t >= 2000 ? 400 : static_cast<int32_t>(t / 5));
      if (!splash.Tick(start + t)) switchedOn = t;
      EXPECT_EQ(Scheduler().autoExecution, switchedOn != 0);
    }
    EXPECT_EQ(switchedOn, c.firstFrameAt);
    EXPECT_FALSE(splash.visible());
    EXPECT_FALSE(splash.Tick(start + 5000));
    platform::SetVirtualClock(false);
  }
}

} // namespace
} // namespace brova

namespace brova {
namespace {

void SuspendBody(TValue*, int32_t, int32_t) { Suspend(currentProcess); }

// A program folder with the fixture kernel and a project of two pages in Usr.
class PlayerBoot : public testing::BootTest {
protected:
  void MakeProgram(const std::string& params) {
    CopyFixtureKernel();
    testing::WriteFile(Home() / "Usr/default.brovaprj",
                       "<resourcelist name=\"project\">\r\n <resourcelist name=\"pages\">\r\n"
                       "  <page name=\"$page_title\" src=\"title.cmml\"/>\r\n"
                       "  <page name=\"$page_main\" src=\"main.cmml\"/>\r\n </resourcelist>\r\n"
                       " <resourcelist name=\"params\">\r\n" +
                           params + " </resourcelist>\r\n</resourcelist>\r\n");
    for (const char* page : {"title.cmml", "main.cmml"})
      testing::WriteFile(Home() / "Usr" / page, NewPageText());
    testing::WriteFile(Home() / "elsewhere/own.cmml", NewPageText());
  }

  bool Kernel() {
    if (!BootKernel(Home().string())) return false;
    BindNative(findClass("classes.lang.Object"), "suspend", SuspendBody);
    return true;
  }
};

TEST_F(PlayerBoot, TheFirstPageComesFromTheCommandLineOrTheProject) {
  struct Case {
    const char* what;
    std::string params;
    std::string commandLine;
    std::string opened; // relative to the program folder; empty: no page
  };
  const std::string mainIsMain = "  <param name=\"mainPage\" value=\"$page_main\"/>\r\n";
  const Case cases[] = {
      {"mainPage", mainIsMain, "", "Usr/main.cmml"},
      {"no mainPage", "", "", "Usr/title.cmml"},
      {"mainPage naming no page", "  <param name=\"mainPage\" value=\"$page_x\"/>\r\n", "", ""},
      {"command line", mainIsMain, "elsewhere/own.cmml", "elsewhere/own.cmml"},
      {"command line naming no file", mainIsMain, "elsewhere/none.cmml", "Usr/main.cmml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    MakeProgram(c.params);
    ASSERT_TRUE(Kernel());
    fs::current_path(Home()); // the command line names files from the folder it started in
    std::string caption = BootPlayer({c.commandLine, false});
    EXPECT_EQ(caption, "Brova System");
    EXPECT_FALSE(BootState().starting);
    EXPECT_TRUE(BootState().systemReady);
    std::string expected = c.opened.empty() ? "" : (Home() / c.opened).string();
    EXPECT_EQ(BootState().startPage, expected);
    EXPECT_EQ(PageState().currentPageFile, expected);
    EXPECT_EQ(Scheduler().rootProcess != nullptr, !c.opened.empty());
  }
}

TEST_F(PlayerBoot, ProjectParametersAndGlobals) {
  MakeProgram("  <param name=\"title\" value=\"My Game\"/>\r\n"
              "  <param name=\"version\" value=\" 2.0\"/>\r\n"
              "  <param name=\"helpfile\" value=\"docs/help.html\"/>\r\n");
  testing::WriteFile(Home() / "Kernel/Cookies.ini", "env:SvDelay=120\r\nenv:statusBar=0\r\n");
  std::vector<std::string> calls;
  TBootServices& services = BootServices();
  services.setStatusBarVisible = [&](bool on) { calls.push_back(on ? "bar on" : "bar off"); };
  services.prepareScreen = [&] { calls.push_back("prepare"); };
  services.layoutScreen = [&] { calls.push_back("layout"); };
  services.startSound = [&] { calls.push_back("sound"); };
  services.windowPosition = [] { return std::pair<int32_t, int32_t>(30, 40); };
  services.setSynthesizerDelay = [&](int32_t ms) {
    calls.push_back("delay " + std::to_string(ms));
  };
  ASSERT_TRUE(Kernel());
  EXPECT_EQ(BootPlayer({"", true}), "My Game 2.0");
  EXPECT_EQ(calls,
            (std::vector<std::string>{"bar off", "prepare", "layout", "sound", "delay 120"}));
  EXPECT_EQ(BootState().helpFile, (Home() / "docs/help.html").string());
  for (const auto& [name, value] : std::vector<std::pair<const char*, int>>{{"$_emChar", 1},
                                                                            {"$_editMode", 1},
                                                                            {"$windowX", 30},
                                                                            {"$windowY", 40},
                                                                            {"$fullScreen", 1}})
    EXPECT_EQ(ValueToText(*GlobalSlotInTree(name)), std::to_string(value)) << name;
}

TEST_F(PlayerBoot, HeadlessTheFirstFrameRunsTwoSecondsAfterTheSplashAppeared) {
  MakeProgram("");
  platform::SetVirtualClock(true);
  uint64_t start = platform::TicksMs();
  Splash().Show(start);
  ASSERT_TRUE(Kernel());
  BootPlayer({});
  ASSERT_NE(Scheduler().rootProcess, nullptr);
  InstallScheduler();
  uint64_t firstFrame = 0;
  for (int pass = 0; pass < 200 && !firstFrame; ++pass) {
    Splash().Tick(platform::TicksMs());
    RunHeadlessPasses(1);
    if (ValueToInt(*GlobalSlotInTree("$frames")) > 0) firstFrame = platform::TicksMs() - start;
  }
  platform::SetVirtualClock(false);
  EXPECT_GE(firstFrame, kSplashMinimumMs);
  EXPECT_LT(firstFrame, kSplashMinimumMs + 3 * 17);
}

} // namespace
} // namespace brova
