// The project manager: opens the project of a page's folder (`default.brovaprj`), keeps its
// page list in step with the folder's `.cmml` files, answers parameter queries and holds a
// script's page-open request until the frame loop performs it. One for the program's life.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace brova {

class TResource;

inline constexpr const char* kProjectFileName = "default.brovaprj";

// The project parameters that switch host behaviour ("1" exactly turns one on).
struct TProjectSwitches {
  bool disableKeysWhenInactive = true; // deactivation_disablekey
  bool disablePause = false;           // disable_pause
};
// deactivation_pause is kept as the frame scheduler's pauseWhenInactive.
TProjectSwitches& ProjectSwitches();

class TPrjManager {
public:
  std::string projectFile;     // absolute path of the open project file; empty when none
  std::string currentPageName; // the page entry whose file is open now
  std::string pendingPage;     // a page file a script asked to open
  bool pendingDesign = false;
  int32_t projectHash = 0; // sum of the file hash codes of the project's files

  bool isOpen() const { return !projectFile.empty(); }
  // The folder of the open project file.
  std::string projectFolder() const;

  // Opens the project of the page's folder, creating its project file when missing.
  void openProjectOf(const std::string& pagePath);
  // Reads a project file and attaches it as `project`; a path naming no file changes nothing.
  void openProjectFile(const std::string& path);
  void closeProject();
  // True unless the open project file is the page folder's project file.
  bool isOtherProject(const std::string& pagePath) const;
  // Rebuilds the page list from the project folder's "*.cmml" files.
  void rescanPages(const std::string& pagePath);
  // The entry added, named uniquely within the list; null without a page list.
  TResource* addPage(const std::string& name, const std::string& file);
  void findCurrentPage();
  // "project.pages" if that resolves, else "project".
  std::string pagesPath() const;

  std::string getParam(std::string_view name) const;
  // Stores the parameter (when `project.params` exists), then applies its switch.
  void setParam(std::string_view name, std::string_view value);
  // `project.classes` and `project.sounds`, made empty when missing; null (after a message)
  // without a project.
  TResource* getClassList();
  TResource* getSoundList();

  void requestPageOpen(const std::string& file, bool design);
  bool hasPendingPage() const { return !pendingPage.empty(); }
  // Opens the requested page (for design or to run) and clears the request.
  void performPendingOpen();

private:
  TResource* projectList(std::string_view name, const char* failure);
  void applySwitch(std::string_view name);
};

TPrjManager& ProjectManager();

// Makes the frame scheduler ask the project manager for held page-open requests.
void InstallProjectManagerServices();

} // namespace brova
