#include "resources/project_manager.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/host_clock.h"
#include "platform/message_sink.h"
#include "resources/custom_resource.h"
#include "resources/page_loader.h"
#include "resources/param.h"
#include "resources/resource_list.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/frame_scheduler.h"
#include "runtime/text_case.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

namespace fs = std::filesystem;

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

std::string CurrentFolder() {
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  return ec ? std::string() : cwd.string();
}

// The four lines of a new project file.
std::string NewProjectText() {
  return ElementLine("resourcelist", {{"name", "project"}}, false) + "\r\n" + " " +
         ElementLine("resourcelist", {{"name", "pages"}}, false) + "\r\n" +
         " </resourcelist>\r\n</resourcelist>\r\n";
}

TResource* Project() {
  TResource* root = ResourceRoot();
  return root ? root->findChild("project") : nullptr;
}

void DropScriptObjects(std::string_view path) {
  TResource* root = ResourceRoot();
  if (TResource* r = root ? root->findChild(path) : nullptr) r->releaseObjects();
}

bool HasCmmlExtension(const fs::path& p) {
  return SameTextIgnoringCase(p.extension().string(), ".cmml");
}

} // namespace

TProjectSwitches& ProjectSwitches() {
  static TProjectSwitches switches;
  return switches;
}

TPrjManager& ProjectManager() {
  static auto* manager = new TPrjManager;
  return *manager;
}

std::string TPrjManager::projectFolder() const { return ParentFolder(projectFile); }

void TPrjManager::openProjectOf(const std::string& pagePath) {
  if (isOpen() && fs::path(ToHostPath(projectFile)).filename() != kProjectFileName) return;
  projectFile = JoinPath(kProjectFileName, ParentFolder(pagePath));
  PageState().projectOpening = true;
  PageState().classesCompiled = false;
  if (!FileExists(ResolveExistingPath(projectFile))) {
    std::ofstream out(projectFile, std::ios::binary | std::ios::trunc);
    out << NewProjectText();
    out.close();
    if (!out) platform::ShowMessage(projectFile + Translate(" cannot be written."));
  }
  openProjectFile(projectFile);
  rescanPages(pagePath);
}

void TPrjManager::openProjectFile(const std::string& path) {
  std::string file = ResolveExistingPath(JoinPath(path, CurrentFolder()));
  if (!FileExists(file) || !ResourceRoot()) return;
  if (Project()) {
    stopPage();
    DropScriptObjects("usr");
    DropScriptObjects("project");
    detachResource("project");
  }
  projectFile = file;
  {
    TBaseDirScope scope(ParentFolder(file));
    newResourceNode(file, "project", TNodeKind::Link);
  }
  TResource* project = Project();
  if (!project) return;

  TPageFileEnum collector;
  project->accept(collector);
  projectHash = collector.total();
  if (auto& show = PageServices().showFileList) {
    std::vector<std::string> lines{"$$$project files"};
    lines.insert(lines.end(), collector.files().begin(), collector.files().end());
    show(lines);
  }

  if (!project->findChild("params")) {
    auto params = std::make_unique<TResourceList>();
    params->name = "params";
    project->add(std::move(params));
  }
  if (getParam("commentID").empty())
    setParam("commentID", std::to_string(static_cast<uint32_t>(platform::TicksMs())));
  if (getParam("sound_stopOnPageLoad").empty()) setParam("sound_stopOnPageLoad", "1");
  if (TResource* params = project->findChild("params"))
    for (auto it = params->iterator(); it && it->hasNext();) applySwitch(it->next()->name);
  setParam("savedVersion", "1240");
}

void TPrjManager::closeProject() {
  if (!isOpen()) return;
  if (Project()) detachResource("project");
  projectFile.clear();
}

bool TPrjManager::isOtherProject(const std::string& pagePath) const {
  return !SamePath(projectFile, JoinPath(kProjectFileName, ParentFolder(pagePath)));
}

void TPrjManager::rescanPages(const std::string& pagePath) {
  TResource* project = Project();
  if (!isOpen() || !project) return;
  // Without a page list the entries would be taken from the project list itself, which
  // holds the parameters and the shared classes.
  TResource* pages = project->findChild("pages");
  if (!pages) {
    auto made = std::make_unique<TResourceList>();
    made->name = "pages";
    pages = project->add(std::move(made));
  }
  for (auto it = pages->iterator(); it && it->hasNext();) {
    it->next();
    it->removeCurrent();
  }
  const std::string folder = projectFolder();
  const std::string openPage = JoinPath(pagePath, folder);
  std::error_code ec;
  for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
    if (!entry->is_regular_file(ec) || !HasCmmlExtension(entry->path())) continue;
    std::string file = entry->path().filename().string();
    TResource* page = addPage("$page_" + BaseNameNoExt(file), file);
    if (page && SamePath(JoinPath(file, folder), openPage)) currentPageName = page->name;
  }
}

TResource* TPrjManager::addPage(const std::string& name, const std::string& file) {
  TResource* root = ResourceRoot();
  TResource* pages = root ? root->resolve(pagesPath()) : nullptr;
  if (!pages) return nullptr;
  TSGML element("page");
  element.setAttr("name", uniqueChildName(*pages, name));
  element.setAttr("src", file);
  auto page = std::make_unique<TCustomResource>();
  page->readFrom(element, ResourceBaseDir());
  return pages->add(std::move(page));
}

void TPrjManager::findCurrentPage() {
  currentPageName.clear();
  TResource* root = ResourceRoot();
  TResource* pages = root ? root->resolve(pagesPath()) : nullptr;
  for (auto it = pages ? pages->iterator() : nullptr; it && it->hasNext();) {
    TResource* page = it->next();
    if (!page->src.empty() && SamePath(page->src, PageState().currentPageFile)) {
      currentPageName = page->name;
      return;
    }
  }
}

std::string TPrjManager::pagesPath() const {
  TResource* root = ResourceRoot();
  return root && root->resolve("project.pages") ? "project.pages" : "project";
}

std::string TPrjManager::getParam(std::string_view name) const {
  TResource* project = Project();
  TResource* params = project ? project->findChild("params") : nullptr;
  auto* param = params ? dynamic_cast<TfParam*>(params->findChild(name)) : nullptr;
  return param ? param->text : std::string();
}

void TPrjManager::setParam(std::string_view name, std::string_view value) {
  TResource* project = Project();
  TResource* params = project ? project->findChild("params") : nullptr;
  if (params) {
    if (auto* param = dynamic_cast<TfParam*>(params->findChild(name))) {
      param->text = std::string(value);
    } else {
      auto made = std::make_unique<TfParam>();
      made->name = std::string(name);
      made->text = std::string(value);
      params->add(std::move(made));
    }
  }
  applySwitch(name);
}

void TPrjManager::applySwitch(std::string_view name) {
  bool on = getParam(name) == "1";
  if (SameTextIgnoringCase(name, "deactivation_disablekey"))
    ProjectSwitches().disableKeysWhenInactive = on;
  else if (SameTextIgnoringCase(name, "deactivation_pause"))
    Scheduler().pauseWhenInactive = on;
  else if (SameTextIgnoringCase(name, "disable_pause"))
    ProjectSwitches().disablePause = on;
}

TResource* TPrjManager::projectList(std::string_view name, const char* failure) {
  TResource* project = Project();
  TResource* list = project ? project->findChild(name) : nullptr;
  if (!list && project) {
    auto made = std::make_unique<TResourceList>();
    made->name = std::string(name);
    list = project->add(std::move(made));
  }
  if (!list) platform::ShowMessage(failure);
  return list;
}

TResource* TPrjManager::getClassList() {
  return projectList("classes", "TPrjManager.getClassList :: !?");
}

TResource* TPrjManager::getSoundList() {
  return projectList("sounds", "TPrjManager.getSoundList :: !?");
}

void TPrjManager::requestPageOpen(const std::string& file, bool design) {
  pendingPage = file;
  pendingDesign = design;
}

void TPrjManager::performPendingOpen() {
  if (pendingPage.empty()) return;
  // Taken before the open, so a request made while the page opens is kept for later.
  std::string page = std::move(pendingPage);
  pendingPage.clear();
  if (pendingDesign) {
    try {
      loadPage(page);
    } catch (const EMarkupFileError&) {
    } catch (const std::exception& e) {
      platform::ShowMessage(e.what());
    }
    designPage();
    if (auto& refresh = PageServices().refreshDebugWindow) refresh();
  } else {
    stopPage();
    runPage(page);
  }
}

void InstallProjectManagerServices() {
  TFrameServices& services = FrameServices();
  services.hasPendingPage = [] { return ProjectManager().hasPendingPage(); };
  services.performPendingOpen = [] { ProjectManager().performPendingOpen(); };
}

} // namespace brova
