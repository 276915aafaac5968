#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "app/entry_points.h"
#include "compiler/class_compiler.h"
#include "compiler/snippet_evaluation.h"
#include "natives/file_sandbox.h"
#include "natives/object_natives.h"
#include "platform/message_sink.h"
#include "resources/boot.h"
#include "resources/resource_list.h"
#include "resources/resource_reader.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/errors.h"
#include "runtime/process.h"
#include "runtime/rtti.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

// Classes in a classes/ folder beside the script become the list usr.classes, reachable by
// their short names.
void AttachSiblingClasses(const std::string& scriptPath) {
  std::string folder = JoinPath("classes", ParentFolder(scriptPath));
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return;
  std::string markup = "<resourcelist name=\"usr\">\r\n <resourcelist name=\"classes\">\r\n";
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() != ".brova") continue;
    std::string file = entry.path().string();
    markup += "  <class name=\"" + escapeAttr(BaseNameNoExt(file)) + "\" src=\"" +
              escapeAttr(file) + "\"/>\r\n";
  }
  markup += " </resourcelist>\r\n</resourcelist>\r\n";
  attachResource("usr", loadResourceText(markup, folder));
  ResourceRoot()->resolve("usr")->initialize();
}

} // namespace

int RunScriptFile(const TCommandLine& options, const std::string& programFolder) {
  platform::SetMessageMode(platform::MessageMode::Console);
  natives::SetPrintSink([](const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
  });
  std::string path = JoinPath(options.runFile, std::filesystem::current_path().string());
  std::unique_ptr<TRTTI> cls;
  try {
    if (!BootKernel(programFolder)) return 1;
    std::string source = readTextFile(path);
    AttachSiblingClasses(path);
    // A script's files live in files/ beside it, as a page's do.
    natives::SetFilesFolder(JoinPath("files", ParentFolder(path)));
    if (options.stackBytes >= 0) defaultStackSize = static_cast<int32_t>(options.stackBytes);
    cls = std::make_unique<TRTTI>();
    cls->name = BaseNameNoExt(path);
    cls->src = path;
    if (CompileClass(*cls, source, true, TCompileOptions{"classes.lang.Object"}) != 0 ||
        !cls->compiled)
      return 1;
    bool kept = false;
    int status = RunClassBody(*cls, &kept);
    std::fflush(stdout);
    // Objects of the script's class may still be referenced from globals at exit.
    if (kept) cls.release();
    return status == 0 ? 0 : 2;
  } catch (const EMarkupFileError&) {
    return 1; // the file's message has been shown
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
    std::fflush(stdout);
    return 1;
  }
}

} // namespace brova
