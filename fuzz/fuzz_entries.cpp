#include "fuzz/fuzz_entries.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "compiler/class_compiler.h"
#include "compiler/class_file.h"
#include "compiler/snippet_evaluation.h"
#include "natives/array_natives.h"
#include "natives/base64.h"
#include "natives/binding_table.h"
#include "natives/file_sandbox.h"
#include "natives/object_natives.h"
#include "natives/script_services.h"
#include "platform/message_sink.h"
#include "resources/resource_list.h"
#include "resources/resource_reader.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/errors.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/rtti.h"
#include "tools/path_functions.h"

namespace brova::fuzz {
namespace {

// Small enough that an endless loop costs a few milliseconds, large enough for real work.
constexpr int32_t kSliceSteps = 2000;
constexpr int kSlices = 4;

std::string& KernelFolder() {
  static std::string folder;
  return folder;
}

std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A violated property must stop the fuzzer as loudly as a crash would.
void Require(bool condition) {
  if (!condition) std::abort();
}

bool Boot(const std::string& sourceDir) {
  platform::SetMessageMode(platform::MessageMode::Console);
  platform::SetMessageObserver([](std::string_view) {});
  natives::SetPrintSink([](const std::string&) {});
  SetCompileErrorDisplay([](const std::string&, const std::string&, int) {});
  // Scripts may write files; they go to a scratch folder of this process, never the tree's.
  std::filesystem::path files = std::filesystem::temp_directory_path() /
                                ("brova_fuzz_" + std::to_string(::getpid())) / "files";
  std::error_code ec;
  std::filesystem::create_directories(files, ec);
  natives::SetFilesFolder(files.string());

  SetProgramFolder(sourceDir);
  SetClassCacheFolder(std::string());
  SetGlobalResolver(GlobalSlotInTree);
  SetGlobalDeclarer(DeclareGlobalInTree);
  InstallClassCompiler();
  InstallSnippetEvaluator();
  SetResourceBaseDir(sourceDir);
  try {
    SetResourceRoot(loadResourceFile(JoinPath("kernel/resource.brovares", sourceDir)));
  } catch (const std::exception&) {
    return false;
  }
  SetStringClass(findClass("classes.lang.String"));
  SetObjectClass(findClass("classes.lang.Object"));
  SetArrayClass(findClass("classes.lang.Array"));
  if (!ResourceRoot()->initialize()) return false;
  natives::BindStartupNatives([](const char* path) { return findClass(path); });
  KernelFolder() = sourceDir;
  return true;
}

// An element without a name is written as "</>" or "<>", which reads back as an end tag:
// such a tree has no markup of its own to round-trip through.
bool EveryElementNamed(const TSGML& root) {
  std::vector<const TSGML*> pending{&root};
  while (!pending.empty()) {
    const TSGML* e = pending.back();
    pending.pop_back();
    if (e->getTagName().empty()) return false;
    if (const TSGML::SubItems* children = e->getSubItems())
      for (const auto& child : *children) pending.push_back(child.get());
  }
  return true;
}

// Classes whose instance outlived the run (a script kept `this` in a global): the instance
// points at them, so they stay for the rest of the process.
std::vector<TRTTI*>& KeptClasses() {
  static auto* classes = new std::vector<TRTTI*>;
  return *classes;
}

// Runs the compiled class's body in a fresh instance for a few slices, then frees what the
// run left unless something still references the instance.
void RunBounded(TRTTI* cls) {
  TfObject* obj = nullptr;
  try {
    obj = HeapPtr<TfObject>(NewInstance(cls));
  } catch (const EScriptError&) {
    DestroyClassRecord(cls);
    return;
  }
  TProcess* process = nullptr;
  try {
    process = CreateProcess(obj, "");
  } catch (const EScriptError&) {
    DestroyInstance(obj);
    DestroyClassRecord(cls);
    return;
  }
  // The debugger's step allowance also bounds the runs nested in this one (a process that
  // runs others, each with a budget of its own), which this run's budget alone would not.
  stepAllowance = kSlices * kSliceSteps;
  for (int i = 0; i < kSlices && !IsFinished(process) && stepAllowance > 0; ++i)
    Run(process, kSliceSteps);
  stepAllowance = kDefaultSteps;
  DestroyProcess(process);
  if (obj->refCount > 0) {
    KeptClasses().push_back(cls);
    return;
  }
  DestroyInstance(obj);
  DestroyClassRecord(cls);
}

} // namespace

bool BootKernel(const std::string& sourceDir) {
  static const bool booted = Boot(sourceDir);
  return booted;
}

void FuzzClassSource(const uint8_t* data, size_t size) {
  auto* cls = new TRTTI;
  cls->name = "fuzzclass";
  // Compile errors are caught inside; the system's own errors may come through as they do
  // for `brova --run`. Any other exception is a fault and stops the fuzzer.
  try {
    CompileClass(*cls, std::string(AsText(data, size)), false,
                 TCompileOptions{"classes.lang.Object"});
  } catch (const EScriptError&) {
  }
  DestroyClassRecord(cls);
}

void FuzzMarkup(const uint8_t* data, size_t size) {
  const std::string_view text = AsText(data, size);
  std::unique_ptr<TSGML> element = readElement(text);
  if (element && EveryElementNamed(*element)) {
    std::string once = element->toMarkup();
    std::unique_ptr<TSGML> again = readElement(once);
    Require(again != nullptr);
    Require(again->toMarkup() == once);
  }
  TMarkupCursor cursor{text, 0};
  while (cursor.pos < text.size()) {
    size_t before = cursor.pos;
    try {
      parseTag(cursor);
    } catch (const EScriptError&) {
      break;
    }
    Require(cursor.pos > before);
  }
}

void FuzzClassFile(const uint8_t* data, size_t size) {
  const std::string src = JoinPath("kernel/resource.brovares", KernelFolder());
  static const std::optional<TSourceFingerprint> stamp = SourceFingerprint(src);
  if (!stamp) return;
  TClassFileWriter header;
  header.Int(kClassFileMark);
  header.String(src);
  header.Int(static_cast<int32_t>(stamp->stamp));
  header.Int(static_cast<int32_t>(stamp->nanoseconds));
  header.Int(static_cast<int32_t>(stamp->size));
  std::istringstream in(header.Data() + std::string(AsText(data, size)));

  auto* cls = new TRTTI;
  cls->name = "fuzzfile";
  cls->src = src;
  bool loaded = false;
  try {
    loaded = ReadClassFile(*cls, in);
  } catch (const EScriptError&) {
    loaded = false;
  }
  if (loaded && cls->compiled) {
    RunBounded(cls);
    return;
  }
  ResetClass(cls);
  DestroyClassRecord(cls);
}

void FuzzBase64(const uint8_t* data, size_t size) {
  DecodeBase64(AsText(data, size));
  std::string encoded = EncodeBase64(data, size);
  Require(encoded.size() == (size + 2) / 3 * 4);
  std::vector<uint8_t> decoded = DecodeBase64(encoded);
  Require(decoded == std::vector<uint8_t>(data, data + size));
}

void FuzzSnippet(const uint8_t* data, size_t size) {
  auto* cls = new TRTTI;
  cls->name = "fuzzsnippet";
  int result = 1;
  try {
    result = CompileClass(*cls, std::string(AsText(data, size)), false,
                          TCompileOptions{"classes.lang.Object"});
  } catch (const EScriptError&) {
    result = 1;
  }
  if (result == 0 && cls->compiled) {
    RunBounded(cls);
    return;
  }
  DestroyClassRecord(cls);
}

} // namespace brova::fuzz
