#include "resources/boot.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "compiler/class_compiler.h"
#include "compiler/class_file.h"
#include "compiler/snippet_evaluation.h"
#include "natives/array_natives.h"
#include "natives/binding_table.h"
#include "natives/object_natives.h"
#include "platform/message_sink.h"
#include "resources/environment.h"
#include "resources/message_table.h"
#include "resources/modules.h"
#include "resources/page_loader.h"
#include "resources/project_manager.h"
#include "resources/resource_list.h"
#include "resources/resource_reader.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/frame_scheduler.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/progress_note.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "runtime/value.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

namespace fs = std::filesystem;

FolderWritableCheck& WritableCheck() {
  static FolderWritableCheck check;
  return check;
}

bool DefaultWritable(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec)) return false;
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool IsWritable(const std::string& folder) {
  return WritableCheck() ? WritableCheck()(folder) : DefaultWritable(folder);
}

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// The runtime's and the natives' roads to globals, classes and snippets.
void WireServices(const std::string& programDir) {
  SetGlobalResolver(GlobalSlotInTree);
  SetGlobalDeclarer(DeclareGlobalInTree);
  SetProgramFolder(programDir);
  SetClassCacheFolder(BootState().cacheFolder);
  PageServices().setEnv = [](const std::string& name, const std::string& value) {
    SetEnv(name, value);
  };
  PageServices().recordRecentPage = [](const std::string& page) {
    RecordRecentPage(page, BootState().programDir);
  };
  // The file hash of the natives, unless one is in place already (tests count files).
  if (!PageServices().fileHash) PageServices().fileHash = natives::PageHashCode;
  PageServices().collectGarbage = [] { CollectGarbage(false); };
  natives::SetCurrentPageFileSource([] { return PageState().currentPageFile; });
  SetRootProcessSource([] { return Scheduler().rootProcess; });
  FrameServices().statisticsLine = StatisticsLine;
  InstallProjectManagerServices();
  InstallClassCompiler();
  InstallSnippetEvaluator();
}

void BootNotes() {
  ProgressNote(std::string("Welcome to Brova System Ver ") + kVersionText);
  ProgressNote("");
  ProgressNote("Starting System..");
  ProgressNote("TValue=" + std::to_string(sizeof(TValue)));
  ProgressNote("TVType=" + std::to_string(sizeof(TVType)));
  ProgressNote("TfObject=" + std::to_string(sizeof(TfObject) + sizeof(TValue)));
  // Floats are widened to the 80-bit extended format for their text form.
  ProgressNote("Extended=10");
  ProgressNote("Loading Enviroment Values");
}

// Reads and compiles the kernel, binds its natives and loads the modules. Raises what stops
// the boot; the messages of a missing file have been shown by then.
void LoadKernel(const std::string& programDir) {
  SetResourceBaseDir(programDir);
  ProgressNote("Loading Modules..");
  ProgressNote("Loading Kernel Resources..");
  SetResourceRoot(loadResourceFile(JoinPath("kernel/resource.brovares", programDir)));
  TRTTI* object = findClass("classes.lang.Object");
  if (!object)
    throw EScriptError(Translate("The kernel has no class ") + "classes.lang.Object" +
                       Translate("."));
  SetObjectClass(object);
  SetStringClass(findClass("classes.lang.String"));
  SetArrayClass(findClass("classes.lang.Array"));

  ProgressNote("Compiling Kernel Resources..");
  ResourceRoot()->initialize();

  ProgressNote("Setting Native Interfaces..");
  natives::BindStartupNatives([](const char* path) { return findClass(path); });

  TBootState& state = BootState();
  state.kernelPatternCount = BootServices().patternCount ? BootServices().patternCount() : 0;
  TPageFileEnum collector;
  ResourceRoot()->accept(collector);
  state.kernelHash = collector.total();
  state.kernelFiles = collector.files();
  if (auto& show = PageServices().showFileList) show(state.kernelFiles);

  loadModules(programDir);
  initModules();
  ProgressNote("Ready");
}

} // namespace

TBootState& BootState() {
  static TBootState state;
  return state;
}

TBootServices& BootServices() {
  static TBootServices services;
  return services;
}

bool BootKernel(const std::string& programDir) {
  TBootState& state = BootState();
  state.starting = true;
  state.programDir = WithoutTrailingSlash(programDir);
  const std::string& dir = state.programDir;
  state.startPage.clear();
  state.projectFilePath = ResolveExistingPath(JoinPath("Usr/default.brovaprj", dir));
  state.cacheFolder = ChooseCacheFolder(dir);

  LoadMessageTable(SettingsFile(dir, "Kernel/message.ini"));
  LoadEnvironment(SettingsFile(dir, "Kernel/Cookies.ini"));
  FillRecentPages(dir);
  WireServices(dir);

  BootNotes();
  try {
    LoadKernel(dir);
  } catch (const EMarkupFileError&) {
    return false; // the file's message has been shown
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
    return false;
  }
  return true;
}

// ---- the player

namespace {

bool IsFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// The project's first page: `mainPage` when set (nothing when no entry has that name),
// otherwise the first entry of the page list.
std::string ProjectStartPage(const std::string& mainPage, const std::string& usrDir) {
  TResourceList* pages = findList(ProjectManager().pagesPath());
  if (!pages || pages->size() == 0) return std::string();
  TResource* page = mainPage.empty() ? pages->child(0) : pages->findChild(mainPage);
  return page && !page->src.empty() ? JoinPath(page->src, usrDir) : std::string();
}

void Call(const std::function<void()>& f) {
  if (f) f();
}

} // namespace

std::string BootPlayer(const TPlayerStart& start) {
  TBootState& state = BootState();
  TBootServices& services = BootServices();
  const std::string& dir = state.programDir;
  if (!start.page.empty()) {
    std::error_code ec;
    std::string page = fs::absolute(start.page, ec).lexically_normal().string();
    page = ResolveExistingPath(page);
    if (IsFile(page)) state.startPage = page;
  }
  std::error_code ec;
  fs::current_path(dir, ec);

  if (services.setStatusBarVisible) services.setStatusBarVisible(GetEnv("statusBar") != "0");
  Call(services.prepareScreen);

  TPrjManager& project = ProjectManager();
  project.openProjectFile(state.projectFilePath);
  std::string mainPage = project.getParam("mainPage");
  std::string help = project.getParam("helpfile");
  state.helpFile =
      help.find("http://") != std::string::npos || help.empty() ? help : JoinPath(help, dir);
  if (state.startPage.empty())
    state.startPage = ProjectStartPage(mainPage, ResolveExistingPath(JoinPath("Usr", dir)));

  SetGlobalInTree("$_emChar", IntValue(1));
  SetGlobalInTree("$_editMode", IntValue(1));
  state.starting = false;
  state.systemReady = true;
  Call(services.layoutScreen);
  if (!state.startPage.empty()) runPage(state.startPage);

  std::string caption = project.getParam("title") + project.getParam("version");
  if (caption.empty()) caption = "Brova System";

  Call(services.startSound);
  if (services.windowPosition) {
    auto [x, y] = services.windowPosition();
    SetGlobalInTree("$windowX", IntValue(x));
    SetGlobalInTree("$windowY", IntValue(y));
  }
  SetGlobalInTree("$fullScreen", IntValue(start.fullScreen ? 1 : 0));
  int32_t delay = std::atoi(GetEnv("SvDelay").c_str());
  if (delay > 0 && services.setSynthesizerDelay) services.setSynthesizerDelay(delay);
  return caption;
}

// ---- folders

std::string UserCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && IsAbsolutePath(xdg)) return JoinPath("brova", xdg);
  const char* home = std::getenv("HOME");
  if (home && IsAbsolutePath(home)) return JoinPath(".cache/brova", home);
  return JoinPath("brova-cache", fs::temp_directory_path().string());
}

void SetFolderWritableCheck(FolderWritableCheck check) { WritableCheck() = std::move(check); }

std::string ChooseCacheFolder(const std::string& programDir) {
  std::string temp = ResolveExistingPath(JoinPath("Temp", programDir));
  if (IsWritable(temp)) return temp;
  std::string user = UserCacheFolder();
  std::error_code ec;
  fs::create_directories(user, ec);
  return user;
}

const std::string& CacheFolder() { return BootState().cacheFolder; }

std::string SettingsFile(const std::string& programDir, const std::string& relative) {
  std::string own = ResolveExistingPath(JoinPath(relative, programDir));
  std::error_code ec;
  if (fs::is_regular_file(own, ec)) return own;
  std::string user = ResolveExistingPath(JoinPath(relative, UserCacheFolder()));
  return fs::is_regular_file(user, ec) ? user : own;
}

// ---- splash

void TSplashTimer::Show(uint64_t nowMs) {
  shownAt_ = nowMs;
  visible_ = true;
}

bool TSplashTimer::Tick(uint64_t nowMs) {
  if (!visible_) return false;
  if (nowMs >= shownAt_ + kSplashMinimumMs && BootState().systemReady) {
    Scheduler().autoExecution = true;
    visible_ = false;
  }
  return visible_;
}

int32_t TSplashTimer::BarWidth(int32_t imageWidth, uint64_t nowMs) const {
  uint64_t elapsed = nowMs > shownAt_ ? std::min(nowMs - shownAt_, kSplashMinimumMs) : 0;
  return static_cast<int32_t>(static_cast<uint64_t>(std::max(imageWidth, 0)) * elapsed /
                              kSplashMinimumMs);
}

TSplashTimer& Splash() {
  static TSplashTimer splash;
  return splash;
}

} // namespace brova
