// Shared pieces of the compiler tests: a scratch program folder holding a tiny kernel
// (classes.lang.Object with natives bound here, classes.lang.String), loaded into a fresh
// resource tree and compiled; classes compiled from text; and a listing of code blocks.
#pragma once
#include "script_world.h"
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/class_compiler.h"
#include "compiler/class_file.h"
#include "compiler/snippet_evaluation.h"
#include "natives/native_binding.h"
#include "natives/script_services.h"
#include "platform/message_sink.h"
#include "process_builder.h"
#include "resources/resource_reader.h"
#include "resources/resource_tree.h"
#include "resources/snippet_evaluator.h"
#include "runtime/code.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/progress_note.h"
#include "runtime/rtti.h"

namespace brova::testing {

namespace fs = std::filesystem;

// What the kernel's natives saw: print's argument texts, className's class names.
inline std::vector<std::string>& Printed() {
  static std::vector<std::string> lines;
  return lines;
}

inline void PrintBody(TValue* result, int32_t argc, int32_t) {
  if (argc >= 1) Printed().push_back(ValueToText(natives::Arg(result, 1)));
}

inline void ClassNameBody(TValue* result, int32_t, int32_t) {
  const TfObject* self = ObjectOf(*result);
  const TRTTI* cls = self ? ClassOf(self) : nullptr;
  Printed().push_back(cls ? cls->name : "?");
}

// Every compile error reported while it lives, with its position.
struct CompileErrorLog {
  struct Entry {
    std::string message, path;
    int position;
  };
  std::vector<Entry> entries;
  CompileErrorLog() {
    SetCompileErrorDisplay([this](const std::string& m, const std::string& p, int at) {
      entries.push_back({m, p, at});
    });
  }
  ~CompileErrorLog() { SetCompileErrorDisplay({}); }
};

// Every progress note made while it lives.
struct NoteLog {
  std::vector<std::string> notes;
  NoteLog() {
    SetProgressNoteSink([this](std::string_view t) { notes.emplace_back(t); });
  }
  ~NoteLog() { SetProgressNoteSink({}); }
  bool Has(std::string_view text) const {
    for (const auto& n : notes)
      if (n == text) return true;
    return false;
  }
};

inline std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteBytes(const fs::path& p, std::string_view bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// Moves a file's modification time by whole seconds (time stamps have a resolution of one).
inline void Touch(const fs::path& p, int seconds = 10) {
  fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(seconds));
}

// Each test gets a program folder with the kernel, a tree made from it and compiled, the
// compiler and the snippet evaluator installed, and leaves none of it behind.
class KernelTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInterpreter();
    savedStringClass_ = StringClass();
    Printed().clear();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    home_ = fs::temp_directory_path() / ("brova_" + std::string(info->test_suite_name()) + "_" +
                                         info->name() + "_" + std::to_string(::getpid()));
    fs::remove_all(home_);
    fs::create_directories(home_);
    fs::copy(fs::path(BROVA_FIXTURES_DIR) / "compiler" / "kernel", home_ / "kernel",
             fs::copy_options::recursive);
    SetProgramFolder(home_.string());
    SetClassCacheFolder((home_ / "Temp").string());
    SetResourceBaseDir(home_.string());
    SetGlobalResolver(GlobalSlotInTree);
    InstallClassCompiler();
    InstallSnippetEvaluator();
    SetResourceRoot(loadResourceFile((home_ / "kernel" / "resource.brovares").string()));
    ResourceRoot()->initialize();
    object_ = findClass("classes.lang.Object");
    BindNative(object_, "print", PrintBody);
    BindNative(object_, "className", ClassNameBody);
    SetStringClass(findClass("classes.lang.String"));
    SetObjectClass(object_);
  }

  void TearDown() override {
    testing::ForgetScriptWorld(savedStringClass_);
    fs::remove_all(home_);
  }

  const fs::path& Home() const { return home_; }
  fs::path Cache() const { return home_ / "Temp"; }

  // A class under usr with its source written to usr/NAME.brova; not compiled yet.
  TRTTI* AddClass(const std::string& name, std::string_view source) {
    fs::path file = home_ / "usr" / (name + ".brova");
    WriteBytes(file, source);
    return static_cast<TRTTI*>(newResourceNode(file.string(), "usr." + name, TNodeKind::Class));
  }

  // A class compiled from text with no source file (never cached); null when it failed.
  TRTTI* Compile(std::string_view source, const std::string& name = "T") {
    auto* cls = static_cast<TRTTI*>(attachResource("usr." + name, std::make_unique<TRTTI>()));
    return CompileClass(*cls, std::string(source), true) == 0 && cls->compiled ? cls : nullptr;
  }

  TRTTI* object_ = nullptr;

private:
  fs::path home_;
  TRTTI* savedStringClass_ = nullptr;
};

// One instruction a line of text, operands after the name: Push shows the kind and value,
// jumps their offset, calls name/argc. With `unfused`, a fused instruction shows as the
// first instruction it was made from, and the words after it as the rest: the code as it
// was generated.
inline std::string Listing(const TCompiledInfo& code, bool unfused = true) {
  const uint32_t* w = code.Words();
  std::string out;
  auto className = [](uint32_t id) {
    TRTTI* cls = ClassById(id);
    return cls ? cls->name : std::string("?");
  };
  auto fnName = [](uint32_t id) {
    TFunction* fn = FunctionById(id);
    return fn ? fn->GetName() : std::string("?");
  };
  for (uint32_t at = 0; at < code.size;) {
    uint32_t op = w[at / 4];
    uint32_t size = InstructionSize(w, at, code.size);
    if (size == 0) return out + "<invalid>";
    if (unfused) {
      switch (op) {
      case Op_PushThis_SMemberValPtr:
      case Op_PushThis_SMemberValPtr_Deref: op = Op_PushThis, size = 4; break;
      case Op_LocalValPtr_Deref: op = Op_LocalValPtr, size = 8; break;
      case Op_ArgValPtr_Deref: op = Op_ArgValPtr, size = 8; break;
      case Op_DMemberValPtr_Deref: op = Op_DMemberValPtr, size = 12; break;
      case Op_Push_Deref: op = Op_Push, size = 12; break;
      default: break;
      }
    }
    std::string text = std::string(OpcodeName(op)).substr(3);
    const uint32_t* o = w + at / 4 + 1;
    auto num = [](uint32_t x) { return std::to_string(static_cast<int32_t>(x)); };
    switch (op) {
    case Op_Push:
    case Op_Push_Deref: {
      TValue v = MakeValue(static_cast<TVType>(o[0]), o[1]);
      if (v.kind == vtInt) text += " int " + ValueToText(v);
      else if (v.kind == vtFloat) text += " float " + ValueToText(v);
      else if (v.kind == vtRef) text += " ref";
      else text += " kind" + std::to_string(v.kind);
      break;
    }
    case Op_PushString:
      text += " \"" + std::string(reinterpret_cast<const char*>(o + 1)) + "\"";
      break;
    case Op_SMemberValPtr:
    case Op_LocalValPtr:
    case Op_ArgValPtr:
    case Op_LocalValPtr_Deref:
    case Op_ArgValPtr_Deref: text += " " + num(o[0]); break;
    case Op_PushThis_SMemberValPtr:
    case Op_PushThis_SMemberValPtr_Deref: text += " " + num(o[1]); break;
    case Op_DMemberValPtr:
    case Op_DMemberValPtr_Deref: text += " " + SymbolName(o[0]); break;
    case Op_DCall: text += " " + SymbolName(o[1]) + "/" + num(o[0]); break;
    case Op_SCall: text += " " + num(o[1]) + "/" + num(o[0]); break;
    case Op_SuperCall:
    case Op_NativeCall: text += " " + fnName(o[1]) + "/" + num(o[0]); break;
    case Op_Constructor: text += " " + className(o[1]) + "/" + num(o[0]); break;
    case Op_Is: text += " " + className(o[0]); break;
    case Op_Jump:
    case Op_JumpZero:
    case Op_Jump_And:
    case Op_Jump_Or:
    case Op_DoForIn: text += " " + num(o[0]); break;
    default: break;
    }
    out += (out.empty() ? "" : "; ") + text;
    at += size;
  }
  return out;
}

inline TNormalFunction* Method(TRTTI* cls, std::string_view name) {
  return dynamic_cast<TNormalFunction*>(MethodByName(cls, name));
}

} // namespace brova::testing
