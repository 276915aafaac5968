// Pages: reading a page file into the tree as `usr`, running it (the kernel class Boot's
// `execute` as the frame loop's root process) or opening it for design, stopping it, the
// construction script that makes the page's objects, the file collector with its hash code
// and the cache file names.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resource.h"

namespace brova {

class TGenerator;

// Process-wide page state.
struct TPageState {
  std::string currentPageFile;  // absolute path of the open page file
  bool classesCompiled = false; // the project's classes compiled at the last load
  bool projectOpening = false;  // set by openProjectOf, cleared when loadPage ends
  bool pageInvalid = true;      // no page with compiled classes is loaded
  bool designMode = false;      // the page is open for design
};
TPageState& PageState();

// The Boot instance whose process runs the page; null when none.
TfObject* BootObject();

// What page handling needs from other subsystems; each is set by its owner, and an empty one
// does nothing.
struct TPageServices {
  std::function<void(bool)> setPageLoading; // the screen's loading flag
  std::function<void()> refreshScreen;
  std::function<void()> freeDrawList;        // frees the sprites of the draw list
  std::function<void()> collectGarbage;      // the mark-and-sweep collector
  std::function<void()> cutPatternsToKernel; // the pattern list back to the kernel's
  std::function<void()> reloadPatterns;      // kernel and page patterns loaded again
  std::function<void(bool)> setScreenDesignFlag;
  std::function<void()> startSynthesizerTimer;
  std::function<void()> refreshDebugWindow;
  std::function<void(const std::vector<std::string>&)> showFileList; // debug window's list
  std::function<void(const std::string&, const std::string&)> setEnv;
  std::function<void(const std::string&)> recordRecentPage;
  // The file hash of getPageHashCode, which steps the shared random generator.
  std::function<int32_t(const std::string&)> fileHash;
};
TPageServices& PageServices();

// The eight-line page of a new file: `usr` with empty `patterns`, `classes` and `gen`.
std::string NewPageText();
// Writes NewPageText() when `path` names no file; false when it cannot be written.
bool WriteNewPageFile(const std::string& path);

// Reads the page into the tree as `usr` and compiles the project's classes; the result of
// initialising `usr.patterns` (0 when absent, or when the page file is missing).
int32_t loadPage(const std::string& path);
// Loads the page and makes Boot.execute the root process. Errors are shown, never raised.
void runPage(const std::string& path);
// Makes Boot.design the root process on the loaded page.
void designPage();
// Frees the draw list's sprites and the root process, then collects garbage.
void stopPage();
// runPage of `usr`'s file, if there is a `usr`.
void rerunPage();
// The host's page open: writes a new page when the file is missing, then runs it.
void openPage(const std::string& path);

// ---- construction script

// The statements of the construction script for the current `usr`, `pageHash` recorded in
// the first. Missing and uncompiled classes are reported and their generators skipped.
std::vector<std::string> ConstructionStatements(int32_t pageHash);
// Temp/i124_<page>.brova for the current page file.
std::string ConstructionScriptPath();
// The hash a construction script text was built from; false when its first statement is
// not the hash statement.
bool RecordedPageHash(std::string_view scriptText, int32_t& hash);
// The native `generate` of Boot: builds the construction script when it is missing or was
// built from another version of the page, then runs it. 0 ran, 1 did not compile, 2 stopped
// by a runtime error, -1 nothing to run.
int generate();

// ---- files and caches

// Collects the `src` of every visited resource, without duplicates (ignoring case), in
// visiting order.
class TPageFileEnum : public TResourceIterator {
public:
  void visit(TResource& resource) override;
  const std::vector<std::string>& files() const { return files_; }
  // The 32-bit wrapping sum of pageHashCode over the files.
  int32_t total() const;

private:
  std::vector<std::string> files_;
};

// The file hash (PageServices().fileHash): 0 for a missing file, for ".dll" and ".mid"
// files, and while no hash is installed.
int32_t pageHashCode(const std::string& path);
// The path relative to the program folder with ".." as "@" and only "@", letters, digits and
// "_" kept, `prefix` in front, in the folder Temp of the program folder (made when missing).
std::string tempName(const std::string& path, std::string_view prefix);

} // namespace brova
