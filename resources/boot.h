// The boot sequence: from the program folder to a ready kernel (BootKernel, which `brova
// --run` uses too), then the project and the first page (BootPlayer); the splash timing that
// holds the first frame back; and the folders the caches and settings files live in.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace brova {

inline constexpr const char* kVersionText = "1.24";
inline constexpr int32_t kVersionNumber = 1240;

// Process-wide start-up state.
struct TBootState {
  std::string programDir;         // without a trailing "/"
  std::string startPage;          // the page to open when the boot ends; empty for none
  std::string projectFilePath;    // Usr/default.brovaprj in the program folder
  std::string helpFile;           // the project's `helpfile`: a web address or a file
  std::string cacheFolder;        // chosen by BootKernel (CacheFolder)
  bool starting = false;          // set by BootKernel, cleared by BootPlayer
  bool systemReady = false;       // set by BootPlayer once the project is open
  int32_t kernelPatternCount = 0; // the kernel's share of the pattern list
  int32_t kernelHash = 0;         // the sum of the file hashes of the kernel's files
  std::vector<std::string> kernelFiles;
};
TBootState& BootState();

// Whether a paint should run the boot: neither running nor done, so a paint during the boot
// (a message box opening) does not start a second one.
inline bool BootPending() { return !BootState().starting && !BootState().systemReady; }

// What the boot asks of subsystems that are not its own; each is set by its owner, and an
// empty one does nothing. The debug window's file list is PageServices().showFileList.
struct TBootServices {
  std::function<int32_t()> patternCount;         // patterns loaded so far
  std::function<void(bool)> setStatusBarVisible; // the environment's statusBar
  std::function<void()> prepareScreen;           // the screen's first preparation
  std::function<void()> layoutScreen;            // once the system is ready
  // Starts the synthesizer and runs the screen's second preparation.
  std::function<void()> startSound;
  std::function<std::pair<int32_t, int32_t>()> windowPosition;
  std::function<void(int32_t)> setSynthesizerDelay; // a positive SvDelay
};
TBootServices& BootServices();

// Message table, environment values, recent pages, the kernel read and compiled, natives
// bound in the order of the start-up table, kernel patterns and hash, modules loaded and
// initialised. False when the boot cannot go on (a missing or broken kernel, a module class
// that does not compile): its message has been shown and the program should exit non-zero.
bool BootKernel(const std::string& programDir);

// What the player's boot is given on the command line.
struct TPlayerStart {
  std::string page; // a page file to open instead of the project's; empty for none
  bool fullScreen = false;
};

// The rest of the boot after BootKernel: the program folder becomes the current folder, the
// project Usr/default.brovaprj is opened, the first page chosen (the command line's when
// that file exists, else the project's `mainPage`, else its first page) and run, and the
// system marked ready. Frames still wait for the splash (TSplashTimer). Returns the window
// caption: the project's title and version, or "Brova System".
std::string BootPlayer(const TPlayerStart& start);

// ---- folders

// The user's own cache folder: $XDG_CACHE_HOME/brova when that is an absolute path, else
// $HOME/.cache/brova.
std::string UserCacheFolder();

// Whether files can be made in `folder` (made when missing). Tests replace the check, since
// permission bits do not stop the superuser; an empty function restores the default.
using FolderWritableCheck = std::function<bool(const std::string& folder)>;
void SetFolderWritableCheck(FolderWritableCheck check);

// Temp in the program folder, or the user's cache folder when Temp cannot be written there.
std::string ChooseCacheFolder(const std::string& programDir);
// The folder of compiled-class files and construction scripts, as BootKernel chose it.
const std::string& CacheFolder();

// A settings file (`relative`, such as "Kernel/message.ini") of the program folder; when the
// program folder has none, the same name in the user's cache folder, so that a user who
// cannot write the program folder can still provide one.
std::string SettingsFile(const std::string& programDir, const std::string& relative);

// ---- the splash window's timing

inline constexpr uint64_t kSplashMinimumMs = 2000;

// Frames run only once the splash hides: at least kSplashMinimumMs after it appeared and
// not before the boot has finished. Headless players tick it on the virtual clock.
class TSplashTimer {
public:
  void Show(uint64_t nowMs);
  // One tick of the splash's timer: once kSplashMinimumMs have passed and the system is
  // ready, switches on the frame scheduler's automatic execution and hides. True while the
  // splash stays visible.
  bool Tick(uint64_t nowMs);
  bool visible() const { return visible_; }
  // The width of the progress bar along the bottom of an image `imageWidth` pixels wide.
  int32_t BarWidth(int32_t imageWidth, uint64_t nowMs) const;

private:
  uint64_t shownAt_ = 0;
  bool visible_ = false;
};
TSplashTimer& Splash();

} // namespace brova
