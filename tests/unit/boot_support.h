// Shared pieces of the boot tests: a scratch program folder made from a fixture (or the
// repository's own kernel), a user cache folder of its own, and the process-wide state the
// boot wires reset afterwards.
#pragma once
#include "script_world.h"
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/class_compiler.h"
#include "compiler/class_file.h"
#include "compiler/snippet_evaluation.h"
#include "natives/script_services.h"
#include "resource_support.h"
#include "resources/boot.h"
#include "resources/environment.h"
#include "resources/page_loader.h"
#include "resources/project_manager.h"
#include "runtime/frame_scheduler.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/progress_note.h"
#include "runtime/translate.h"

namespace brova::testing {

namespace fs = std::filesystem;

inline const fs::path kBootFixtures = fs::path(BROVA_FIXTURES_DIR) / "boot";

// Every progress note made while it lives.
struct BootNotes {
  std::vector<std::string> notes;
  BootNotes() {
    SetProgressNoteSink([this](std::string_view t) { notes.emplace_back(t); });
  }
  ~BootNotes() { SetProgressNoteSink({}); }
};

class BootTest : public ::testing::Test {
protected:
  void SetUp() override {
    defaultStackSize = 1024;
    currentProcess = nullptr;
    savedStringClass_ = StringClass();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = fs::temp_directory_path() / ("brova_" + std::string(info->test_suite_name()) + "_" +
                                            info->name() + "_" + std::to_string(::getpid()));
    fs::remove_all(scratch_);
    fs::create_directories(Home());
    savedFolder_ = fs::current_path();
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    savedXdg_ = xdg ? xdg : "";
    hadXdg_ = xdg != nullptr;
    ::setenv("XDG_CACHE_HOME", (scratch_ / "cache").c_str(), 1);
  }

  void TearDown() override {
    stopPage();
    ProjectManager() = TPrjManager();
    PageState() = TPageState();
    PageServices() = TPageServices();
    testing::ForgetScriptWorld(savedStringClass_);
    SetTranslator({});
    SetFolderWritableCheck({});
    LoadEnvironment("");
    FillRecentPages("");
    BootState() = TBootState();
    BootServices() = TBootServices();
    Scheduler().autoExecution = false;
    if (hadXdg_)
      ::setenv("XDG_CACHE_HOME", savedXdg_.c_str(), 1);
    else
      ::unsetenv("XDG_CACHE_HOME");
    fs::current_path(savedFolder_);
    fs::remove_all(scratch_);
  }

  fs::path Home() const { return scratch_ / "home"; }
  fs::path UserCache() const { return scratch_ / "cache" / "brova"; }

  // The program folder gets the repository's kernel.
  void CopyRealKernel() {
    fs::copy(fs::path(BROVA_SOURCE_DIR) / "kernel", Home() / "kernel", fs::copy_options::recursive);
  }
  // The program folder gets the boot fixtures' kernel.
  void CopyFixtureKernel() {
    fs::copy(kBootFixtures / "kernel", Home() / "kernel", fs::copy_options::recursive);
  }

private:
  fs::path scratch_;
  fs::path savedFolder_;
  std::string savedXdg_;
  bool hadXdg_ = false;
  TRTTI* savedStringClass_ = nullptr;
};

} // namespace brova::testing
