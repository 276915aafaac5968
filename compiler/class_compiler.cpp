#include "compiler/class_compiler.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "compiler/class_file.h"
#include "compiler/code_context.h"
#include "compiler/language.h"
#include "compiler/syntax_tree.h"
#include "platform/message_sink.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/progress_note.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"
#include "tools/time_analyzer.h"

namespace brova {
namespace {

CompileErrorDisplay& Display() {
  static auto* display = new CompileErrorDisplay;
  return *display;
}

// True when the class came whole from its file. A file that cannot be used leaves the class
// as it was before, so compiling from source starts clean.
bool LoadClassFile(TRTTI& cls) {
  std::string path = ClassFileName(cls);
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  try {
    if (ReadClassFile(cls, in)) {
      cls.compileFailed = false;
      return true;
    }
  } catch (const std::exception&) {
    ProgressNote(Translate("not a valid Class File"));
  }
  ResetClass(&cls);
  cls.superClass = nullptr;
  return false;
}

// Written beside the final name and renamed over it, so an interrupted write never leaves
// half a file under the name.
void SaveClassFile(const TRTTI& cls) {
  std::string path = ClassFileName(cls);
  if (path.empty()) return;
  std::string temporary = path + ".tmp";
  std::error_code ec;
  std::filesystem::create_directories(ClassCacheFolder(), ec);
  try {
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      if (out) WriteClassFile(cls, out);
      out.close();
      if (!out) throw EScriptError(temporary);
    }
    std::filesystem::rename(temporary, path);
  } catch (const std::exception&) {
    std::filesystem::remove(temporary, ec);
    ProgressNote(path + Translate(" cannot be written."));
  }
}

} // namespace

void SetCompileErrorDisplay(CompileErrorDisplay display) { Display() = std::move(display); }

void ReportCompileError(const std::string& message, const std::string& sourcePath, int position,
                        std::string_view sourceText) {
  if (Display()) {
    Display()(message, sourcePath, position);
    return;
  }
  ProgressNote("");
  std::string shown = message;
  if (!sourcePath.empty() && position >= 0 && static_cast<size_t>(position) <= sourceText.size()) {
    size_t line = 1 + std::count(sourceText.begin(), sourceText.begin() + position, '\n');
    shown += " (line " + std::to_string(line) + ")";
  }
  platform::ShowMessage(shown);
}

int CompileClass(TRTTI& cls, const std::string& source, bool report,
                 const TCompileOptions& options) {
  TProfileSection timing(kTpCompileClass);
  if (!cls.src.empty()) {
    ProgressNote(Translate("Compiling ") + RelativePath(cls.src, ResourceBaseDir()));
    if (LoadClassFile(cls)) return 0;
  }
  TYup& engine = LanguageEngine();
  std::unique_ptr<TLexList> tokens = engine.Lex(source.c_str());
  tokens->RemoveTokensOf(engine.LexicalRule("COMM"));
  TSyntaxTree tree = engine.Parse(*tokens);
  if (!tree) {
    cls.compileFailed = true;
    if (report)
      ReportCompileError(Translate("Syntax Error") + cls.src, cls.src, tokens->ErrorOffset(), source);
    return 1;
  }

  TContext context;
  context.ResourceRoot = ResourceRoot();
  context.RootClass = findClass("classes.lang.Object");
  context.CurrentClass = &cls;
  context.SourceText = source.c_str();
  context.DefaultSuperclass = options.defaultSuperclass;
  cls.compileFailed = false;
  int result = 0;
  try {
    static_cast<TResList*>(tree.Root())->Generate(context);
  } catch (const std::exception& e) {
    cls.compileFailed = true;
    if (report) ReportCompileError(e.what(), cls.src, context.Position, source);
    result = 1;
  }
  tree.Reset();
  tokens.reset();
  if (result == 0 && cls.compiled && !cls.src.empty()) SaveClassFile(cls);
  return result;
}

void CompileClassFromSource(TRTTI& cls) {
  if (cls.compiled) return;
  ResetClass(&cls);
  std::string source;
  if (!cls.src.empty()) {
    try {
      source = readTextFile(cls.src);
    } catch (const std::exception&) {
      cls.compileFailed = true;
      return;
    }
  }
  CompileClass(cls, source, true);
}

void InstallClassCompiler() { SetClassCompiler(CompileClassFromSource); }

} // namespace brova
