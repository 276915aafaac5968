#include "resources/generator.h"

#include <algorithm>

#include "platform/message_sink.h"
#include "resources/global_value.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "resources/snippet_evaluator.h"
#include "runtime/errors.h"
#include "runtime/rtti.h"
#include "runtime/text_case.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

// "field=literal" split at its first "=".
std::pair<std::string, std::string> SplitLine(const std::string& line) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return {line, std::string()};
  return {line.substr(0, eq), line.substr(eq + 1)};
}

constexpr const char* kSnippetHead = "extends classes.lang.Object;\r\n";

} // namespace

TGenerator::~TGenerator() {
  TGlobalValue* global = name.empty() ? nullptr : GlobalEntry(name, false);
  if (!global || !IsLiveInstanceValue(global->value())) return;
  TfObject* obj = ObjectPtr(global->value());
  TValue* field = FieldSlotByName(obj, "_generator");
  if (field && NativeOf(*field) == this) SetNull(*field);
}

void TGenerator::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  className = element.getAttr("className");
  for (int i = 0; i < element.attrCount(); ++i) {
    const std::string& attr = element.attrName(i);
    // The prefixes are matched with case: "Const_x" is no constructor argument.
    if (attr.starts_with("const_"))
      constArgs.push_back(attr.substr(6) + "=" + element.attrValue(i));
    else if (attr.starts_with("inst_"))
      instFields.push_back(attr.substr(5) + "=" + element.attrValue(i));
  }
}

TRTTI* TGenerator::generatedClass() const {
  return className.empty() ? nullptr : findClass(className);
}

std::vector<std::string> TGenerator::knownFieldLines(const TRTTI& cls) const {
  std::vector<std::string> lines;
  for (const auto& line : instFields) {
    SymbolId sym;
    if (FindSymbol(SplitLine(line).first, sym) && HasField(&cls, sym)) lines.push_back(line);
  }
  return lines;
}

void TGenerator::initPass(TInitContext& ctx) {
  switch (state) {
  case kNewOrDone: construct(); break;
  case kCreated: configure(); break;
  default: break;
  }
  switch (state) {
  case kNewOrDone: ++ctx.done; break;
  case kCreated: ++ctx.pending; break;
  default: ++ctx.failed; break;
  }
}

void TGenerator::construct() {
  state = kClassMissing;
  TRTTI* cls = generatedClass();
  if (!cls) {
    platform::ShowMessage(Translate("Class") + className +
                          Translate(" does not exist. Cannot create."));
    return;
  }
  if (!cls->compiled)
    throw EScriptError(className + Translate(" has not compiled yet. Cannot create Object."));
  state = kFailed;
  std::string arguments;
  if (auto* ctor = dynamic_cast<TNormalFunction*>(ConstructorOf(cls))) {
    for (size_t i = 0; i < ctor->paramNames.size(); ++i) {
      std::string literal = "null";
      for (const auto& line : constArgs) {
        auto [arg, value] = SplitLine(line);
        if (SameTextIgnoringCase(arg, ctor->paramNames[i])) {
          literal = value;
          break;
        }
      }
      if (i > 0) arguments += ",";
      arguments += literal;
    }
  }
  std::string snippet =
      std::string(kSnippetHead) + name + "=new " + className + "(" + arguments + ");\r\n";
  if (EvaluateSnippet(snippet) == 0) state = kCreated;
}

void TGenerator::configure() {
  TRTTI* cls = generatedClass();
  if (!cls) {
    state = kClassMissing;
    return;
  }
  SetGlobalInTree("$_tmp_gen", NativeValue(Handle()));
  std::string snippet = kSnippetHead;
  for (const auto& line : knownFieldLines(*cls)) snippet += name + "." + line + ";\r\n";
  snippet += name + ".setGenerator($_tmp_gen);\r\n";
  snippet += name + ".onGenerate();\r\n";
  state = EvaluateSnippet(snippet) == 0 ? kNewOrDone : kFailed;
}

void TGenerator::save(std::vector<std::string>& lines, const std::string&) {
  EvaluateSnippet("if (" + name + ") " + name + ".onSaveToGen();");
  TAttrList attrs{{"className", className}, {"name", name}};
  if (!src.empty()) attrs.emplace_back("src", RelativePath(src, ResourceBaseDir()));
  for (const auto& line : instFields) {
    auto [field, literal] = SplitLine(line);
    attrs.emplace_back("inst_" + field, literal);
  }
  for (const auto& line : constArgs) {
    auto [arg, literal] = SplitLine(line);
    attrs.emplace_back("const_" + arg, literal);
  }
  lines.push_back(ElementLine("generator", attrs));
}

TGenerator* GeneratorOf(const TValue& v) {
  return dynamic_cast<TGenerator*>(NativeOfKind<TResource>(v));
}

void SetGeneratorAttr(TGenerator* gen, std::string_view field, const std::string& literal) {
  if (!gen) return;
  auto& lines = gen->instFields;
  auto old = std::find_if(lines.begin(), lines.end(), [field](const std::string& line) {
    return SameTextIgnoringCase(std::string_view(line).substr(0, line.find('=')), field);
  });
  if (old != lines.end()) lines.erase(old);
  if (!literal.empty()) lines.push_back(std::string(field) + "=" + literal);
}

void ChangeGeneratorAttr(const TValue& generator, const TValue& field, const TValue& text) {
  TGenerator* gen = GeneratorOf(generator);
  if (!gen) throw EScriptError(Translate("invalid generator at chattr"));
  SetGeneratorAttr(gen, ValueToText(field), ValueToText(text));
}

} // namespace brova
