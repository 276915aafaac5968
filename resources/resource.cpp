#include "resources/resource.h"

#include "platform/message_sink.h"
#include "resources/alias_table.h"
#include "resources/global_value.h"
#include "resources/resource_list.h"
#include "resources/resource_reader.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "resources/snippet_evaluator.h"
#include "runtime/errors.h"
#include "runtime/progress_note.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {

TCollectorHooks& CollectorHooks() {
  static TCollectorHooks hooks;
  return hooks;
}

TResource::TResource() : TNativeObject(kKind) { ClearValue(wrapper()); }

TResource::~TResource() {
  Aliases().Forget(this);
  TValue& w = wrapper();
  if (!IsLiveInstanceValue(w)) return; // forgotten, or its class already freed its block
  try {
    // Without a tree to hold $_1 (the whole tree going away) the script is not told.
    TValue* arg = HasSnippetEvaluator() ? GlobalSlotInTree("$_1") : nullptr;
    if (arg) {
      AssignValue(*arg, w);
      EvaluateSnippet("$_1.onDestroy();");
    }
    if (IsLiveInstanceValue(w)) SetInt(w, 0);
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
  }
}

void TResource::readFrom(const TSGML& element, const std::string& baseDir) {
  name = element.getAttr("name");
  const std::string& s = element.getAttr("src");
  if (!s.empty()) src = ResolveExistingPath(JoinPath(s, baseDir));
}

TValue& TResource::scriptObject() {
  TValue& w = wrapper();
  if (w.kind == vtObject || !HasSnippetEvaluator()) return w;
  TValue* arg = GlobalSlotInTree("$_1");
  TValue* made = GlobalSlotInTree("$_2");
  if (!arg || !made) return w;
  AssignValue(*arg, NativeValue(Handle()));
  if (EvaluateSnippet("$_2=new BuiltInResource($_1);") == 0) AssignValue(w, *made);
  return w;
}

TResource* TResource::resolve(std::string_view path) {
  TResource* at = this;
  for (;;) {
    if (path.empty()) return at;
    size_t dot = path.find('.');
    std::string_view head = path.substr(0, dot);
    TResource* child = at->findChild(head);
    if (dot != std::string_view::npos) {
      if (!child) return nullptr;
      at = child;
      path.remove_prefix(dot + 1);
      continue;
    }
    if (child || at != ResourceRoot()) return child;
    if (TRTTI* cls = Aliases().Get(head)) return cls;
    if (!head.empty() && head[0] == '$') return GlobalEntry(head, true);
    return nullptr;
  }
}

bool TResource::initialize() {
  int previousDone = -1;
  for (;;) {
    TInitContext ctx;
    initPass(ctx);
    if (ctx.failed > 0) {
      std::string text = Translate("Initialization Failed");
      ProgressNote(text);
      throw EScriptError(text);
    }
    if (ctx.pending == 0) return true;
    // Without a new completion another pass cannot help; the guard also bounds the passes.
    if (ctx.done <= previousDone) throw EScriptError(Translate("Recursive Inheritance"));
    previousDone = ctx.done;
  }
}

void TResource::releaseObjects() {
  TValue& w = wrapper();
  if (w.kind == vtObject || w.kind == vtNative) ClearValue(w);
}

void TResource::gcMark() {
  if (auto mark = CollectorHooks().markValue) mark(wrapper());
}

void TResource::listNames(std::vector<std::string>& lines, const std::string& path) {
  lines.push_back(path);
}

std::unique_ptr<TResource> TResource::clone() {
  std::vector<std::string> lines;
  save(lines, "");
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  return parseResource(text);
}

void TResource::rename(std::string newName) {
  name = std::move(newName);
  if (auto* list = dynamic_cast<TResourceList*>(parent)) list->childRenamed();
}

std::string TResource::dottedPath() const {
  std::string path;
  for (const TResource* r = this; r->parent; r = r->parent)
    path = path.empty() ? r->name : r->name + "." + path;
  return path;
}

bool IsLiveInstanceValue(const TValue& v) {
  if (v.kind != vtObject) return false;
  const TfObject* obj = ObjectPtr(v);
  if (obj->refCount <= 0) return false;
  const TRTTI* cls = ClassById(obj->cls);
  if (!cls || !cls->hasPool) return false;
  for (HeapAddr b : cls->pool)
    if (b == v.u) return true;
  return false;
}

std::string ElementLine(std::string_view tag, const TAttrList& attrs, bool selfClosed) {
  std::string line = "<";
  line += tag;
  for (const auto& [n, v] : attrs) {
    line += ' ';
    line += n;
    line += "=\"";
    line += escapeAttr(v);
    line += '"';
  }
  line += selfClosed ? "/>" : ">";
  return line;
}

} // namespace brova
